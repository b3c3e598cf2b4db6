#pragma once

#include <QApplication>
#include <QCommandLineParser>
#include <QList>
#include <QPointer>
#include <QUrl>

#include <memory>

class MainWindow;
class SettingsHandler;

// The application object: parses the command line, locates the settings file, opens the log,
// installs fonts, style and translation, and creates the one MainWindow. File-open requests
// that arrive before the window exists wait in a list until it does. GUI thread only.
class Application : public QApplication {
    Q_OBJECT

public:
    // Process set-up that must precede the application object: high-DPI policy, the
    // organisation, application name and version, and the platform for runs that show nothing.
    static void prepareProcess(int argc, char **argv);

    Application(int &argc, char **argv);
    ~Application() override;

    static Application *instance();

    // Fonts, style and translator; called once before the main window is created.
    void installInterfaceResources();
    void createMainWindow();

    const QCommandLineParser &parser() const { return m_parser; }
    MainWindow *mainWindow() const;
    QList<QUrl> pendingFileOpenRequests() const { return m_pendingFileOpenRequests; }

    // What a process spawned by this one must be given to share its settings and log file:
    // "--settings" <path>, and "--logfile" <path> when a log is open. A list, never a joined
    // command line, so that paths with spaces survive.
    QStringList restartArguments() const;

    // Starts another instance of the program with these arguments after the shared ones.
    static void startInstance(const QStringList &arguments);
    // Orderly: no thread of the program's own runs besides the shared pool, whose work is
    // waited for. Abrupt: one may still run, so the toolkit's globals are left in place.
    enum class Ending { Orderly, Abrupt };
    // Ends the process at once, asking nothing, with the settings written.
    [[noreturn]] static void endProcess(int exitCode, Ending ending = Ending::Orderly);

    bool event(QEvent *event) override;

private:
    void watchScreens();

    QCommandLineParser m_parser;
    std::unique_ptr<SettingsHandler> m_settingsHandler;
    QPointer<MainWindow> m_mainWindow;
    bool m_mainWindowCreated = false;
    QList<QUrl> m_pendingFileOpenRequests;
};
