#!/usr/bin/env bash
# Fails when a C++ file under src, tests, bench or fuzz differs from what .clang-format makes of
# it. Other clang-format releases lay out some constructs differently; the configuration is tuned
# for 14, the one Debian 12 ships. CLANG_FORMAT picks another binary.
set -euo pipefail
cd "$(dirname "$0")/.."

clang_format=${CLANG_FORMAT:-$(command -v clang-format-14 || command -v clang-format || true)}
if [ -z "$clang_format" ]; then
    echo "check-format: clang-format not found (scripts/install-deps.sh installs it)" >&2
    exit 1
fi

mapfile -d '' files < <(find src tests bench fuzz -type f \( -name '*.cpp' -o -name '*.h' \) \
    -print0 | sort -z)
"$clang_format" --style=file --dry-run -Werror "${files[@]}"
