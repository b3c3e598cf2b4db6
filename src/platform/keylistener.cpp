#include "platform/keylistener.h"

#include "platform/inputstate.h"
#include "platform/platformlog.h"

#include <QChar>
#include <QSocketNotifier>
#include <QVector>
#include <QX11Info>

#include <xcb/xcb.h>
#include <xcb/xinput.h>

#include <cstdlib>

namespace {

// XInput 2.1 made raw events reach every client that selects them on the root window, grabs or
// not; 2.0 delivered them only to the grabbing client.
constexpr uint16_t RequiredMajor = 2;
constexpr uint16_t RequiredMinor = 1;

bool hasRawEvents(xcb_connection_t *connection)
{
    const xcb_query_extension_reply_t *extension
        = xcb_get_extension_data(connection, &xcb_input_id);
    if (!extension || !extension->present)
        return false;
    xcb_input_xi_query_version_reply_t *reply = xcb_input_xi_query_version_reply(
        connection, xcb_input_xi_query_version(connection, RequiredMajor, RequiredMinor), nullptr);
    if (!reply)
        return false;
    const bool ok = reply->major_version > RequiredMajor
        || (reply->major_version == RequiredMajor && reply->minor_version >= RequiredMinor);
    std::free(reply);
    return ok;
}

} // namespace

struct KeyListener::X11State {
    xcb_connection_t *connection = nullptr;
    uint8_t inputOpcode = 0;
    xcb_keycode_t minKeyCode = 0;
    int keySymbolsPerCode = 0;
    QVector<xcb_keysym_t> keySymbols;
    // Raw events carry physical buttons; the pointer mapping turns them into logical ones
    // (a left-handed user's swapped buttons).
    QVector<uint8_t> buttonMap;

    ~X11State()
    {
        if (connection)
            xcb_disconnect(connection);
    }

    quint32 keySymbol(quint32 keyCode) const
    {
        const int index = (int(keyCode) - minKeyCode) * keySymbolsPerCode;
        if (keyCode < minKeyCode || index < 0 || index >= keySymbols.size())
            return 0;
        return keySymbols.at(index);
    }
};

KeyListener::KeyListener(QObject *parent)
    : QObject(parent)
{
}

KeyListener::~KeyListener() = default;

bool KeyListener::isSupported()
{
    if (!QX11Info::isPlatformX11() || !QX11Info::connection())
        return false;
    // Only presence here: the toolkit has already announced its own XInput version on its
    // connection, and the server refuses a second, different announcement. The version is
    // checked on the listener's own connection.
    const xcb_query_extension_reply_t *extension
        = xcb_get_extension_data(QX11Info::connection(), &xcb_input_id);
    return extension && extension->present;
}

int KeyListener::keyFromKeySymbol(quint32 keySymbol)
{
    if (keySymbol >= 0x20 && keySymbol <= 0xff && keySymbol != 0x7f)
        return QChar(keySymbol).toUpper().unicode();
    if (keySymbol >= 0xffbe && keySymbol <= 0xffe0) // F1 to F35
        return Qt::Key_F1 + int(keySymbol - 0xffbe);
    if (keySymbol >= 0xffb0 && keySymbol <= 0xffb9) // keypad digits
        return Qt::Key_0 + int(keySymbol - 0xffb0);
    switch (keySymbol) {
    case 0xff08:
        return Qt::Key_Backspace;
    case 0xff09:
        return Qt::Key_Tab;
    case 0xfe20:
        return Qt::Key_Backtab;
    case 0xff0d:
        return Qt::Key_Return;
    case 0xff8d:
        return Qt::Key_Enter;
    case 0xff13:
        return Qt::Key_Pause;
    case 0xff14:
        return Qt::Key_ScrollLock;
    case 0xff1b:
        return Qt::Key_Escape;
    case 0xff50:
        return Qt::Key_Home;
    case 0xff51:
        return Qt::Key_Left;
    case 0xff52:
        return Qt::Key_Up;
    case 0xff53:
        return Qt::Key_Right;
    case 0xff54:
        return Qt::Key_Down;
    case 0xff55:
        return Qt::Key_PageUp;
    case 0xff56:
        return Qt::Key_PageDown;
    case 0xff57:
        return Qt::Key_End;
    case 0xff61:
        return Qt::Key_Print;
    case 0xff63:
        return Qt::Key_Insert;
    case 0xff67:
        return Qt::Key_Menu;
    case 0xff7f:
        return Qt::Key_NumLock;
    case 0xffe5:
        return Qt::Key_CapsLock;
    case 0xffff:
        return Qt::Key_Delete;
    case 0xffe1:
    case 0xffe2:
        return Qt::Key_Shift;
    case 0xffe3:
    case 0xffe4:
        return Qt::Key_Control;
    case 0xffe7:
    case 0xffe8:
    case 0xffeb: // Super, which the toolkit reports as the Meta modifier on X11
    case 0xffec:
        return Qt::Key_Meta;
    case 0xffe9:
    case 0xffea:
        return Qt::Key_Alt;
    case 0xfe03:
        return Qt::Key_AltGr;
    case 0xffab:
        return Qt::Key_Plus;
    case 0xffad:
        return Qt::Key_Minus;
    case 0xffaa:
        return Qt::Key_Asterisk;
    case 0xffaf:
        return Qt::Key_Slash;
    default:
        return Qt::Key_unknown;
    }
}

void KeyListener::start()
{
    if (m_x11)
        return;
    auto state = std::make_unique<X11State>();
    int screenNumber = 0;
    state->connection = xcb_connect(nullptr, &screenNumber);
    if (!state->connection || xcb_connection_has_error(state->connection)
        || !hasRawEvents(state->connection)) {
        qCWarning(lcPlatform, "Global key bindings: cannot listen to the X server.");
        return;
    }
    xcb_connection_t *connection = state->connection;
    state->inputOpcode = xcb_get_extension_data(connection, &xcb_input_id)->major_opcode;

    const xcb_setup_t *setup = xcb_get_setup(connection);
    state->minKeyCode = setup->min_keycode;
    const int count = setup->max_keycode - setup->min_keycode + 1;
    if (xcb_get_keyboard_mapping_reply_t *mapping = xcb_get_keyboard_mapping_reply(
            connection, xcb_get_keyboard_mapping(connection, setup->min_keycode, count), nullptr)) {
        state->keySymbolsPerCode = mapping->keysyms_per_keycode;
        const xcb_keysym_t *symbols = xcb_get_keyboard_mapping_keysyms(mapping);
        const int length = xcb_get_keyboard_mapping_keysyms_length(mapping);
        state->keySymbols = QVector<xcb_keysym_t>(symbols, symbols + length);
        std::free(mapping);
    }
    if (xcb_get_pointer_mapping_reply_t *mapping
        = xcb_get_pointer_mapping_reply(connection, xcb_get_pointer_mapping(connection), nullptr)) {
        const uint8_t *map = xcb_get_pointer_mapping_map(mapping);
        state->buttonMap = QVector<uint8_t>(map, map + xcb_get_pointer_mapping_map_length(mapping));
        std::free(mapping);
    }

    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(setup);
    for (int i = 0; i < screenNumber && screens.rem; ++i)
        xcb_screen_next(&screens);
    const xcb_window_t root = screens.data->root;
    struct {
        xcb_input_event_mask_t head;
        uint32_t mask;
    } selection;
    selection.head.deviceid = XCB_INPUT_DEVICE_ALL_MASTER;
    selection.head.mask_len = 1;
    selection.mask = XCB_INPUT_XI_EVENT_MASK_RAW_KEY_PRESS | XCB_INPUT_XI_EVENT_MASK_RAW_KEY_RELEASE
        | XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_PRESS | XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_RELEASE;
    xcb_input_xi_select_events(connection, root, 1, &selection.head);
    xcb_flush(connection);

    m_x11 = std::move(state);
    m_notifier
        = new QSocketNotifier(xcb_get_file_descriptor(connection), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &KeyListener::readEvents);
    readEvents();
}

void KeyListener::resetState()
{
    m_modifiers = Qt::NoModifier;
    m_key = Qt::Key_unknown;
    m_nativeKey = 0;
    m_buttons = Qt::NoButton;
}

void KeyListener::readEvents()
{
    if (!m_x11)
        return;
    while (xcb_generic_event_t *event = xcb_poll_for_event(m_x11->connection)) {
        if ((event->response_type & 0x7f) == XCB_GE_GENERIC) {
            auto *generic = reinterpret_cast<xcb_ge_generic_event_t *>(event);
            if (generic->extension == m_x11->inputOpcode) {
                auto *raw = reinterpret_cast<xcb_input_raw_key_press_event_t *>(event);
                switch (generic->event_type) {
                case XCB_INPUT_RAW_KEY_PRESS:
                    handleKey(raw->detail, true);
                    break;
                case XCB_INPUT_RAW_KEY_RELEASE:
                    handleKey(raw->detail, false);
                    break;
                case XCB_INPUT_RAW_BUTTON_PRESS:
                    handleButton(raw->detail, true);
                    break;
                case XCB_INPUT_RAW_BUTTON_RELEASE:
                    handleButton(raw->detail, false);
                    break;
                default:
                    break;
                }
            }
        }
        std::free(event);
    }
    if (xcb_connection_has_error(m_x11->connection)) {
        qCWarning(lcPlatform, "Global key bindings: the X connection broke; no longer listening.");
        m_notifier->setEnabled(false);
    }
}

void KeyListener::handleKey(quint32 keyCode, bool press)
{
    const int key = keyFromKeySymbol(m_x11->keySymbol(keyCode));
    const Qt::KeyboardModifier modifier = Platform::modifierOfKey(key);
    if (modifier != Qt::NoModifier) {
        const bool wasHeld = m_modifiers & modifier;
        m_modifiers.setFlag(modifier, press);
        if (press && !wasHeld)
            report();
        return;
    }
    if (!press) {
        if (keyCode == m_nativeKey) {
            m_key = Qt::Key_unknown;
            m_nativeKey = 0;
        }
        return;
    }
    // Auto-repeat presses the held key again: it reports once.
    if (keyCode == m_nativeKey)
        return;
    m_key = key;
    m_nativeKey = keyCode;
    report();
}

void KeyListener::handleButton(quint32 button, bool press)
{
    if (button >= 1 && int(button) <= m_x11->buttonMap.size())
        button = m_x11->buttonMap.at(int(button) - 1);
    Qt::MouseButton bit = Qt::NoButton;
    switch (button) {
    case 1:
        bit = Qt::LeftButton;
        break;
    case 2:
        bit = Qt::MiddleButton;
        break;
    case 3:
        bit = Qt::RightButton;
        break;
    case 8:
        bit = Qt::BackButton;
        break;
    case 9:
        bit = Qt::ForwardButton;
        break;
    default:
        return; // the wheel and unnamed buttons
    }
    m_buttons.setFlag(bit, press);
    if (press)
        report();
}

void KeyListener::report()
{
    emit keysPressed(m_nativeKey, m_key, m_modifiers, m_buttons);
}
