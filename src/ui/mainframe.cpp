#include "ui/mainframe.h"

#include "settings/generalsettings.h"
#include "settings/setting.h"

#include <QGuiApplication>
#include <QScreen>
#include <QVBoxLayout>

MainFrame::MainFrame(QWidget *content, GeneralSettings *settings, QWidget *parent)
    : QWidget(parent)
    , m_settings(settings)
{
    setObjectName(QStringLiteral("mainWindow"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(content);
}

void MainFrame::restoreWindowState()
{
    QWidget *window = this->window();
    const QVariant position = m_settings->value(QStringLiteral("Position"));
    if (position.canConvert<QPoint>()) {
        // A screen that was unplugged since must not leave the window out of reach.
        const QPoint point = position.toPoint();
        const QList<QScreen *> screens = QGuiApplication::screens();
        for (QScreen *screen : screens) {
            if (screen->availableGeometry().contains(point)) {
                window->move(point);
                break;
            }
        }
    }
    if (m_settings->boolValue(QStringLiteral("Maximized")))
        window->setWindowState(window->windowState() | Qt::WindowMaximized);
}

void MainFrame::storeWindowState()
{
    const QWidget *window = this->window();
    const bool maximized = window->isMaximized();
    m_settings->setting(QStringLiteral("Maximized"))->setValue(maximized);
    if (!maximized)
        m_settings->setting(QStringLiteral("Position"))->setValue(window->pos());
}
