#pragma once

// Identifiers of actions that code outside their owner refers to by name: the key binder's
// upgrade of old middle-button settings, and the main window's default alias of the pan action.
// They are keys in the settings file: never translate or rename them.
namespace ActionNames {

inline constexpr char Pan[] = "Pan";
inline constexpr char Zoom[] = "Zoom";
inline constexpr char DeleteImages[] = "Delete Images";

} // namespace ActionNames
