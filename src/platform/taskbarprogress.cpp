#include "platform/taskbarprogress.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QGuiApplication>
#include <QVariantMap>

#include <cmath>

TaskbarProgress::TaskbarProgress(QObject *parent)
    : QObject(parent)
{
}

TaskbarProgress::~TaskbarProgress()
{
    setVisible(false);
}

void TaskbarProgress::setRange(int minimum, int maximum)
{
    m_minimum = minimum;
    m_maximum = maximum;
    send();
}

void TaskbarProgress::setValue(int value)
{
    m_value = value;
    send();
}

void TaskbarProgress::setVisible(bool visible)
{
    m_visible = visible;
    send();
}

double TaskbarProgress::fraction() const
{
    if (m_maximum <= m_minimum)
        return 0.0;
    const double done = double(m_value - m_minimum) / (double(m_maximum) - m_minimum);
    return qBound(0.0, done, 1.0);
}

void TaskbarProgress::send()
{
    const int percent = int(std::lround(fraction() * 100));
    // A hidden progress has nothing to show; only the step that hides it is news.
    if (m_visible == m_sentVisible && (!m_visible || percent == m_sentPercent))
        return;
    m_sentVisible = m_visible;
    m_sentPercent = percent;

    QString desktopFile = QGuiApplication::desktopFileName();
    if (desktopFile.isEmpty())
        return;
    // The name is meant without the suffix, but a name given with it still names the file.
    if (!desktopFile.endsWith(QLatin1String(".desktop")))
        desktopFile += QLatin1String(".desktop");
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage update = QDBusMessage::createSignal(QStringLiteral("/org/velkora/LauncherEntry"),
        QStringLiteral("com.canonical.Unity.LauncherEntry"), QStringLiteral("Update"));
    const QVariantMap properties {
        { QStringLiteral("progress"), fraction() },
        { QStringLiteral("progress-visible"), m_visible },
    };
    update << QString(QLatin1String("application://") + desktopFile) << properties;
    bus.send(update);
}
