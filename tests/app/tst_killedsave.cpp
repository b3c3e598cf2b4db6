#include "loading/loadjob.h"
#include "persistence/savefileloader.h"
#include "scene/graphicsitem.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>


// A save killed at any moment never costs the user the board: the file then loads whole, either
// the new board or the old one, or its backup does.
class tst_KilledSave : public QObject
{
    Q_OBJECT

private slots:
    void killedSavesLoseNothing();
    void failedWriteRestoresTheFile();

private:
    // Items of a file that loads without complaint, or -1.
    int loadWhole(const QString &path);
    QTemporaryDir m_dir;
};

int tst_KilledSave::loadWhole(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    SaveFileLoader loader;
    LoadJob job(&loader);
    int mismatches = 0;
    int broken = 0;
    int items = 0;
    QString message;
    connect(&loader, &SaveFileLoader::checksumMissmatchDetected, this, [&mismatches] { ++mismatches; });
    connect(&loader, &SaveFileLoader::brokenItemMetadataDetected, this, [&broken] { ++broken; });
    connect(&loader, &BaseLoader::itemGenerated, this, [&items] { ++items; });
    QSignalSpy finished(&job, &LoadJob::finished);
    loader.load(&file, &job, false);
    if (finished.isEmpty() && !finished.wait(60000))
        return -1;
    message = finished.first().at(0).toString();
    const int count = items;
    return message.isEmpty() && mismatches == 0 && broken == 0 ? count : -1;
}

void tst_KilledSave::killedSavesLoseNothing()
{
    const QString driver = QStringLiteral(VELKORA_SAVE_DRIVER);
    const QString board = m_dir.filePath(QStringLiteral("board.vlk"));
    const QString backup = board + QLatin1String(".old");
    QProcess create;
    create.start(driver, {m_dir.path(), QStringLiteral("create"), board});
    QVERIFY(create.waitForFinished(120000));
    QCOMPARE(create.exitCode(), 0);
    QCOMPARE(loadWhole(board), 30);

    QRandomGenerator random(20261206);
    int killedMidway = 0;
    int restored = 0;
    for (int round = 0; round < 20; ++round) {
        QProcess save;
        save.start(driver, {m_dir.path(), QStringLiteral("resave"), board});
        QVERIFY(save.waitForStarted());
        QByteArray output;
        while (!output.contains("saving") && save.state() != QProcess::NotRunning) {
            save.waitForReadyRead(1000);
            output += save.readAllStandardOutput();
        }
        QTest::qWait(int(random.bounded(400)));
        save.kill();
        save.waitForFinished(30000);
        output += save.readAllStandardOutput();
        if (!output.contains("saved"))
            ++killedMidway;

        const int items = loadWhole(board);
        if (items == 30 || items == 31) {
            QFile::remove(backup);
        } else {
            // The file is broken: the backup must hold the old board whole.
            QVERIFY2(QFile::exists(backup), qPrintable(QStringLiteral("round %1").arg(round)));
            QCOMPARE(loadWhole(backup), 30);
            QFile::remove(board);
            QVERIFY(QFile::rename(backup, board));
            ++restored;
        }
        // Back to the 30 pictures for the next round.
        if (loadWhole(board) == 31) {
            QProcess recreate;
            recreate.start(driver, {m_dir.path(), QStringLiteral("create"), board});
            QVERIFY(recreate.waitForFinished(120000));
        }
    }
    qInfo("%d of 20 saves were killed before they ended, %d left the backup to restore",
          killedMidway, restored);
}

void tst_KilledSave::failedWriteRestoresTheFile()
{
    const QString driver = QStringLiteral(VELKORA_SAVE_DRIVER);
    const QString board = m_dir.filePath(QStringLiteral("full.vlk"));
    QProcess create;
    create.start(driver, {m_dir.path(), QStringLiteral("create"), board});
    QVERIFY(create.waitForFinished(120000));
    QCOMPARE(loadWhole(board), 30);
    const qint64 size = QFileInfo(board).size();

    // A disk that fills up during the save: the process may write files (in 512-byte blocks)
    // only up to a little
    // more than the board's size, so the backup copy fits and the new picture does not.
    QProcess save;
    save.start(QStringLiteral("sh"),
               {QStringLiteral("-c"),
                QStringLiteral("trap '' XFSZ; ulimit -f %1; exec \"$0\" \"$@\"").arg(size / 512 + 4),
                driver, m_dir.path(), QStringLiteral("script"), board});
    QVERIFY(save.waitForFinished(120000));
    QCOMPARE(save.exitCode(), 0);
    QVERIFY2(save.readAllStandardError().contains("Failed to write save file."),
             "the save did not fail");
    QCOMPARE(loadWhole(board), 30);
    QCOMPARE(QFileInfo(board).size(), size);
    QVERIFY(!QFile::exists(board + QLatin1String(".old")));
}

QTEST_MAIN(tst_KilledSave)
#include "tst_killedsave.moc"
