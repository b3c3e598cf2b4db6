#pragma once

#include <QLoggingCategory>

// The logging category of the updater, filtered by its name:
// QT_LOGGING_RULES="velkora.update.debug=false". Messages keep their exact text.
Q_DECLARE_LOGGING_CATEGORY(lcUpdate)
