#include "settings/settingslog.h"

Q_LOGGING_CATEGORY(lcSettings, "velkora.settings")
