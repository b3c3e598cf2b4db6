#include "ui/applicationlook.h"

#include "ui/colorcustomizer.h"

#include <QApplication>
#include <QEvent>
#include <QFont>

ApplicationLook::ApplicationLook(ColorCustomizer *colors, QObject *parent)
    : QObject(parent)
    , m_colors(colors)
{
    connect(m_colors, &ColorCustomizer::styleUpdated, this, [this] {
        if (m_applied)
            applyStyle();
    });
    connect(m_colors, &ColorCustomizer::fontUpdated, this, [this](const QFont &font) {
        if (m_applied)
            setApplicationFont(font);
    });
}

void ApplicationLook::apply()
{
    m_applied = true;
    // The font first: the style sheet is parsed and every widget polished once, already in it.
    setApplicationFont(m_colors->currentFont());
    applyStyle();
}

void ApplicationLook::applyStyle()
{
    // The palette before the sheet: setting the sheet repolishes every widget, and the rules'
    // colours are laid over the palette each widget has then.
    QApplication::setPalette(m_colors->currentPalette());
    qApp->setStyleSheet(m_colors->currentStyleSheet());
}

void ApplicationLook::setApplicationFont(const QFont &font)
{
    QApplication::setFont(font);
    // The event the toolkit sends windows: each widget resolves its font against the
    // application's again, keeping what it set itself (a bold heading, a small title).
    QEvent change(QEvent::ApplicationFontChange);
    const QList<QWidget *> widgets = QApplication::allWidgets();
    for (QWidget *widget : widgets) {
        if (!widget->isWindow())
            QCoreApplication::sendEvent(widget, &change);
    }
}
