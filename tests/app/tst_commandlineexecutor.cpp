#include "app/commandlineexecutor.h"
#include "jobs/baseloader.h"

#include <QSignalSpy>
#include <QTest>

#include <algorithm>
#include <functional>

namespace {

QStringList criticalMessages;

QString text(bool value)
{
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

void collectCriticals(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtCriticalMsg)
        criticalMessages.append(message);
}

} // namespace

// Stands in for the main window: records every call with its converted arguments.
class Target : public QObject {
    Q_OBJECT

public:
    QStringList calls;
    std::function<void()> onCall;

public slots:
    void load(const QStringList &paths, float x, float y)
    {
        record(QStringLiteral("load %1 %2 %3").arg(paths.join(QLatin1Char('|'))).arg(x).arg(y));
    }
    void saveQuiet(const QString &path) { record(QStringLiteral("save ") + path); }
    void exportScene(const QString &fileName, int width, int height, bool background, bool borders,
        int quality, const QString &region, int scale)
    {
        record(QStringLiteral("exportScene %1 %2 %3 %4 %5 %6 %7 %8")
                   .arg(fileName)
                   .arg(width)
                   .arg(height)
                   .arg(text(background), text(borders))
                   .arg(quality)
                   .arg(region)
                   .arg(scale));
    }
    void exportAllImages(
        const QString &path, bool cropping, const QString &nameOverride, int quality)
    {
        record(QStringList { QStringLiteral("exportImages"), path, text(cropping), nameOverride,
            QString::number(quality) }
                   .join(QLatin1Char(' ')));
    }
    void hardExit(int exitCode) { record(QStringLiteral("exit %1").arg(exitCode)); }
    void forceClear() { record(QStringLiteral("clear")); }

private:
    void record(const QString &call)
    {
        calls.append(call);
        if (onCall)
            onCall();
    }
};

class tst_CommandLineExecutor : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void preparedCommands_data();
    void preparedCommands();
    void waitsForEveryJobACommandCaused();
    void helpText();

private:
    Target m_target;
    BaseLoader m_images;
    BaseLoader m_scenes;
    BaseLoader m_exporter;
    CommandLineExecutor *m_executor = nullptr;
    QtMessageHandler m_previousHandler = nullptr;
};

void tst_CommandLineExecutor::init()
{
    m_target.calls.clear();
    m_target.onCall = nullptr;
    m_executor = new CommandLineExecutor(this);
    m_executor->registerStandardCommands(&m_target, &m_target, &m_images, &m_scenes, &m_exporter);
    criticalMessages.clear();
    m_previousHandler = qInstallMessageHandler(collectCriticals);
}

void tst_CommandLineExecutor::cleanup()
{
    qInstallMessageHandler(m_previousHandler);
    delete m_executor;
}

void tst_CommandLineExecutor::preparedCommands_data()
{
    QTest::addColumn<QStringList>("commands");
    QTest::addColumn<QStringList>("calls");
    QTest::addColumn<QString>("message");

    QTest::addRow("defaults fill missing arguments")
        << QStringList { "exportScene;out.png" }
        << QStringList { "exportScene out.png -1 -1 true true 100 board -1" } << QString();
    QTest::addRow("part of the board at a scale")
        << QStringList { "exportScene;part.webp;-1;-1;false;false;80;10,20,300,200;50" }
        << QStringList { "exportScene part.webp -1 -1 false false 80 10,20,300,200 50" }
        << QString();
    QTest::addRow("empty fields are dropped, so false lands on the width")
        << QStringList { "exportScene;out.png;;;false" } << QStringList()
        << R"(Failed invoking method "exportScene": Failed to parse argument 'false' Command: "exportScene;out.png;;;false")";
    QTest::addRow("paths split at commas, position converted")
        << QStringList { "load;a.png,b.png;100;50" } << QStringList { "load a.png|b.png 100 50" }
        << QString();
    QTest::addRow("save without a path passes an empty one")
        << QStringList { "save" } << QStringList { "save " } << QString();
    QTest::addRow("unknown name") << QStringList { "foo" } << QStringList()
                                  << R"(No method named "foo" found.)";
    QTest::addRow("too many arguments")
        << QStringList { "exit;1;2" } << QStringList()
        << R"(Failed invoking method "exit" : Too many parameters provided Command: "exit;1;2")";
    QTest::addRow("nothing but separators")
        << QStringList { ";;" } << QStringList()
        << R"(Failed invoking method: malformed command Command: ";;")";
    QTest::addRow("a mistyped switch is refused, not read as true")
        << QStringList { "exportImages;out;ture" } << QStringList()
        << "Failed to parse argument 'ture'";
    QTest::addRow("switches and a name pattern")
        << QStringList { "exportImages;out;FALSE;img_%0;7" }
        << QStringList { "exportImages out false img_%0 7" } << QString();
    QTest::addRow("a failed command does not stop the others, order kept")
        << QStringList { "clearScene", "foo", "exit;3" } << QStringList { "clear", "exit 3" }
        << "No method named";
}

void tst_CommandLineExecutor::preparedCommands()
{
    QFETCH(QStringList, commands);
    QFETCH(QStringList, calls);
    QFETCH(QString, message);

    QSignalSpy finished(m_executor, &CommandLineExecutor::finished);
    QCOMPARE(m_executor->execute(commands), calls.size());
    if (!calls.isEmpty())
        QVERIFY(finished.wait());
    QCOMPARE(m_target.calls, calls);
    if (message.isEmpty()) {
        QCOMPARE(criticalMessages, QStringList());
    } else {
        QCOMPARE(criticalMessages.size(), 1);
        QVERIFY2(criticalMessages.first().contains(message), qPrintable(criticalMessages.first()));
    }
}

void tst_CommandLineExecutor::waitsForEveryJobACommandCaused()
{
    // Loading a scene file: the image job ends, then the scene reader's job it led to.
    int runningJobs = 0;
    m_executor->setIdleCheck([&runningJobs] { return runningJobs == 0; });
    m_target.onCall = [&runningJobs] { ++runningJobs; };
    QSignalSpy finished(m_executor, &CommandLineExecutor::finished);
    m_executor->execute({ QStringLiteral("load;x.vlk"), QStringLiteral("exportScene;x.png"),
        QStringLiteral("clearScene") });
    QTRY_COMPARE(m_target.calls.size(), 1);
    m_target.onCall = nullptr;

    // The image job ends having started the scene job: still one job to wait for.
    m_executor->jobEnded(&m_images, QString(), QString());
    QCoreApplication::processEvents();
    QCOMPARE(m_target.calls.size(), 1);

    // The scene job ends with an error; the commands after it, which start no job, follow.
    --runningJobs;
    m_executor->jobEnded(&m_scenes, QStringLiteral("Failed to read."), QStringLiteral("Details."));
    QTRY_COMPARE(finished.count(), 1);
    QCOMPARE(m_target.calls,
        QStringList(
            { "load x.vlk 0 0", "exportScene x.png -1 -1 true true 100 board -1", "clear" }));
    QCOMPARE(criticalMessages,
        QStringList { "Encountered error while invoking method: load: Failed to read.: Details." });
}

void tst_CommandLineExecutor::helpText()
{
    const QStringList lines = m_executor->helpLines();
    QCOMPARE(lines.mid(0, 3),
        QStringList(
            { "Example command:", "  velkora -c 'exportScene;/tmp/example.png;1000;1000;false;50'",
                "Available commands:    [] = optional argument, () = default value" }));

    // Every description starts at one column and wraps between words within the line lengths.
    const int column = lines.at(3).indexOf(QLatin1String("Loads given files."));
    QVERIFY(lines.at(3).startsWith(QLatin1String("- load ")) && column > 0);
    QString load;
    for (int i = 3; i < lines.size(); ++i) {
        const QString &line = lines.at(i);
        QVERIFY2(line.size() - column <= 67 && line.at(column - 1) == QLatin1Char(' ')
                && line.at(column) != QLatin1Char(' '),
            qPrintable(line));
        if (i == 3 || (load.endsWith(QLatin1Char(' ')) && line.left(column).trimmed().isEmpty()))
            load += line.mid(column) + QLatin1Char(' ');
        else
            load += QLatin1Char('|');
    }
    QVERIFY(load.startsWith(QLatin1String("Loads given files. Additionally, If the files are "
                                          "images, you can provide x and y coordinates for where "
                                          "to place the loaded images. |")));

    for (const char *label : { "     [Paths]", "     [X (0)]", "     [Width (-1)]",
             "     [Canvas background (true)]", "     [Exit code (0)]", "- clearScene" }) {
        const bool found = std::any_of(lines.cbegin(), lines.cend(), [label](const QString &line) {
            return line.startsWith(QLatin1String(label) + QLatin1Char(' '));
        });
        QVERIFY2(found, label);
    }
    QVERIFY(lines.last().startsWith(QLatin1String("- clearScene")));
}

QTEST_GUILESS_MAIN(tst_CommandLineExecutor)
#include "tst_commandlineexecutor.moc"
