#include "export/exportlog.h"

Q_LOGGING_CATEGORY(lcExport, "velkora.export")
