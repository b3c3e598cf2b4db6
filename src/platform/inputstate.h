#pragma once

#include <Qt>

#include <optional>

// What the system says about the keyboard and the mouse right now, independent of the events
// the application has seen: releases that happened while another window had the focus, or while
// the session was locked, never reach us as events.
namespace Platform {

// Buttons held now. On X11 the pointer's button mask (button swapping is already applied by the
// server); elsewhere the toolkit's record of the last mouse event.
Qt::MouseButtons queryMouseButtons();
// Modifiers held now, without the keypad and group-switch bits. Empty where nobody but the
// events themselves knows: the offscreen and minimal platforms only echo the last event, whose
// modifiers are those from before its own key went down.
std::optional<Qt::KeyboardModifiers> queryKeyboardModifiers();
// Whether the key with this native scan code (an X key code) is down. Empty where the system
// cannot tell: there is no portable keymap query outside X11, and scan code 0 names no key.
std::optional<bool> isKeyDown(quint32 nativeScanCode);
// The modifier a key is, or NoModifier: X11 reports a modifier key's own press without its bit.
Qt::KeyboardModifier modifierOfKey(int key);

} // namespace Platform
