#include "ui/autosaverecoverydialog.h"

#include "persistence/autosavefile.h"
#include "platform/localservers.h"
#include "ui/baseframe.h"
#include "ui/confirmdialog.h"
#include "ui/errordialog.h"
#include "ui/uilog.h"

#include <QDateTime>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLocalServer>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace {

constexpr char resolverName[] = "VelkoraStaleAutoSaveResolver";
// A restoring instance that has not claimed its file after this many polls is given up on; the
// row can be restored again.
constexpr int maxPolls = 15;

} // namespace

struct AutoSaveRecoveryDialog::Entry {
    std::unique_ptr<AutoSaveFile> file;
    QString text;
    bool restored = false;
    int polls = 0;
    QTimer timer;
    QPushButton *button = nullptr;
};

AutoSaveRecoveryDialog::AutoSaveRecoveryDialog(QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(tr("Autosave Recovery"));
    setMinimumSize(400, 300);

    m_label = new QLabel(this);
    m_label->setWordWrap(true);
    m_table = new QTableWidget(0, 2, this);
    m_table->horizontalHeader()->hide();
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    m_table->horizontalHeader()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    m_table->setSelectionMode(QAbstractItemView::NoSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);

    auto *buttons = new QDialogButtonBox(this);
    m_discard = buttons->addButton(tr("Discard"), QDialogButtonBox::DestructiveRole);
    QPushButton *later = buttons->addButton(tr("Ask Later"), QDialogButtonBox::RejectRole);
    connect(m_discard, &QPushButton::clicked, this, &AutoSaveRecoveryDialog::discard);
    connect(later, &QPushButton::clicked, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(BaseFrame::frameDialog(this));
    layout->addWidget(m_label);
    layout->addWidget(m_table);
    layout->addWidget(buttons);

    if (becomeResolver())
        findLeftOvers();
    updateTexts();
}

AutoSaveRecoveryDialog::~AutoSaveRecoveryDialog() = default;

bool AutoSaveRecoveryDialog::becomeResolver()
{
    m_resolver = new QLocalServer(this);
    QString why;
    if (!LocalServers::listen(m_resolver, QString::fromLatin1(resolverName), &why)) {
        qCDebug(lcUi, "Failed to start autosave resolve server: %s", qUtf8Printable(why));
        return false;
    }
    return true;
}

void AutoSaveRecoveryDialog::findLeftOvers()
{
    const QDir folder(AutoSaveFile::folder());
    const QFileInfoList files = folder.entryInfoList(
        { QStringLiteral("*.vlk") }, QDir::Files | QDir::NoDotAndDotDot | QDir::Hidden);
    for (const QFileInfo &info : files) {
        auto file = std::make_unique<AutoSaveFile>();
        if (!file->takeOver(info.filePath()))
            continue;
        // Made by an instance that ended before its first autosave was written: nothing to
        // recover, and nothing lost by removing it.
        if (info.size() == 0) {
            QFile::remove(info.filePath());
            continue;
        }
        auto entry = std::make_unique<Entry>();
        entry->file = std::move(file);
        entry->text = displayText(info.filePath(), info.size(), locale());
        addRow(*entry);
        m_entries.push_back(std::move(entry));
    }
}

QString AutoSaveRecoveryDialog::displayText(const QString &path, qint64 size, const QLocale &locale)
{
    const QStringList parts = QFileInfo(path).completeBaseName().split(QLatin1Char('-'));
    QString when;
    if (parts.size() > 2) {
        const QDateTime stamp
            = QDateTime::fromString(parts.at(2), QStringLiteral("ddMMyyyyhhmmss"));
        when = stamp.toString(Qt::ISODate).replace(QLatin1Char('T'), QLatin1Char(' '));
    }
    return when + QStringLiteral(" (%1)").arg(locale.formattedDataSize(size, 2));
}

QString AutoSaveRecoveryDialog::entryText(int row) const
{
    return row >= 0 && row < entryCount() ? m_entries[size_t(row)]->text : QString();
}

void AutoSaveRecoveryDialog::addRow(Entry &entry)
{
    const int row = m_table->rowCount();
    m_table->insertRow(row);
    m_table->setItem(row, 0, new QTableWidgetItem(entry.text));
    entry.button = new QPushButton(tr("Restore"), m_table);
    m_table->setCellWidget(row, 1, entry.button);
    Entry *target = &entry;
    connect(entry.button, &QPushButton::clicked, this, [this, target] {
        for (size_t i = 0; i < m_entries.size(); ++i) {
            if (m_entries[i].get() == target)
                restore(int(i));
        }
    });
    connect(&entry.timer, &QTimer::timeout, this, [this, target] { poll(target); });
}

int AutoSaveRecoveryDialog::exec()
{
    if (m_entries.empty())
        return 0;
    const int result = QDialog::exec();
    return m_restored ? 1 : result == QDialog::Accepted ? 0 : result;
}

void AutoSaveRecoveryDialog::restore(int row)
{
    if (row < 0 || row >= entryCount())
        return;
    Entry *entry = m_entries[size_t(row)].get();
    if (entry->timer.isActive())
        return;
    emit recoverRequested(entry->file->path());
    entry->polls = 0;
    entry->button->setEnabled(false);
    entry->button->setText(tr("Restoring..."));
    entry->timer.start(m_pollInterval);
}

void AutoSaveRecoveryDialog::poll(Entry *entry)
{
    ++entry->polls;
    if (entry->file->ownerAlive()) {
        entry->timer.stop();
        entry->restored = true;
        m_restored = true;
        removeEntry(entry);
        if (m_entries.empty())
            accept();
        updateTexts();
        return;
    }
    if (entry->polls > maxPolls) {
        entry->timer.stop();
        entry->polls = 0;
        entry->button->setEnabled(true);
        entry->button->setText(tr("Restore"));
    }
}

void AutoSaveRecoveryDialog::removeEntry(Entry *entry)
{
    for (size_t i = 0; i < m_entries.size(); ++i) {
        if (m_entries[i].get() == entry) {
            m_table->removeRow(int(i));
            m_entries.erase(m_entries.begin() + qptrdiff(i));
            return;
        }
    }
}

void AutoSaveRecoveryDialog::updateTexts()
{
    const bool one = m_entries.size() == 1;
    m_label->setText(one ? tr("The following file can be recovered from the autosave folder. "
                              "Restore or discard them.")
                         : tr("The following files can be recovered from the autosave folder. "
                              "Restore or discard them."));
    m_discard->setText(one ? tr("Discard") : tr("Discard All"));
}

void AutoSaveRecoveryDialog::discard()
{
    const int answer = ConfirmDialog::ask(this, tr("Discard Autosave Warning"),
        tr("Are you sure you want to discard autosaves left over from previous sessions? You can "
           "not undo this action."),
        { { tr("Discard"), QDialogButtonBox::AcceptRole, QDialogButtonBox::NoButton },
            { QString(), QDialogButtonBox::RejectRole, QDialogButtonBox::Cancel } });
    if (answer == 0)
        accept();
}

void AutoSaveRecoveryDialog::done(int result)
{
    if (result == QDialog::Accepted) {
        QString report;
        for (const std::unique_ptr<Entry> &entry : m_entries) {
            // A restore under way may still claim its file: it is not ours to delete.
            if (entry->restored || entry->timer.isActive())
                continue;
            QFile file(entry->file->path());
            if (file.exists() && !file.remove())
                report += file.errorString() + QLatin1String(": ") + file.fileName()
                    + QLatin1String("<br><br>");
        }
        if (!report.isEmpty())
            ErrorDialog::show(this, tr("Failed to discard stale autosaves."), report);
    }
    QDialog::done(result);
}
