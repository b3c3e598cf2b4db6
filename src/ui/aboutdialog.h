#pragma once

#include <QDialog>

// Who made what the program shows: its version, the licences of the fonts and icons it carries,
// and where it keeps its settings and its log, for a user who wants to back them up or read them.
class AboutDialog : public QDialog {
    Q_OBJECT

public:
    AboutDialog(const QString &settingsPath, const QString &logPath, QWidget *parent = nullptr);

    // The dialog's text as rich text; the font's licence is quoted whole when it was built in.
    static QString text(const QString &settingsPath, const QString &logPath);
};
