#include "app/application.h"

#include "app/applog.h"
#include "app/commandlineoptions.h"
#include "app/mainwindow.h"
#include "app/messagelog.h"
#include "app/proxyoverridestyle.h"
#include "app/settingslocation.h"
#include "picture/picturecache.h"
#include "picture/qdevilplugin.h"
#include "platform/cachefolder.h"
#include "platform/platform.h"
#include "platform/sessionend.h"
#include "platform/stallwatch.h"
#include "platform/workpools.h"
#include "settings/settings.h"
#include "settings/settingshandler.h"

#include <QFileOpenEvent>
#include <QFont>
#include <QFontDatabase>
#include <QIcon>
#include <QProcess>
#include <QRunnable>
#include <QScreen>
#include <QThreadPool>
#include <QTranslator>

#include <cstdio>
#include <cstdlib>

static void initResources()
{
    // The resources live in a static library: the linker only keeps them when asked for.
    Q_INIT_RESOURCE(velkora);
}

void Application::prepareProcess(int argc, char **argv)
{
    // OPENSSL_CONF is left alone here: pointing it anywhere but the system's configuration
    // breaks TLS for every download.
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(
        Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    Platform::returnFreedLargeBlocks();

    QCoreApplication::setOrganizationName(QStringLiteral("Orlwick Studio"));
    QCoreApplication::setApplicationName(QStringLiteral("Velkora"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VELKORA_VERSION));
    // Docks and task bars find the program's entry, its icon and its progress by this name.
    QGuiApplication::setDesktopFileName(QStringLiteral(VELKORA_APP_ID));

    // Help, version and printing the bindings never open a window: let them work over ssh or in
    // a build job, where no display is available.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        QStringList arguments;
        for (int i = 0; i < argc; ++i)
            arguments.append(QString::fromLocal8Bit(argv[i]));
        QCommandLineParser parser;
        CommandLineOptions::declare(parser);
        if (parser.parse(arguments)
            && (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all"))
                || parser.isSet(QStringLiteral("version"))
                || parser.isSet(CommandLineOptions::CommandHelp)
                || parser.isSet(CommandLineOptions::PrintKeyBindings))) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
        }
    }
}

Application::Application(int &argc, char **argv)
    : QApplication(argc, argv)
{
    initResources();
    QDevilPlugin::registerStatically();

    CommandLineOptions::declare(m_parser);
    m_parser.process(*this);

    const QString settingsOption = m_parser.isSet(CommandLineOptions::SettingsPath)
        ? m_parser.value(CommandLineOptions::SettingsPath)
        : QString();
    const SettingsLocation location
        = SettingsLocation::locate(settingsOption, QCoreApplication::applicationDirPath());
    location.apply();
    m_settingsHandler = std::make_unique<SettingsHandler>(location.baseName);

    if (m_parser.isSet(CommandLineOptions::LogFile))
        MessageLog::openFile(m_parser.value(CommandLineOptions::LogFile));
    MessageLog::install();

    watchScreens();
    // Copies of pictures that killed instances left behind; off the way of the first window.
    QThreadPool::globalInstance()->start(
        QRunnable::create([] { CacheFolder::removeLeftovers(); }), WorkPools::BackgroundPriority);
    qCDebug(lcApp, "Velkora %s on %s, settings in %s", VELKORA_VERSION,
        qUtf8Printable(Platform::windowSystemName()),
        qUtf8Printable(m_settingsHandler->store()->fileName()));
}

Application::~Application()
{
    delete m_mainWindow;
    // Picture work still running on the shared pool goes before the toolkit does: its
    // destruction waits for the pool only once much of it has gone.
    QThreadPool::globalInstance()->clear();
    QThreadPool::globalInstance()->waitForDone();
    PictureCache::closeShared();
    MessageLog::uninstall();
    MessageLog::closeFile();
    m_settingsHandler.reset();
}

Application *Application::instance()
{
    return qobject_cast<Application *>(QCoreApplication::instance());
}

MainWindow *Application::mainWindow() const
{
    return m_mainWindow;
}

void Application::watchScreens()
{
    // Windows laid out against a screen's available area must redraw when a panel appears or
    // goes away.
    const QList<QScreen *> screens = QGuiApplication::screens();
    for (QScreen *screen : screens) {
        connect(screen, &QScreen::availableGeometryChanged, this, [] {
            const QList<QWidget *> windows = QApplication::topLevelWidgets();
            for (QWidget *window : windows)
                window->update();
        });
    }
}

void Application::installInterfaceResources()
{
    const int medium
        = QFontDatabase::addApplicationFont(QStringLiteral(":/fonts/Raleway-Medium.ttf"));
    const int bold = QFontDatabase::addApplicationFont(QStringLiteral(":/fonts/Raleway-Bold.ttf"));
    if (medium < 0 || bold < 0)
        qCWarning(lcApp, "The Raleway fonts are missing from this build; using the default font.");
    QFont font(QStringLiteral("Raleway"), 9);
    font.setKerning(false);
    QApplication::setFont(font);

    QApplication::setStyle(new ProxyOverrideStyle);
    // The desktop's own file, colour and font dialogs take neither the colour scheme nor its
    // font; the toolkit's do.
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    // The installed theme's icon, or the drawing it was made from where none is installed.
    QApplication::setWindowIcon(
        QIcon::fromTheme(QStringLiteral(VELKORA_APP_ID), QIcon(QStringLiteral(":/velkora.svg"))));

    auto *translator = new QTranslator(this);
    if (translator->load(QStringLiteral(":/translations/english.qm")))
        QCoreApplication::installTranslator(translator);
    else
        qCWarning(lcApp, "Could not load the English translation.");
}

void Application::createMainWindow()
{
    Q_ASSERT(!m_mainWindowCreated);
    m_mainWindow = new MainWindow;
    m_mainWindowCreated = true;
    // The window deletes itself when closed; that ends the application.
    connect(m_mainWindow, &QObject::destroyed, this, &QCoreApplication::quit);
    StallWatch::startFromEnvironment(this);
    auto *sessionEnd = new SessionEnd(this);
    connect(sessionEnd, &SessionEnd::requested, m_mainWindow, &MainWindow::endSession);
    if (!m_pendingFileOpenRequests.isEmpty()) {
        m_mainWindow->handleOpenFileRequest(m_pendingFileOpenRequests);
        m_pendingFileOpenRequests.clear();
    }
    QGuiApplication::setQuitOnLastWindowClosed(false);
}

QStringList Application::restartArguments() const
{
    QStringList arguments { QStringLiteral("--settings"), m_settingsHandler->store()->fileName() };
    const QString logFile = MessageLog::filePath();
    if (!logFile.isEmpty())
        arguments << QStringLiteral("--logfile") << logFile;
    return arguments;
}

void Application::startInstance(const QStringList &arguments)
{
    // The other instance uses this one's settings and log.
    QStringList all;
    if (Application *application = instance())
        all = application->restartArguments();
    all << arguments;
    if (!QProcess::startDetached(QCoreApplication::applicationFilePath(), all))
        qCWarning(lcApp, "Could not start an instance for %s", qUtf8Printable(arguments.last()));
}

void Application::endProcess(int exitCode, Ending ending)
{
    // exit() skips destructors: write what the settings upgrade changed before leaving.
    if (SettingsHandler *handler = SettingsHandler::instance())
        handler->sync();
    if (Application *application = instance()) {
        if (auto *watch = application->findChild<StallWatch *>())
            watch->stop();
    }
    std::fflush(stdout);
    std::fflush(stderr);
    if (ending == Ending::Abrupt) {
        MessageLog::closeFile();
        std::_Exit(exitCode);
    }
    // exit() destroys the toolkit's globals, its image readers among them, while threads of the
    // shared pool may still be decoding an animation's next frame or a picture's level through
    // them. Nothing new starts meanwhile: this thread handles no more events. Queued work is
    // dropped, running work is waited for.
    QThreadPool::globalInstance()->clear();
    QThreadPool::globalInstance()->waitForDone();
    std::exit(exitCode);
}

bool Application::event(QEvent *event)
{
    if (event->type() != QEvent::FileOpen)
        return QApplication::event(event);

    const QUrl url = static_cast<QFileOpenEvent *>(event)->url();
    if (m_mainWindowCreated && m_mainWindow)
        m_mainWindow->handleOpenFileRequest({ url });
    else
        m_pendingFileOpenRequests.append(url);
    return true;
}
