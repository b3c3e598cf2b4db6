#pragma once

#include <QDialog>
#include <QList>
#include <QString>
#include <QVector>

class ProgressEntry;
class QLabel;
class QProgressBar;
class QSpacerItem;
class QTimer;
class QVBoxLayout;
class TaskbarProgress;

// The small window that shows running load jobs: one entry each, in the order they were added,
// with the operation's text (optionally followed by animated dots) above a progress bar. The
// combined progress of all entries goes to the window's taskbar entry. While the dialog is shown
// the triggered actions are blocked, so a key cannot start a second load into a scene that is
// still being filled. Escape or closing cancels every job; a NotClosable dialog then stays until
// its owner removes it as the jobs end. GUI thread only.
class ProgressDialog : public QDialog {
    Q_OBJECT

public:
    enum Flag {
        NotModal = 1,
        DoNotShow = 2, // shown later by its owner
        NotClosable = 4,
    };

    ProgressDialog(const QString &title, int flags, QWidget *parent = nullptr);

    // The dialog owns the entry; its value starts at minimum.
    ProgressEntry *addEntry(const QString &text, int minimum, int maximum);
    // Deletes the entry with its line; the dialog's size follows.
    void removeEntry(ProgressEntry *entry);
    QList<ProgressEntry *> entries() const;

    // The combined progress: 0 .. the sum of the entries' spans.
    int taskbarValue() const;
    int taskbarMaximum() const;

    // The widgets of an entry's line; null for an entry of another dialog.
    QLabel *infoLabel(const ProgressEntry *entry) const;
    QProgressBar *progressBar(const ProgressEntry *entry) const;

public slots:
    // Escape and every other way of rejecting the dialog go through closeEvent, which cancels.
    void reject() override;
    // One step of the entry's dots: shows the current count of them, then counts on, wrapping
    // after the entry's number of dots. Its timer calls it once a second.
    void advanceDots(ProgressEntry *entry);

protected:
    bool event(QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    struct Line {
        ProgressEntry *entry = nullptr;
        QWidget *box = nullptr; // holds the line's widgets and its timer
        QSpacerItem *spacer = nullptr;
        QLabel *label = nullptr;
        QProgressBar *bar = nullptr;
        QTimer *dotTimer = nullptr;
        int dotCount = 0;
    };

    Line *lineOf(const ProgressEntry *entry);
    const Line *lineOf(const ProgressEntry *entry) const;
    void showInfoText(ProgressEntry *entry);
    void centreLabels();
    void updateTaskbar();

    int m_flags;
    QWidget *m_body;
    QVBoxLayout *m_layout;
    TaskbarProgress *m_taskbar;
    QVector<Line> m_lines;
};
