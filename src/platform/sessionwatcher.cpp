#include "platform/sessionwatcher.h"

#include "platform/platform.h"

#include <QDBusConnection>

SessionWatcher::SessionWatcher(QObject *parent)
    : QObject(parent)
{
    const Platform::WindowSystem system = Platform::windowSystem();
    if (system != Platform::WindowSystem::X11 && system != Platform::WindowSystem::Wayland)
        return;
    // Any session's lock counts: the signal comes from the session's own object path, which
    // is not known here, and a needless reset costs nothing.
    QDBusConnection systemBus = QDBusConnection::systemBus();
    if (systemBus.isConnected()) {
        systemBus.connect(QStringLiteral("org.freedesktop.login1"), QString(),
            QStringLiteral("org.freedesktop.login1.Session"), QStringLiteral("Lock"), this,
            SLOT(handleSessionSignal()));
        systemBus.connect(QStringLiteral("org.freedesktop.login1"), QString(),
            QStringLiteral("org.freedesktop.login1.Session"), QStringLiteral("Unlock"), this,
            SLOT(handleSessionSignal()));
    }
    QDBusConnection sessionBus = QDBusConnection::sessionBus();
    if (sessionBus.isConnected())
        sessionBus.connect(QString(), QString(), QStringLiteral("org.freedesktop.ScreenSaver"),
            QStringLiteral("ActiveChanged"), this, SLOT(handleScreenSaverActive(bool)));
}

void SessionWatcher::handleSessionSignal()
{
    emit sessionChanged();
}

void SessionWatcher::handleScreenSaverActive(bool active)
{
    Q_UNUSED(active)
    emit sessionChanged();
}
