#!/usr/bin/env bash
# Fails when a tracked C++ file does not follow .clang-format; lists the files that do not.
set -euo pipefail
cd "$(dirname "$0")/.."
format=$(command -v clang-format-14 || command -v clang-format)
bad=0
while IFS= read -r f; do
    "$format" --dry-run -Werror "$f" >/dev/null 2>&1 || { echo "not formatted: $f"; bad=1; }
done < <(git ls-files '*.cpp' '*.h')
exit "$bad"
