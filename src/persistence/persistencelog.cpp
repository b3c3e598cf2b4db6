#include "persistence/persistencelog.h"

Q_LOGGING_CATEGORY(lcPersistence, "velkora.persistence")
