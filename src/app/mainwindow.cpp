#include "app/mainwindow.h"

#include "app/application.h"
#include "app/commandlineoptions.h"
#include "app/logcategories.h"
#include "input/keybinder.h"
#include "settings/generalsettings.h"
#include "settings/setting.h"
#include "settings/settingshandler.h"
#include "settings/settingsupgrade.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QTextStream>
#include <QThread>
#include <QThreadPool>

#include <cstdio>
#include <cstdlib>

MainWindow::MainWindow(QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint)
{
    setAttribute(Qt::WA_DeleteOnClose);
    // The GUI thread keeps one core for itself while the pool decodes and derives images.
    QThreadPool::globalInstance()->setMaxThreadCount(qMax(1, QThread::idealThreadCount() - 1));

    setObjectName(QStringLiteral("mainWindow"));
    setWindowTitle(QStringLiteral("Velkora"));
    setMinimumSize(50, 50);
    resize(600, 400);
    setAcceptDrops(true);
    buildSettings();

    Application *application = Application::instance();
    const bool show = application ? evaluateCommandLine(application->parser()) : true;
    if (show)
        this->show();
}

MainWindow::~MainWindow()
{
    QCoreApplication::quit();
}

void MainWindow::buildSettings()
{
    m_settings = new GeneralSettings(this);
    // The actions concerned may not exist yet; the binder applies the choice when they do.
    SettingsUpgrade::run(*m_settings, [](int scrollFunctionality) {
        KeyBinder::instance()->upgradeScrollFunctionality(scrollFunctionality);
    });
}

bool MainWindow::evaluateCommandLine(const QCommandLineParser &parser)
{
    using namespace CommandLineOptions;

    if (parser.isSet(PrintKeyBindings)) {
        const QString path = parser.value(PrintKeyBindings);
        QFile file(path);
        if (!file.open(QIODevice::ReadWrite | QIODevice::Truncate | QIODevice::Text)) {
            qCCritical(lcApp, "Could not open %s to print the key bindings: %s",
                       qUtf8Printable(path), qUtf8Printable(file.errorString()));
            endProcess(1);
        }
        QTextStream stream(&file);
        stream.setCodec("UTF-8");
        stream << KeyBinder::instance()->toHtml();
        stream.flush();
        file.close();
        endProcess(0);
    }

    if (parser.isSet(CommandHelp)) {
        qCInfo(lcApp, "Named commands are not built yet: there is no command help.");
        endProcess(0);
    }

    if (parser.isSet(Command)) {
        m_commandLineMode = true;
        qCInfo(lcApp, "Named commands are not built yet; not running: %s",
               qUtf8Printable(parser.values(Command).join(QLatin1String(" | "))));
        return true;
    }

    QList<QUrl> files;
    const QStringList positional = parser.positionalArguments();
    for (const QString &path : positional)
        files.append(QUrl::fromLocalFile(path));

    if (parser.isSet(Update)) {
        m_updateTarget = parser.value(Update);
        // Without an updater a hidden window would leave an invisible process behind.
        qCInfo(lcApp, "The updater is not built yet; showing the window instead of updating to %s.",
               qUtf8Printable(m_updateTarget));
        return true;
    }

    if (parser.isSet(BruteForce)) {
        m_bruteForceNextLoad = true;
        loadAtStartup({QUrl::fromLocalFile(parser.value(BruteForce))});
    } else if (parser.isSet(Restore)) {
        qCInfo(lcApp, "Autosave recovery is not built yet; not restoring %s.",
               qUtf8Printable(parser.value(Restore)));
    } else {
        qCInfo(lcApp, "Autosave recovery is not built yet; no autosaves are offered.");
        if (!files.isEmpty())
            loadAtStartup(files);
        else if (m_settings->boolValue(QStringLiteral("AutoLoad")))
            qCInfo(lcApp, "Recent files are not built yet; nothing to load automatically.");
    }

    if (m_settings->boolValue(QStringLiteral("CheckForUpdates")))
        qCInfo(lcApp, "The update check is not built yet.");
    return true;
}

void MainWindow::loadAtStartup(const QList<QUrl> &urls)
{
    handleOpenFileRequest(urls);
}

void MainWindow::handleOpenFileRequest(const QList<QUrl> &urls)
{
    m_loading = true;
    QStringList names;
    for (const QUrl &url : urls)
        names.append(url.toString());
    qCInfo(lcApp, "Loading is not built yet; requested: %s",
           qUtf8Printable(names.join(QLatin1String(", "))));
    m_loading = false;
}

void MainWindow::endProcess(int exitCode)
{
    // exit() skips destructors: write what the settings upgrade changed before leaving.
    if (SettingsHandler *handler = SettingsHandler::instance())
        handler->sync();
    std::fflush(stdout);
    std::fflush(stderr);
    std::exit(exitCode);
}
