#include "input/globalkeyeventhandler.h"

#include "input/inputlog.h"
#include "platform/keylistener.h"

#include <QThread>

GlobalKeyEventHandler::GlobalKeyEventHandler(QObject *parent)
    : QObject(parent)
{
    m_available = KeyListener::isSupported();
    if (!m_available) {
        qCWarning(lcInput,
            "Global key bindings are not available on this window system; they act "
            "only while Velkora has the focus.");
        return;
    }
    m_thread = new QThread(this);
    m_thread->setObjectName(QStringLiteral("GlobalKeyListener"));
    m_listener = new KeyListener;
    m_listener->moveToThread(m_thread);
    connect(m_thread, &QThread::finished, m_listener, &QObject::deleteLater);
    connect(m_listener, &KeyListener::keysPressed, this, &GlobalKeyEventHandler::keysPressed,
        Qt::QueuedConnection);
    m_thread->start();
    QMetaObject::invokeMethod(m_listener, &KeyListener::start, Qt::QueuedConnection);
}

GlobalKeyEventHandler::~GlobalKeyEventHandler()
{
    if (m_thread) {
        m_thread->quit();
        m_thread->wait();
    }
}

void GlobalKeyEventHandler::resetState()
{
    if (m_listener)
        QMetaObject::invokeMethod(m_listener, &KeyListener::resetState, Qt::QueuedConnection);
}
