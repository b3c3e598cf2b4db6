#include "app/startupcontroller.h"

#include "app/application.h"
#include "app/applog.h"
#include "app/autosavescheduler.h"
#include "app/commandlineexecutor.h"
#include "app/commandlineoptions.h"
#include "app/importcontroller.h"
#include "app/recentfiles.h"
#include "app/scenedocument.h"
#include "app/updatecontroller.h"
#include "input/keybinder.h"
#include "loading/imageloader.h"
#include "settings/setting.h"

#include <QAction>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

#include <algorithm>
#include <utility>

StartupController::StartupController(Host host)
    : m_host(std::move(host))
{
}

bool StartupController::run(const QCommandLineParser &parser)
{
    using namespace CommandLineOptions;

    UpdateController::recoverInterruptedUpdate();
    if (parser.isSet(PrintKeyBindings)) {
        const QString path = parser.value(PrintKeyBindings);
        QFile file(path);
        if (!file.open(QIODevice::ReadWrite | QIODevice::Truncate | QIODevice::Text)) {
            qCCritical(lcApp, "Could not open %s to print the key bindings: %s",
                qUtf8Printable(path), qUtf8Printable(file.errorString()));
            Application::endProcess(1);
        }
        QTextStream stream(&file);
        stream.setCodec("UTF-8");
        stream << KeyBinder::instance()->toHtml();
        stream.flush();
        file.close();
        Application::endProcess(0);
    }

    if (parser.isSet(CommandHelp)) {
        m_host.commands->printHelp();
        Application::endProcess(0);
    }

    if (parser.isSet(Command)) {
        m_host.enterCommandLineMode();
        m_host.commands->execute(parser.values(Command));
        return true;
    }

    // Each board opens in a window of its own, as a file manager that opens several at once
    // expects: this window takes the first, another instance each of the others.
    QList<QUrl> files;
    QStringList otherBoards;
    const QStringList positional = parser.positionalArguments();
    for (const QString &path : positional) {
        const bool isBoard = ImageLoader::isSceneFile(path);
        if (isBoard && std::any_of(files.cbegin(), files.cend(), [](const QUrl &file) {
                return ImageLoader::isSceneFile(file.toLocalFile());
            }))
            otherBoards.append(QFileInfo(path).absoluteFilePath());
        else
            files.append(QUrl::fromLocalFile(path));
    }

    if (parser.isSet(Update)) {
        // This process only carries out the update: the updater's window is all it shows.
        QString target = parser.value(Update);
        if (target.isEmpty())
            target = QCoreApplication::applicationFilePath();
        m_host.updates->start(false, target);
        return false;
    }

    m_host.offerFirstTimeSetup();
    if (parser.isSet(CommandLineOptions::BruteForce)) {
        m_host.bruteForceNextLoad();
        m_host.import->queueImageLoad(
            { QUrl::fromLocalFile(parser.value(CommandLineOptions::BruteForce)) });
    } else if (parser.isSet(Restore)) {
        const QString path = parser.value(Restore);
        if (m_host.document->restoreAutoSave(path))
            m_host.loadRestoredAutoSave(path);
        else
            qCWarning(lcApp, "Another instance owns the autosave %s.", qUtf8Printable(path));
    } else {
        if (AutoSaveScheduler::offerLeftOvers(m_host.window))
            Application::endProcess(0);
        for (const QString &board : qAsConst(otherBoards))
            Application::startInstance({ board });
        if (!files.isEmpty())
            m_host.import->queueImageLoad(files);
        else if (m_host.autoLoad->value().toBool() && !m_host.recent->actions().isEmpty()
            && !m_host.recent->paths().isEmpty())
            m_host.recent->actions().first()->trigger();
    }

    m_host.updates->start(m_host.checkForUpdates->value().toBool(), QString());
    return true;
}
