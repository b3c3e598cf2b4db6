#pragma once

#include <QLoggingCategory>

// The logging category of this folder's code, filtered by its name:
// QT_LOGGING_RULES="velkora.picture.debug=false". Messages keep their exact text.
Q_DECLARE_LOGGING_CATEGORY(lcPicture)
