#!/usr/bin/env bash
# Runs clang-tidy with the checks in .clang-tidy over the program and its tests, using the
# compile commands of build/ (scripts/build.sh writes them); fails on any finding. Files given as
# arguments limit the run to them. JOBS sets how many run at once (default 2).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

clang_tidy=${CLANG_TIDY:-$(command -v clang-tidy-14 || command -v clang-tidy || true)}
if [ -z "$clang_tidy" ]; then
    echo "tidy: clang-tidy not found (scripts/install-deps.sh installs it)" >&2
    exit 1
fi
if [ ! -f build/compile_commands.json ]; then
    echo "tidy: build/compile_commands.json is missing; run scripts/build.sh first" >&2
    exit 1
fi

if [ $# -gt 0 ]; then
    files=("$@")
else
    # Every translation unit of src/ and tests/ the build compiles; moc's output (in build/) is
    # generated code and not ours to fix.
    mapfile -t files < <(python3 - "$root" <<'PY'
import json, os, sys
root = sys.argv[1]
with open(os.path.join(root, "build", "compile_commands.json")) as f:
    entries = json.load(f)
wanted = (os.path.join(root, "src") + os.sep, os.path.join(root, "tests") + os.sep)
for path in sorted({os.path.normpath(os.path.join(e["directory"], e["file"])) for e in entries}):
    if path.startswith(wanted):
        print(path)
PY
    )
fi

log=$(mktemp)
trap 'rm -f "$log"' EXIT
# GCC builds C++17 by default, so the compile commands carry no -std flag; clang's default is
# older and would not see std::optional or std::clamp.
printf '%s\0' "${files[@]}" | xargs -0 -n 1 -P "${JOBS:-2}" "$clang_tidy" -p build --quiet \
    --extra-arg=-std=gnu++17 --header-filter="^$root/(src|tests|bench)/" >"$log" 2>/dev/null \
    || true
# A header included by several files reports the same finding once per file.
findings=$(grep -E '^[^ ].*:[0-9]+:[0-9]+: (warning|error):' "$log" | sort -u || true)
if [ -n "$findings" ]; then
    cat "$log"
    echo
    echo "tidy: $(wc -l <<<"$findings") findings:"
    echo "$findings"
    exit 1
fi
echo "tidy: ${#files[@]} files, no findings"
