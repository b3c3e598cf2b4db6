#include "app/application.h"
#include "app/mainwindow.h"
#include "jobs/loadjob.h"
#include "loading/imageloader.h"
#include "scene/graphicsscene.h"
#include "ui/mainframe.h"

#include <QFile>
#include <QFileOpenEvent>
#include <QProcess>
#include <QScreen>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <vector>

// Runs against one Application built from a command line of its own (settings and log paths
// with spaces), and against the program itself for what ends the process.
class tst_Application : public QObject {
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
        QStringList({ QStringLiteral("--settings"), m_directory + "/my settings/Board.ini",
            QStringLiteral("--logfile"), m_directory + "/log file.txt" }));
}

void tst_Application::fileOpenRequests()
{
    Application *application = Application::instance();
    QStringList pictures;
    for (const QString &name : { QStringLiteral("early.png"), QStringLiteral("late.png") }) {
        QImage picture(8, 6, QImage::Format_RGB32);
        picture.fill(Qt::blue);
        pictures << m_directory + QLatin1Char('/') + name;
        QVERIFY(picture.save(pictures.last()));
    }

    QFileOpenEvent early(QUrl::fromLocalFile(pictures.at(0)));
    QVERIFY(QCoreApplication::sendEvent(application, &early));
    QCOMPARE(application->pendingFileOpenRequests().size(), 1);

    // Waiting requests reach the window as soon as it exists; later ones are loaded at once.
    application->createMainWindow();
    MainWindow *window = application->mainWindow();
    QVERIFY(application->pendingFileOpenRequests().isEmpty());
    QTRY_VERIFY(window->isIdle());
    QCOMPARE(window->scene()->addedItems().size(), 1);

    QFileOpenEvent late(QUrl::fromLocalFile(pictures.at(1)));
    QVERIFY(QCoreApplication::sendEvent(application, &late));
    QVERIFY(application->pendingFileOpenRequests().isEmpty());
    QTRY_VERIFY(window->isIdle());
    QCOMPARE(window->scene()->addedItems().size(), 2);
}

void tst_Application::windowFromCommandLine()
{
    MainWindow *window = Application::instance()->mainWindow();
    QVERIFY(window);
    QVERIFY(window->isVisible());
    QCOMPARE(window->windowTitle(), QStringLiteral("Velkora"));
    // A first start: centred at two thirds of the screen.
    QCOMPARE(window->geometry(),
        MainFrame::defaultGeometry(QGuiApplication::primaryScreen()->availableGeometry()));
    QCOMPARE(window->minimumSize(), QSize(50, 50));
    QVERIFY(window->windowFlags() & Qt::FramelessWindowHint);

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
    QTest::addRow("version") << QStringList { "--version" } << 0 << QByteArray("Velkora 1.11.1");
    QTest::addRow("help") << QStringList { "--help" } << 0
                          << QByteArray("Log all output to this file.");
    QTest::addRow("print into a missing folder") << QStringList { "--settings", settings, "-p",
        m_directory + "/missing/keys.html" } << 1 << QByteArray("missing/keys.html");
    QTest::addRow("print") << QStringList { "--settings", settings, "-p",
        m_directory + "/keys.html" }
                           << 0 << QByteArray();
    QTest::addRow("command help") << QStringList { "--settings", settings, "-C" } << 0
                                  << QByteArray();
    QTest::addRow("unknown option")
        << QStringList { "--no-such-option" } << 1 << QByteArray("no-such-option");
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
    // A new user's questions would wait for an answer no test gives.
    QSettings(QString::fromLocal8Bit(settings), QSettings::IniFormat)
        .setValue(QStringLiteral("General_Settings/FirstTimeSetup"), true);
    std::vector<char *> arguments { argv[0], const_cast<char *>("--settings"),
        const_cast<char *>(settings.constData()), const_cast<char *>("--logfile"),
        const_cast<char *>(logFile.constData()), nullptr };
    int count = int(arguments.size()) - 1;

    Application::prepareProcess(count, arguments.data());
    Application application(count, arguments.data());
    tst_Application test(directory.path());
    return QTest::qExec(&test, argc, argv);
}

#include "tst_application.moc"
