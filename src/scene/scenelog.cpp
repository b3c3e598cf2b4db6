#include "scene/scenelog.h"

Q_LOGGING_CATEGORY(lcScene, "velkora.scene")
