#include "clipboard/clipboardlog.h"

Q_LOGGING_CATEGORY(lcClipboard, "velkora.clipboard")
