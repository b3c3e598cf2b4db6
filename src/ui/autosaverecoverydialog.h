#pragma once

#include <QDialog>
#include <QLocale>

#include <memory>
#include <vector>

class AutoSaveFile;
class QLabel;
class QLocalServer;
class QPushButton;
class QTableWidget;
class QTimer;

// Offers at start-up the autosaves that instances which ended left behind. Restoring one starts
// another instance that takes the file over; this dialog waits until that instance claims the
// file, then removes the row. Only one starting instance at a time looks for left-overs: the one
// that holds the resolver's server name.
//
// exec() returns 0 at once when there is nothing to offer; 1 when an entry was restored (this
// process may end), else 0. Accepting (discarding) deletes the files of the rows still shown,
// except those being restored.
class AutoSaveRecoveryDialog : public QDialog {
    Q_OBJECT

public:
    explicit AutoSaveRecoveryDialog(QWidget *parent = nullptr);
    ~AutoSaveRecoveryDialog() override;

    int exec() override;
    int entryCount() const { return int(m_entries.size()); }
    QString entryText(int row) const;

    // The date and time in the file's name, ISO style, and its size: "2026-12-07 18:50:39 (1.20
    // MB)". The date is empty for a name without one.
    static QString displayText(const QString &path, qint64 size, const QLocale &locale);

    // Ticks of the restore poll and how many are waited for; shorter ticks are for tests.
    void setPollInterval(int milliseconds) { m_pollInterval = milliseconds; }

signals:
    void recoverRequested(const QString &path);

public slots:
    void restore(int row);
    // Asks, then deletes the files still offered.
    void discard();

protected:
    void done(int result) override;

private:
    struct Entry;

    bool becomeResolver();
    void findLeftOvers();
    void addRow(Entry &entry);
    void poll(Entry *entry);
    void removeEntry(Entry *entry);
    void updateTexts();

    QLocalServer *m_resolver = nullptr;
    std::vector<std::unique_ptr<Entry>> m_entries;
    QTableWidget *m_table = nullptr;
    QLabel *m_label = nullptr;
    QPushButton *m_discard = nullptr;
    bool m_restored = false;
    int m_pollInterval = 1000;
};
