#include "ui/uilog.h"

Q_LOGGING_CATEGORY(lcUi, "velkora.ui", QtInfoMsg)
