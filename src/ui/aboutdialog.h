#pragma once

#include <QDialog>

class QLabel;

// Who made what the program shows: its version, the licences of the fonts and icons it carries,
// and where it keeps its settings and its log, for a user who wants to back them up or read them.
// It also tells how much of the picture memory limit decoded pictures take, as of its showing.
class AboutDialog : public QDialog {
    Q_OBJECT

public:
    AboutDialog(const QString &settingsPath, const QString &logPath, QWidget *parent = nullptr);

    // The dialog's text as rich text; the font's licence is quoted whole when it was built in.
    static QString text(const QString &settingsPath, const QString &logPath);
    // The picture memory line, both amounts in bytes and shown in whole MB.
    static QString pictureMemoryText(qint64 bytesInUse, qint64 limit);

protected:
    void showEvent(QShowEvent *event) override;

private:
    QLabel *m_pictureMemory;
};
