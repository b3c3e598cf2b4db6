#include "platform/platformlog.h"

Q_LOGGING_CATEGORY(lcPlatform, "velkora.platform")
