#include "app/commandlineoptions.h"
#include "app/messagelog.h"
#include "app/settingslocation.h"
#include "settings/settings.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <cstdio>
#include <memory>

class tst_Startup : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();

    void settingsLocation_data();
    void settingsLocation();
    void settingsNextToExecutable();

    void helpText_data();
    void helpText();
    void restoreIsHidden();

    void logLineFormat();
    void messageHandler();
    void messageHandlerKeepsLinesWholeAcrossThreads();
    void unopenableLogFileWarnsOnce();

private:
    static QByteArray readAll(FILE *file);
    QTemporaryDir m_dir;
};

void tst_Startup::initTestCase()
{
    QVERIFY(m_dir.isValid());
}

QByteArray tst_Startup::readAll(FILE *file)
{
    std::fflush(file);
    std::rewind(file);
    QByteArray data;
    char buffer[4096];
    size_t read = 0;
    while ((read = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        data.append(buffer, int(read));
    return data;
}

void tst_Startup::settingsLocation_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<QString>("expectedFile");

    const QString dir = m_dir.path();
    QTest::addRow("file with .ini") << dir + "/sub/mine.ini" << dir + "/sub/mine.ini";
    QTest::addRow("same path without .ini") << dir + "/sub/mine" << dir + "/sub/mine.ini";
    QTest::addRow("folder only") << dir + "/folder/" << dir + "/folder/Velkora.ini";
    QTest::addRow("other suffix is kept") << dir + "/sub/mine.conf" << dir + "/sub/mine.conf.ini";
    QTest::addRow("path with spaces")
        << dir + "/my settings/a b.ini" << dir + "/my settings/a b.ini";
}

void tst_Startup::settingsLocation()
{
    QFETCH(QString, option);
    QFETCH(QString, expectedFile);

    const SettingsLocation location = SettingsLocation::locate(option, QStringLiteral("/nowhere"));
    location.apply();
    Settings store(location.baseName);
    QCOMPARE(store.fileName(), expectedFile);

    store.setValue(QStringLiteral("Probe"), 1);
    store.sync();
    QVERIFY(QFile::exists(expectedFile));
}

void tst_Startup::settingsNextToExecutable()
{
    const QString applicationDir = m_dir.filePath(QStringLiteral("portable"));
    QVERIFY(QDir().mkpath(applicationDir));

    SettingsLocation location = SettingsLocation::locate(QString(), applicationDir);
    QCOMPARE(location.baseName, QStringLiteral("Velkora"));
    QVERIFY(location.iniDirectory.isEmpty()); // the per-user location

    QFile portable(applicationDir + QLatin1String("/Velkora.ini"));
    QVERIFY(portable.open(QIODevice::WriteOnly));
    portable.close();
    location = SettingsLocation::locate(QString(), applicationDir);
    QCOMPARE(location.iniDirectory, applicationDir);

    QVERIFY(portable.remove());
    location = SettingsLocation::locate(QString(), applicationDir);
    QVERIFY(location.iniDirectory.isEmpty());
}

void tst_Startup::helpText_data()
{
    QTest::addColumn<QString>("line");

    // Options, value names and descriptions are what users and scripts read: byte for byte.
    QTest::addRow("update") << "-u, --update <Target path>";
    QTest::addRow("settings") << "-s, --settings <.ini path>";
    QTest::addRow("logfile") << "-l, --logfile <Target path>";
    QTest::addRow("brute-force") << "-b, --brute-force <.vlk path>";
    QTest::addRow("print-keybindings") << "-p, --print-keybindings <.html path>";
    QTest::addRow("command") << "-c, --command <commandName;arg1;arg2>";
    QTest::addRow("command-help") << "-C, --command-help";
    QTest::addRow("description") << "Velkora - Simple and lightweight reference image viewer.";
    QTest::addRow("update text") << "Force start updating if a new version exists.";
    QTest::addRow("settings text") << "Force location of the settings file.";
    QTest::addRow("logfile text") << "Log all output to this file.";
    QTest::addRow("brute-force text")
        << "Brute force load .vlk file without any metadata. This can be used to recover images "
           "from a partially corrupt .vlk file.";
    QTest::addRow("print text") << "Print all current keybindings to an HTML document.";
    QTest::addRow("command text")
        << "Run a named command. Use --command-help to view available commands.";
    QTest::addRow("command-help text") << "Displays information on available commands.";
    QTest::addRow("files") << "Files to load on startup.";
}

void tst_Startup::helpText()
{
    QFETCH(QString, line);
    QCommandLineParser parser;
    CommandLineOptions::declare(parser);
    // The toolkit wraps long descriptions; compare with the wrapping undone.
    QString help = parser.helpText();
    help.replace(QRegularExpression(QStringLiteral("\\s+")), QStringLiteral(" "));
    QVERIFY2(help.contains(line), qPrintable(help));
}

void tst_Startup::restoreIsHidden()
{
    QCommandLineParser parser;
    CommandLineOptions::declare(parser);
    QVERIFY(!parser.helpText().contains(QLatin1String("restore")));
    // Hidden, yet accepted.
    QVERIFY(parser.parse(
        { QStringLiteral("velkora"), QStringLiteral("--restore"), QStringLiteral("/tmp/a.vlk") }));
    QCOMPARE(parser.value(CommandLineOptions::Restore), QStringLiteral("/tmp/a.vlk"));
    // The command option may be repeated; every value is kept in order.
    QVERIFY(parser.parse({ QStringLiteral("velkora"), QStringLiteral("-c"),
        QStringLiteral("save;a"), QStringLiteral("--command"), QStringLiteral("exit") }));
    QCOMPARE(parser.values(CommandLineOptions::Command),
        QStringList({ QStringLiteral("save;a"), QStringLiteral("exit") }));
}

void tst_Startup::logLineFormat()
{
    const QDateTime time(QDate(2026, 12, 6), QTime(9, 5, 7, 45));
    QCOMPARE(MessageLog::fileLine(time, QStringLiteral("raw: %text")),
        QStringLiteral("2026-12-06T09:05:07.045: raw: %text\n"));
    QVERIFY(MessageLog::header(time).startsWith(
        QLatin1String("\n-------------------------- New Velkora instance started ")));
    QVERIFY(MessageLog::header(time).endsWith(QLatin1String(" --------------------------\n")));
}

void tst_Startup::messageHandler()
{
    std::unique_ptr<FILE, int (*)(FILE *)> out(std::tmpfile(), &std::fclose);
    std::unique_ptr<FILE, int (*)(FILE *)> err(std::tmpfile(), &std::fclose);
    const QString logPath = m_dir.filePath(QStringLiteral("messages.log"));

    qSetMessagePattern(QStringLiteral("[%{type}] %{message}"));
    MessageLog::setConsole(out.get(), err.get());
    QVERIFY(MessageLog::openFile(logPath));
    QCOMPARE(MessageLog::filePath(), logPath);
    MessageLog::install();
    qInfo("info %d", 1);
    qDebug("debug");
    qWarning("warning");
    qCritical("critical");
    MessageLog::uninstall();
    MessageLog::closeFile();
    MessageLog::setConsole(stdout, stderr);
    qSetMessagePattern(QStringLiteral("%{if-category}%{category}: %{endif}%{message}"));

    // The console shows the formatted message: debug and info on standard output, the rest
    // on standard error.
    QCOMPARE(readAll(out.get()), QByteArray("[info] info 1\n[debug] debug\n"));
    QCOMPARE(readAll(err.get()), QByteArray("[warning] warning\n[critical] critical\n"));

    // The log gets the raw text after the time.
    QFile log(logPath);
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 7); // empty line, header, four messages, final newline
    QVERIFY(lines.at(0).isEmpty());
    QVERIFY(lines.at(1).startsWith(QLatin1String("-------------------------- New Velkora")));
    const QRegularExpression line(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}: (.*)$"));
    const QStringList expected { QStringLiteral("info 1"), QStringLiteral("debug"),
        QStringLiteral("warning"), QStringLiteral("critical") };
    for (int i = 0; i < expected.size(); ++i) {
        const QRegularExpressionMatch match = line.match(lines.at(i + 2));
        QVERIFY2(match.hasMatch(), qPrintable(lines.at(i + 2)));
        QCOMPARE(match.captured(1), expected.at(i));
    }
}

void tst_Startup::messageHandlerKeepsLinesWholeAcrossThreads()
{
    std::unique_ptr<FILE, int (*)(FILE *)> out(std::tmpfile(), &std::fclose);
    const QString logPath = m_dir.filePath(QStringLiteral("threads.log"));
    MessageLog::setConsole(out.get(), out.get());
    QVERIFY(MessageLog::openFile(logPath));
    MessageLog::install();

    constexpr int threads = 4;
    constexpr int messages = 300;
    std::vector<std::unique_ptr<QThread>> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back(QThread::create([t] {
            for (int i = 0; i < messages; ++i)
                qInfo("thread %d message %d with some length to interleave", t, i);
        }));
        workers.back()->start();
    }
    for (auto &worker : workers)
        QVERIFY(worker->wait(60000));
    MessageLog::uninstall();
    MessageLog::closeFile();
    MessageLog::setConsole(stdout, stderr);

    QFile log(logPath);
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QStringList lines
        = QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), threads * messages + 1);
    const QRegularExpression whole(
        QStringLiteral("^\\S+: thread \\d message \\d+ with some length to interleave$"));
    for (int i = 1; i < lines.size(); ++i)
        QVERIFY2(whole.match(lines.at(i)).hasMatch(), qPrintable(lines.at(i)));

    const QList<QByteArray> consoleLines = readAll(out.get()).split('\n');
    QCOMPARE(consoleLines.size(), threads * messages + 1);
}

void tst_Startup::unopenableLogFileWarnsOnce()
{
    std::unique_ptr<FILE, int (*)(FILE *)> err(std::tmpfile(), &std::fclose);
    MessageLog::setConsole(stdout, err.get());
    QVERIFY(!MessageLog::openFile(m_dir.filePath(QStringLiteral("missing/dir/log.txt"))));
    MessageLog::setConsole(stdout, stderr);
    QVERIFY(MessageLog::filePath().isEmpty());
    const QByteArray warning = readAll(err.get());
    QCOMPARE(warning.count('\n'), 1);
    QVERIFY(warning.contains("missing/dir/log.txt"));
}

QTEST_GUILESS_MAIN(tst_Startup)
#include "tst_startup.moc"
