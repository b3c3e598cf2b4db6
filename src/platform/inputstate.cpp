#include "platform/inputstate.h"

#include <QGuiApplication>
#include <QX11Info>

#include <xcb/xcb.h>

#include <cstdlib>

namespace Platform {

Qt::MouseButtons queryMouseButtons()
{
    if (!QX11Info::isPlatformX11() || !QX11Info::connection())
        return QGuiApplication::mouseButtons();
    xcb_connection_t *connection = QX11Info::connection();
    const xcb_query_pointer_cookie_t cookie
        = xcb_query_pointer(connection, QX11Info::appRootWindow());
    xcb_query_pointer_reply_t *reply = xcb_query_pointer_reply(connection, cookie, nullptr);
    if (!reply)
        return QGuiApplication::mouseButtons();
    const uint16_t mask = reply->mask;
    std::free(reply);
    Qt::MouseButtons buttons;
    // The core protocol's mask knows buttons 1 to 5 only; 4 and 5 are the wheel, so back and
    // forward are not visible here and keep what the events said.
    if (mask & XCB_BUTTON_MASK_1)
        buttons |= Qt::LeftButton;
    if (mask & XCB_BUTTON_MASK_2)
        buttons |= Qt::MiddleButton;
    if (mask & XCB_BUTTON_MASK_3)
        buttons |= Qt::RightButton;
    buttons |= QGuiApplication::mouseButtons() & (Qt::BackButton | Qt::ForwardButton);
    return buttons;
}

std::optional<Qt::KeyboardModifiers> queryKeyboardModifiers()
{
    const QString platform = QGuiApplication::platformName();
    if (platform == QLatin1String("offscreen") || platform == QLatin1String("minimal"))
        return std::nullopt;
    // On xcb the toolkit asks the server, on Wayland the compositor's keyboard state.
    return QGuiApplication::queryKeyboardModifiers()
        & ~(Qt::KeypadModifier | Qt::GroupSwitchModifier);
}

std::optional<bool> isKeyDown(quint32 nativeScanCode)
{
    if (nativeScanCode == 0 || nativeScanCode > 255 || !QX11Info::isPlatformX11()
        || !QX11Info::connection())
        return std::nullopt;
    xcb_connection_t *connection = QX11Info::connection();
    xcb_query_keymap_reply_t *reply
        = xcb_query_keymap_reply(connection, xcb_query_keymap(connection), nullptr);
    if (!reply)
        return std::nullopt;
    const bool down = reply->keys[nativeScanCode / 8] & (1 << (nativeScanCode % 8));
    std::free(reply);
    return down;
}

Qt::KeyboardModifier modifierOfKey(int key)
{
    switch (key) {
    case Qt::Key_Shift:
        return Qt::ShiftModifier;
    case Qt::Key_Control:
        return Qt::ControlModifier;
    case Qt::Key_Meta:
        return Qt::MetaModifier;
    case Qt::Key_Alt:
        return Qt::AltModifier;
    default:
        return Qt::NoModifier;
    }
}

} // namespace Platform
