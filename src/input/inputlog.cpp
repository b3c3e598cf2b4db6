#include "input/inputlog.h"

Q_LOGGING_CATEGORY(lcInput, "velkora.input")
