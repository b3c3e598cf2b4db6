#pragma once

#include <functional>

class GeneralSettings;

// Brings a settings file written by an older version up to this one, once, while the main
// window builds its settings. Old keys are moved to their new homes and removed from the file.
class SettingsUpgrade {
public:
    // Versions before 1.8.0 chose the middle button's job with "ScrollFunctionality"
    // (0 delete, 1 pan, 2 zoom); since then it is a key binding. The key-binding store turns the
    // old choice into bindings through this callback.
    using ScrollFunctionalityRebinder = std::function<void(int scrollFunctionality)>;

    static void run(GeneralSettings &settings, const ScrollFunctionalityRebinder &rebinder);
};
