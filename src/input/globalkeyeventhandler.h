#pragma once

#include <QObject>

class KeyListener;
class QThread;

// Runs the system-wide key and button listener in a thread of its own and relays its reports.
// Exists only while some action has a system-global binding. Lives on the GUI thread; the
// listener it owns lives on the listener thread and reports by queued signal.
class GlobalKeyEventHandler : public QObject {
    Q_OBJECT

public:
    explicit GlobalKeyEventHandler(QObject *parent = nullptr);
    ~GlobalKeyEventHandler() override;

    // False where the window system lets no program listen to the whole desktop (Wayland
    // without XWayland, offscreen): system-global bindings then act as application-wide ones.
    bool isAvailable() const { return m_available; }
    // Forgets held modifiers and keys: their releases may have happened while the session was
    // locked.
    void resetState();

signals:
    void keysPressed(
        quint32 nativeKey, int key, Qt::KeyboardModifiers modifiers, Qt::MouseButtons buttons);

private:
    QThread *m_thread = nullptr;
    KeyListener *m_listener = nullptr;
    bool m_available = false;
};
