#pragma once

#include <QObject>

#include <memory>

class QSocketNotifier;

// A passive listener to every key and mouse button of the desktop, whichever program has the
// focus. It never grabs or swallows anything: on X11 it reads XInput 2 raw events of the root
// window on an X connection of its own. Lives on a thread of its own: construct it anywhere,
// move it to its thread and invoke start() there; it reports by signal.
class KeyListener : public QObject {
    Q_OBJECT

public:
    explicit KeyListener(QObject *parent = nullptr);
    ~KeyListener() override;

    // Whether listening is possible at all: X11 with XInput 2.1 or newer. Call on the GUI
    // thread. Wayland lets no program listen to the whole desktop.
    static bool isSupported();

    // Maps an X key symbol to the toolkit's key code; Qt::Key_unknown when there is none.
    static int keyFromKeySymbol(quint32 keySymbol);

public slots:
    void start();
    void resetState();

signals:
    // A modifier that was not yet held went down, a key other than the held one went down, or
    // a mouse button went down. nativeKey is the X key code of the held key, 0 for none; key is
    // Qt::Key_unknown when no other key is held.
    void keysPressed(
        quint32 nativeKey, int key, Qt::KeyboardModifiers modifiers, Qt::MouseButtons buttons);

private:
    struct X11State;

    void readEvents();
    void handleKey(quint32 keyCode, bool press);
    void handleButton(quint32 button, bool press);
    void report();

    std::unique_ptr<X11State> m_x11;
    QSocketNotifier *m_notifier = nullptr;
    Qt::KeyboardModifiers m_modifiers;
    int m_key = Qt::Key_unknown;
    quint32 m_nativeKey = 0;
    Qt::MouseButtons m_buttons;
};
