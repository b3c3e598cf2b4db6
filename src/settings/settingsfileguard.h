#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The toolkit reads a value stored as "@Variant(...)" or "@DateTime(...)" through its data
// stream, whose list and vector readers reserve whatever count the bytes claim: one damaged or
// hand-edited line made the program abort when it opened its settings, or at its first save,
// which reads every value of the file. The program itself stores only plain kinds that way
// (colours), so before the store opens the file, lines holding any other kind are dropped.
//
// The lines and values are cut and unescaped the way the toolkit's INI reader does, so what is
// checked is what it would read.
namespace SettingsFileGuard {

// The INI text without the lines whose values would be read as a stored kind outside the plain
// ones; the raw key of each dropped line goes to dropped.
QByteArray withoutUnsafeValues(const QByteArray &text, QStringList *dropped);

// Drops those lines from the file at path, under the lock the toolkit takes to write it, and
// returns their keys. The file is rewritten only when there are some.
QStringList repair(const QString &path);

} // namespace SettingsFileGuard
