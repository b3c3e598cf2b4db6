#include "platform/platform.h"

#include <QGuiApplication>
#include <QX11Info>

namespace Platform {

WindowSystem windowSystem()
{
    if (QX11Info::isPlatformX11())
        return WindowSystem::X11;
    const QString name = QGuiApplication::platformName();
    if (name.startsWith(QLatin1String("wayland")))
        return WindowSystem::Wayland;
    if (name == QLatin1String("offscreen") || name == QLatin1String("minimal"))
        return WindowSystem::Offscreen;
    return WindowSystem::Other;
}

QString windowSystemName()
{
    return QGuiApplication::platformName();
}

} // namespace Platform
