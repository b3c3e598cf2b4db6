#pragma once

#include <QObject>

// The window's progress on its taskbar or dock entry, through the launcher API that KDE Plasma,
// Dash to Dock and Plank understand: the com.canonical.Unity.LauncherEntry Update signal on the
// session bus, naming the program by its .desktop file (QGuiApplication::desktopFileName).
// Without a session bus or a desktop file name nothing is sent; the taskbar entry is a
// decoration, so nothing is lost. GUI thread only.
class TaskbarProgress : public QObject {
    Q_OBJECT

public:
    explicit TaskbarProgress(QObject *parent = nullptr);
    // Takes the progress off the taskbar; an entry left visible would stay after the jobs.
    ~TaskbarProgress() override;

    void setRange(int minimum, int maximum);
    void setValue(int value);
    void setVisible(bool visible);
    bool isVisible() const { return m_visible; }

private:
    // How far along, 0 .. 1; 0 for an empty range (a job that cannot tell).
    double fraction() const;
    void send();

    int m_minimum = 0;
    int m_maximum = 0;
    int m_value = 0;
    bool m_visible = false;
    // What the taskbar was last told: jobs step through thousands of values, the taskbar shows
    // whole percents at best, and every signal wakes the dock.
    int m_sentPercent = -1;
    bool m_sentVisible = false;
};
