#pragma once

#include <QList>
#include <QUrl>
#include <QWidget>

class GeneralSettings;
class QCommandLineParser;

// The one top-level window: frameless, it will host the window frame, the canvas view and the
// scene, and owns the background workers. Deletes itself when closed; its destruction ends the
// application. GUI thread only.
class MainWindow : public QWidget
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    GeneralSettings *generalSettings() const { return m_settings; }
    bool isCommandLineMode() const { return m_commandLineMode; }
    bool isBruteForceNextLoad() const { return m_bruteForceNextLoad; }

public slots:
    void handleOpenFileRequest(const QList<QUrl> &urls);

private:
    void buildSettings();
    // Acts on the command line: the first option that applies decides. Returns false when the
    // window must stay hidden.
    bool evaluateCommandLine(const QCommandLineParser &parser);
    void loadAtStartup(const QList<QUrl> &urls);
    [[noreturn]] static void endProcess(int exitCode);

    GeneralSettings *m_settings = nullptr;
    bool m_commandLineMode = false;
    bool m_bruteForceNextLoad = false;
    bool m_loading = false;
    QString m_updateTarget;
};
