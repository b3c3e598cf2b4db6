#pragma once

#include <QString>

// The board a newcomer sees first: a few pictures drawn here (nothing taken from elsewhere) and
// notes that say what to do, written as a scene file. Needs a QApplication; GUI thread.
class SampleBoard {
public:
    static bool write(const QString &path, QString *error);
};
