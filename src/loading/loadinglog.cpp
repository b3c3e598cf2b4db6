#include "loading/loadinglog.h"

Q_LOGGING_CATEGORY(lcLoading, "velkora.loading")
