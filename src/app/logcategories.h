#pragma once

#include <QLoggingCategory>

// One logging category a subsystem. Messages whose wording users and scripts rely on keep their
// exact text; the category only adds a filter ("velkora.settings.debug=false").
Q_DECLARE_LOGGING_CATEGORY(lcApp)
Q_DECLARE_LOGGING_CATEGORY(lcSettings)
Q_DECLARE_LOGGING_CATEGORY(lcPlatform)
