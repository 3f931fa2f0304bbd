#!/usr/bin/env bash
# Formats the C++ sources with the repository's .clang-format, or with
# --check only reports files that differ (exit 1).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
formatter="$(command -v clang-format-14 || command -v clang-format)"
mapfile -t files < <(git ls-files -- '*.cpp' '*.h')
if [ "${1:-}" = --check ]; then
  "$formatter" --dry-run --Werror "${files[@]}"
else
  "$formatter" -i "${files[@]}"
fi
