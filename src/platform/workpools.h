#pragma once

#include <QtGlobal>

// The program's worker threads. Background work (picture levels, grey variants) runs on the
// shared pool one thread short of the cores, so that the GUI thread keeps a core of its own
// while the user works. Work the user waits for (opening, saving or recovering a board, while
// the window only shows progress) widens the pool to every core as long as any of it runs, and
// background tasks queue behind its tasks.
class WorkPools {
public:
    // Queue priority of background tasks on the shared pool: below that of any other task.
    static constexpr int BackgroundPriority = -1;

    // Sizes the shared pool for background work; the program calls it at start-up.
    static void configure();

    // Every core for the shared pool while an object of this class lives. Any thread.
    class Foreground {
    public:
        Foreground();
        ~Foreground();

    private:
        Q_DISABLE_COPY(Foreground)
    };
};
