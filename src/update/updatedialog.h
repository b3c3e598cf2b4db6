#pragma once

#include <QDialog>

class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTextBrowser;

// The updater's window: a status line, the version record's message, the changelog, a progress
// bar, a details box that appears when there is something to tell, and one action button whose
// text and state the updater sets. Closing the window (the button, Escape, the window's close)
// only asks: closeRequested() goes to the updater, which decides. GUI thread only.
class UpdateDialog : public QDialog {
    Q_OBJECT

public:
    explicit UpdateDialog(QWidget *parent = nullptr);

    void setStatus(const QString &text);
    QString status() const;
    void setMessage(const QString &text);
    QString message() const;
    void setChangelog(const QString &richText);
    QString changelog() const;
    // Appends to the details box and shows it.
    void appendDetails(const QString &text);
    QString details() const;
    void setProgress(int value, int maximum);
    // A moving bar for work of unknown length.
    void setBusy();
    void setAction(const QString &text, bool enabled);
    QPushButton *actionButton() const { return m_action; }
    QProgressBar *progressBar() const { return m_progress; }

signals:
    void closeRequested();
    void actionTriggered();

public slots:
    void reject() override;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    QLabel *m_status;
    QLabel *m_message;
    QTextBrowser *m_changelog;
    QProgressBar *m_progress;
    QPlainTextEdit *m_details;
    QPushButton *m_action;
};
