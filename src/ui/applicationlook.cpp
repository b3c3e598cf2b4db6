#include "ui/applicationlook.h"

#include "ui/colorcustomizer.h"

#include <QApplication>

ApplicationLook::ApplicationLook(ColorCustomizer *colors, QObject *parent)
    : QObject(parent)
    , m_colors(colors)
{
    connect(m_colors, &ColorCustomizer::styleUpdated, this, [this] {
        if (m_applied)
            applyStyle();
    });
}

void ApplicationLook::apply()
{
    m_applied = true;
    applyStyle();
}

void ApplicationLook::applyStyle()
{
    // The palette before the sheet: setting the sheet repolishes every widget, and the rules'
    // colours are laid over the palette each widget has then.
    QApplication::setPalette(m_colors->currentPalette());
    qApp->setStyleSheet(m_colors->currentStyleSheet());
}
