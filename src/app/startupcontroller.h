#pragma once

#include <functional>

class CommandLineExecutor;
class ImportController;
class QCommandLineParser;
class QString;
class QWidget;
class RecentFiles;
class SceneDocument;
class Setting;
class UpdateController;

// What the program does first, as its command line asks; the first option that applies decides.
// It prints the key bindings or the commands' help and ends, runs a script, carries out an
// update, restores an autosave, or opens the files it was given (boards beyond the first each in
// an instance of their own), else the most recent board; the first-time setup and the left-over
// autosaves are offered on the way. GUI thread only; used once, while the window is made.
class StartupController {
public:
    struct Host {
        // The parent of the questions asked at start.
        QWidget *window = nullptr;
        CommandLineExecutor *commands = nullptr;
        UpdateController *updates = nullptr;
        ImportController *import = nullptr;
        RecentFiles *recent = nullptr;
        SceneDocument *document = nullptr;
        Setting *autoLoad = nullptr;
        Setting *checkForUpdates = nullptr;
        // A script runs: questions and errors go to the terminal from now on.
        std::function<void()> enterCommandLineMode;
        std::function<void()> offerFirstTimeSetup;
        // The next board opened is read even where it is damaged.
        std::function<void()> bruteForceNextLoad;
        // Opens an autosave this instance has taken over, once the event loop runs.
        std::function<void(const QString &path)> loadRestoredAutoSave;
    };

    explicit StartupController(Host host);

    // Returns false when the window must stay hidden.
    bool run(const QCommandLineParser &parser);

private:
    Host m_host;
};
