#pragma once

#include <QObject>

#include <functional>

class GeneralSettings;
class GraphicsScene;
class QTimer;
class QWidget;
class SceneDocument;

// Autosaves the board every "AutoSaveInterval" while "Auto Save" is on. An attempt that comes
// while the board is not in a state to keep is put off by a second rather than skipped, so that
// a long load cannot push the next autosave a whole interval away. GUI thread only.
class AutoSaveScheduler : public QObject {
    Q_OBJECT

public:
    struct Host {
        // A script runs the board: nothing is autosaved meanwhile.
        std::function<bool()> isCommandLineMode;
        // A load or another job runs: it holds items and the undo stack.
        std::function<bool()> isBusy;
    };

    AutoSaveScheduler(GeneralSettings *settings, GraphicsScene *scene, SceneDocument *document,
        Host host, QObject *parent = nullptr);

    // The timer's slot: autosaves now when there is something new to keep.
    void autoSave();
    void setEnabled(bool on);
    // The process is about to end without asking: keeps what is new of the board where the next
    // start finds it (a board without a file in its autosave, which is offered back; one with a
    // file in that file when autosaving is on). True when a save started.
    bool saveBeforeEnd();
    // A save has just written the board: the next autosave is a whole interval away.
    void restart();
    // Offers autosaves left over by instances that ended; true when this process should end
    // because another one restores them.
    static bool offerLeftOvers(QWidget *parent);

private:
    int interval() const;

    GeneralSettings *m_settings;
    GraphicsScene *m_scene;
    SceneDocument *m_document;
    Host m_host;
    QTimer *m_timer;
};
