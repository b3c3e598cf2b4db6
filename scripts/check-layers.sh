#!/usr/bin/env bash
# Fails when a folder that knows records and bytes only (persistence, loading) includes a class
# of the scene, the view or the application: their workers must never build or touch items.
set -euo pipefail
cd "$(dirname "$0")/.."

allowed='scene/(itemrecord|itemlimits)\.h'
if found=$(grep -rnE '#include "(scene|view|app|ui|commands)/' src/persistence src/loading \
    | grep -vE "#include \"$allowed\""); then
    echo "check-layers: persistence and loading include item or window classes:" >&2
    echo "$found" >&2
    exit 1
fi
