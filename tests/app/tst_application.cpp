#include "app/application.h"
#include "app/mainwindow.h"
#include "loading/imageloader.h"
#include "loading/loadjob.h"

#include <QFile>
#include <QFileOpenEvent>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <vector>

// Runs against one Application built from a command line of its own (settings and log paths
// with spaces), and against the program itself for what ends the process.
class tst_Application : public QObject
{
    Q_OBJECT

public:
    explicit tst_Application(const QString &directory)
        : m_directory(directory)
    {
    }

private slots:
    void restartArgumentsKeepSpaces();
    void fileOpenRequests();
    void windowFromCommandLine();
    void processExits_data();
    void processExits();

private:
    QProcess *runProgram(const QStringList &arguments);
    QString m_directory;
};

void tst_Application::restartArgumentsKeepSpaces()
{
    QCOMPARE(Application::instance()->restartArguments(),
             QStringList({QStringLiteral("--settings"), m_directory + "/my settings/Board.ini",
                          QStringLiteral("--logfile"), m_directory + "/log file.txt"}));
}

void tst_Application::fileOpenRequests()
{
    Application *application = Application::instance();
    QFileOpenEvent early(QUrl::fromLocalFile(QStringLiteral("/pictures/early.png")));
    QVERIFY(QCoreApplication::sendEvent(application, &early));
    QCOMPARE(application->pendingFileOpenRequests().size(), 1);

    // Waiting requests reach the window as soon as it exists; later ones are loaded at once (the
    // picture does not exist, so its load finishes naming it as not found).
    QStringList notFound;
    application->createMainWindow();
    MainWindow *window = application->mainWindow();
    connect(window->imageLoader(), &BaseLoader::finished, this,
            [&notFound](const QString &, const QString &details) { notFound << details; });
    QVERIFY(application->pendingFileOpenRequests().isEmpty());

    QFileOpenEvent late(QUrl::fromLocalFile(QStringLiteral("/pictures/late.png")));
    QVERIFY(QCoreApplication::sendEvent(application, &late));
    QVERIFY(application->pendingFileOpenRequests().isEmpty());
    QTRY_VERIFY(notFound.contains(QStringLiteral("/pictures/late.png")));
    QTRY_COMPARE(window->runningJobs(), 0);
}

void tst_Application::windowFromCommandLine()
{
    MainWindow *window = Application::instance()->mainWindow();
    QVERIFY(window);
    QVERIFY(window->isVisible());
    QCOMPARE(window->windowTitle(), QStringLiteral("Velkora"));
    QCOMPARE(window->size(), QSize(600, 400));
    QCOMPARE(window->minimumSize(), QSize(50, 50));
    QVERIFY(window->windowFlags() & Qt::FramelessWindowHint);
    QVERIFY(window->isBruteForceNextLoad());

    QFile log(m_directory + "/log file.txt");
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(log.readAll().contains("New Velkora instance started"));
}

QProcess *tst_Application::runProgram(const QStringList &arguments)
{
    auto *process = new QProcess(this);
    process->start(QStringLiteral(VELKORA_BINARY), arguments);
    return process;
}

void tst_Application::processExits_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("output");

    const QString settings = m_directory + "/process settings/";
    QTest::addRow("version") << QStringList{"--version"} << 0 << QByteArray("Velkora 1.11.1");
    QTest::addRow("help") << QStringList{"--help"} << 0
                          << QByteArray("Log all output to this file.");
    QTest::addRow("print into a missing folder")
        << QStringList{"--settings", settings, "-p", m_directory + "/missing/keys.html"} << 1
        << QByteArray("missing/keys.html");
    QTest::addRow("print") << QStringList{"--settings", settings, "-p", m_directory + "/keys.html"}
                           << 0 << QByteArray();
    QTest::addRow("command help") << QStringList{"--settings", settings, "-C"} << 0 << QByteArray();
    QTest::addRow("unknown option") << QStringList{"--no-such-option"} << 1
                                    << QByteArray("no-such-option");
}

void tst_Application::processExits()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, output);

    QProcess *process = runProgram(arguments);
    QVERIFY(process->waitForFinished(60000));
    QCOMPARE(process->exitStatus(), QProcess::NormalExit);
    QCOMPARE(process->exitCode(), exitCode);
    const QByteArray all = process->readAllStandardOutput() + process->readAllStandardError();
    QVERIFY2(all.contains(output), all.constData());
}

int main(int argc, char *argv[])
{
    QTemporaryDir directory;
    if (!directory.isValid())
        return 1;
    const QByteArray settings = (directory.path() + "/my settings/Board.ini").toLocal8Bit();
    const QByteArray logFile = (directory.path() + "/log file.txt").toLocal8Bit();
    const QByteArray recover = (directory.path() + "/broken board.vlk").toLocal8Bit();
    std::vector<char *> arguments{argv[0],
                                  const_cast<char *>("--settings"),
                                  const_cast<char *>(settings.constData()),
                                  const_cast<char *>("--logfile"),
                                  const_cast<char *>(logFile.constData()),
                                  const_cast<char *>("-b"),
                                  const_cast<char *>(recover.constData()),
                                  nullptr};
    int count = int(arguments.size()) - 1;

    Application::prepareProcess(count, arguments.data());
    Application application(count, arguments.data());
    tst_Application test(directory.path());
    return QTest::qExec(&test, argc, argv);
}

#include "tst_application.moc"
