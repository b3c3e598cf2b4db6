#include "app/commandlineoptions.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>

namespace CommandLineOptions {

void declare(QCommandLineParser &parser)
{
    parser.setApplicationDescription(QCoreApplication::translate(
        "Application", "Velkora - Simple and lightweight reference image viewer."));
    parser.addHelpOption();
    parser.addVersionOption();

    const auto tr
        = [](const char *text) { return QCoreApplication::translate("Application", text); };
    parser.addOptions({
        { { QStringLiteral("u"), Update }, tr("Force start updating if a new version exists."),
            tr("Target path") },
        { { QStringLiteral("s"), SettingsPath }, tr("Force location of the settings file."),
            tr(".ini path") },
        { { QStringLiteral("l"), LogFile }, tr("Log all output to this file."), tr("Target path") },
        { { QStringLiteral("b"), BruteForce },
            tr("Brute force load .vlk file without any metadata. This can be used to recover "
               "images "
               "from a partially corrupt .vlk file."),
            tr(".vlk path") },
        { { QStringLiteral("p"), PrintKeyBindings },
            tr("Print all current keybindings to an HTML document."), tr(".html path") },
        { { QStringLiteral("c"), Command },
            tr("Run a named command. Use --command-help to view available commands."),
            tr("commandName;arg1;arg2") },
        { { QStringLiteral("C"), CommandHelp }, tr("Displays information on available commands.") },
    });

    // Only for instances that this program starts itself to take over an autosave.
    QCommandLineOption restore(QString::fromLatin1(Restore),
        tr("Restores and takes ownership of autosaved file."), tr(".vlk path"));
    restore.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(restore);

    parser.addPositionalArgument(QStringLiteral("files"), tr("Files to load on startup."));
}

} // namespace CommandLineOptions
