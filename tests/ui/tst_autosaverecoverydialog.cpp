#include "persistence/autosavefile.h"
#include "ui/autosaverecoverydialog.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

class tst_AutoSaveRecoveryDialog : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void displayText_data();
    void displayText();
    void offersOnlyLeftOvers();
    void oneResolverAtATime();
    void restoreEndsWhenClaimed();
    void discardSparesAPendingRestore();

private:
    QString leftOver(const QString &name, const QByteArray &content = "board");

    std::unique_ptr<QTemporaryDir> m_dir;
};

void tst_AutoSaveRecoveryDialog::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    AutoSaveFile::setFolderForTesting(m_dir->filePath(QStringLiteral("autosave")));
    QDir().mkpath(AutoSaveFile::folder());
}

void tst_AutoSaveRecoveryDialog::cleanup()
{
    AutoSaveFile::setFolderForTesting(QString());
    m_dir.reset();
}

QString tst_AutoSaveRecoveryDialog::leftOver(const QString &name, const QByteArray &content)
{
    const QString path = QDir(AutoSaveFile::folder()).filePath(name);
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(content);
    return path;
}

void tst_AutoSaveRecoveryDialog::displayText_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::newRow("dated") << "Velkora-AutoSave-07122026185039-a1B2c3.vlk"
                           << "2026-12-07 18:50:39 (1.50 KiB)";
    QTest::newRow("no date part") << "Velkora-AutoSave.vlk"
                                  << " (1.50 KiB)";
    QTest::newRow("date that is none") << "Velkora-AutoSave-yesterday-a1B2c3.vlk"
                                       << " (1.50 KiB)";
}

void tst_AutoSaveRecoveryDialog::displayText()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    QCOMPARE(AutoSaveRecoveryDialog::displayText(name, 1536, QLocale::c()), text);
}

void tst_AutoSaveRecoveryDialog::offersOnlyLeftOvers()
{
    const QString orphan = leftOver(QStringLiteral("Velkora-AutoSave-07122026185039-aaaaaa.vlk"));
    const QString empty
        = leftOver(QStringLiteral("Velkora-AutoSave-07122026185040-bbbbbb.vlk"), {});
    leftOver(QStringLiteral("notes.txt"));
    AutoSaveFile live;
    QVERIFY(live.create());
    QFile::resize(live.path(), 10);

    AutoSaveRecoveryDialog dialog;
    QCOMPARE(dialog.entryCount(), 1);
    QVERIFY(dialog.entryText(0).startsWith(QLatin1String("2026-12-07 18:50:39 (")));
    // One that ended before writing anything held nothing.
    QVERIFY(!QFile::exists(empty));
    QVERIFY(QFile::exists(orphan));
}

void tst_AutoSaveRecoveryDialog::oneResolverAtATime()
{
    leftOver(QStringLiteral("Velkora-AutoSave-07122026185039-aaaaaa.vlk"));
    auto first = std::make_unique<AutoSaveRecoveryDialog>();
    QCOMPARE(first->entryCount(), 1);
    AutoSaveRecoveryDialog second;
    QCOMPARE(second.entryCount(), 0);
    QCOMPARE(second.exec(), 0);
    first.reset();
    QCOMPARE(AutoSaveRecoveryDialog().entryCount(), 1);
}

// The restoring instance claims the file; the dialog then drops the row, closes when none is left
// and tells the caller to end.
void tst_AutoSaveRecoveryDialog::restoreEndsWhenClaimed()
{
    const QString path = leftOver(QStringLiteral("Velkora-AutoSave-07122026185039-aaaaaa.vlk"));
    AutoSaveRecoveryDialog dialog;
    dialog.setPollInterval(10);
    AutoSaveFile restorer;
    connect(&dialog, &AutoSaveRecoveryDialog::recoverRequested, this,
        [&restorer](const QString &requested) {
            QVERIFY(restorer.takeOver(requested));
            restorer.startServer();
        });
    QTimer::singleShot(0, &dialog, [&dialog] { dialog.restore(0); });
    QCOMPARE(dialog.exec(), 1);
    QCOMPARE(dialog.entryCount(), 0);
    QVERIFY(QFile::exists(path));
}

void tst_AutoSaveRecoveryDialog::discardSparesAPendingRestore()
{
    const QString pending = leftOver(QStringLiteral("Velkora-AutoSave-07122026185039-aaaaaa.vlk"));
    const QString other = leftOver(QStringLiteral("Velkora-AutoSave-07122026185041-cccccc.vlk"));
    AutoSaveRecoveryDialog dialog;
    QCOMPARE(dialog.entryCount(), 2);
    QString requested;
    connect(&dialog, &AutoSaveRecoveryDialog::recoverRequested, this,
        [&requested](const QString &path) { requested = path; });
    QTimer::singleShot(0, &dialog, [&dialog] {
        dialog.restore(0);
        dialog.accept();
    });
    QCOMPARE(dialog.exec(), 0);
    QVERIFY(QFile::exists(requested));
    QCOMPARE(QFile::exists(pending) + QFile::exists(other), 1);
}

QTEST_MAIN(tst_AutoSaveRecoveryDialog)
#include "tst_autosaverecoverydialog.moc"
