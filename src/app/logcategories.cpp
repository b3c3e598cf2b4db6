#include "app/logcategories.h"

Q_LOGGING_CATEGORY(lcApp, "velkora.app")
Q_LOGGING_CATEGORY(lcScene, "velkora.scene")
Q_LOGGING_CATEGORY(lcCommands, "velkora.commands")
Q_LOGGING_CATEGORY(lcPersistence, "velkora.persistence")
Q_LOGGING_CATEGORY(lcLoading, "velkora.loading")
Q_LOGGING_CATEGORY(lcView, "velkora.view")
Q_LOGGING_CATEGORY(lcInput, "velkora.input")
Q_LOGGING_CATEGORY(lcSettings, "velkora.settings")
Q_LOGGING_CATEGORY(lcExport, "velkora.export")
Q_LOGGING_CATEGORY(lcUpdater, "velkora.updater")
Q_LOGGING_CATEGORY(lcUi, "velkora.ui")
Q_LOGGING_CATEGORY(lcPlatform, "velkora.platform")
