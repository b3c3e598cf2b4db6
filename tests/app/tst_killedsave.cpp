#include "jobs/loadjob.h"
#include "persistence/savefileloader.h"
#include "scene/graphicsitem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

// A save killed at any moment never costs the user the board: the file then loads whole, either
// the new board or the old one, or its backup does. A scripted (quiet) save, which makes no
// backup, never touches the old board before the new one is whole.
class tst_KilledSave : public QObject {
    Q_OBJECT

private slots:
    void killedSavesLoseNothing_data();
    void killedSavesLoseNothing();
    void failedWriteKeepsTheBoard_data();
    void failedWriteKeepsTheBoard();

private:
    // Runs the save driver in mode; with killAfter, kills it delay milliseconds after it has
    // reported writing that many picture blocks. Answers what it printed.
    QByteArray runDriver(
        const QString &mode, const QString &board, int killAfter = 0, int delay = 0);
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
    connect(
        &loader, &SaveFileLoader::checksumMissmatchDetected, this, [&mismatches] { ++mismatches; });
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

QByteArray tst_KilledSave::runDriver(
    const QString &mode, const QString &board, int killAfter, int delay)
{
    QProcess driver;
    driver.start(QStringLiteral(VELKORA_SAVE_DRIVER), { m_dir.path(), mode, board });
    if (!driver.waitForStarted())
        return QByteArray();
    QByteArray output;
    if (killAfter > 0) {
        const QByteArray line = "writing " + QByteArray::number(killAfter) + '\n';
        while (!output.contains(line) && driver.state() != QProcess::NotRunning) {
            driver.waitForReadyRead(1000);
            output += driver.readAllStandardOutput();
        }
        QTest::qWait(delay);
        driver.kill();
    }
    driver.waitForFinished(120000);
    output += driver.readAllStandardOutput();
    if (!output.contains("writing") && !output.contains("saved")) {
        // Said in the failure: how the driver ended and what it logged.
        output += "driver ended with " + QByteArray::number(driver.exitStatus()) + '/'
            + QByteArray::number(driver.exitCode()) + ", error "
            + QByteArray::number(driver.error()) + ":\n"
            + driver.readAllStandardError().right(2000);
    }
    return output;
}

void tst_KilledSave::killedSavesLoseNothing_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addRow("window save, the backup holds the board") << "resave";
    QTest::addRow("quiet save, the board is never touched") << "quiet";
}

void tst_KilledSave::killedSavesLoseNothing()
{
    QFETCH(QString, mode);
    const bool quiet = mode == QLatin1String("quiet");
    const QString board = m_dir.filePath(mode + QLatin1String(".vlk"));
    const QString backup = board + QLatin1String(".old");
    QVERIFY(runDriver(QStringLiteral("create"), board).contains("saved"));
    QCOMPARE(loadWhole(board), 30);

    // Kills land right after a random one of the 31 picture blocks the writer reports: while a
    // file is being written, which is when a kill can hurt. Only such kills are counted.
    QRandomGenerator random(20261206);
    int midWrite = 0;
    // Each round starts the program once or twice; under the sanitizers, with whole allocation
    // stacks, a start takes seconds, and the sanitized run asks for fewer rounds.
    const int rounds = qEnvironmentVariableIntValue("VELKORA_KILLED_SAVE_ROUNDS") > 0
        ? qEnvironmentVariableIntValue("VELKORA_KILLED_SAVE_ROUNDS")
        : 20;
    for (int round = 0; round < rounds; ++round) {
        const QString name = QStringLiteral("round %1").arg(round);
        // A few milliseconds after the report at most: longer waits let most incremental saves,
        // which write one new block, end first, and the count below then depends on the machine.
        const QByteArray output
            = runDriver(mode, board, int(random.bounded(1, 32)), int(random.bounded(10)));
        QVERIFY2(output.contains("writing"), output.constData());

        // A quiet save writes the new board beside the old one; a kill leaves that file behind.
        bool partWritten = false;
        const QStringList besides
            = QDir(m_dir.path()).entryList({ QFileInfo(board).fileName() + ".*" }, QDir::Files);
        for (const QString &file : besides) {
            if (m_dir.filePath(file) == backup)
                continue;
            partWritten = partWritten || QFileInfo(m_dir.filePath(file)).size() > 0;
            QFile::remove(m_dir.filePath(file));
        }
        QVERIFY2(!quiet || !QFile::exists(backup), qPrintable(name));

        int items = loadWhole(board);
        if (!quiet && items != 30 && items != 31) {
            // Killed while the board was being overwritten: the backup holds the old board whole.
            QVERIFY2(QFile::exists(backup), qPrintable(name));
            QCOMPARE(loadWhole(backup), 30);
            QFile::remove(board);
            QVERIFY(QFile::rename(backup, board));
            items = 30;
            ++midWrite;
        } else if (quiet && partWritten && items == 30 && !output.contains("saved")) {
            ++midWrite;
        }
        QVERIFY2(items == 30 || items == 31, qPrintable(name));
        QFile::remove(backup);
        // Back to the 30 pictures for the next round.
        if (items == 31)
            QVERIFY(runDriver(QStringLiteral("create"), board).contains("saved"));
    }
    qInfo("%d of %d saves were killed while a board was being written", midWrite, rounds);
    QVERIFY2(midWrite >= rounds / 2, "too few kills landed while the board was being written");
}

void tst_KilledSave::failedWriteKeepsTheBoard_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addRow("window save, backup restored") << "script";
    QTest::addRow("quiet save, board untouched") << "quiet";
}

void tst_KilledSave::failedWriteKeepsTheBoard()
{
    QFETCH(QString, mode);
    const QString board = m_dir.filePath(QStringLiteral("full.vlk"));
    QVERIFY(runDriver(QStringLiteral("create"), board).contains("saved"));
    QCOMPARE(loadWhole(board), 30);
    const qint64 size = QFileInfo(board).size();

    // A disk that fills up during the save: the process may write files (in 512-byte blocks)
    // only up to a little more than the board's size, so the backup copy fits and the new
    // picture does not.
    QProcess save;
    save.start(QStringLiteral("sh"),
        { QStringLiteral("-c"),
            QStringLiteral("trap '' XFSZ; ulimit -f %1; exec \"$0\" \"$@\"").arg(size / 512 + 4),
            QStringLiteral(VELKORA_SAVE_DRIVER), m_dir.path(), mode, board });
    QVERIFY(save.waitForFinished(120000));
    QCOMPARE(save.exitCode(), 0);
    QVERIFY2(save.readAllStandardError().contains("Failed to write save file."),
        "the save did not fail");
    QCOMPARE(loadWhole(board), 30);
    QCOMPARE(QFileInfo(board).size(), size);
    // Nothing but the board is left beside it.
    QCOMPARE(
        QDir(m_dir.path()).entryList({ "full.vlk*" }, QDir::Files), QStringList { "full.vlk" });
}

QTEST_MAIN(tst_KilledSave)
#include "tst_killedsave.moc"
