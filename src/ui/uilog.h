#pragma once

#include <QLoggingCategory>

// The logging category of this folder's code, filtered by its name:
// QT_LOGGING_RULES="velkora.ui.debug=true".
Q_DECLARE_LOGGING_CATEGORY(lcUi)
