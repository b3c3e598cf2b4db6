#include "app/logcategories.h"

Q_LOGGING_CATEGORY(lcApp, "velkora.app")
Q_LOGGING_CATEGORY(lcSettings, "velkora.settings")
Q_LOGGING_CATEGORY(lcPlatform, "velkora.platform")
