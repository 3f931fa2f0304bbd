#!/usr/bin/env bash
# Draws the windows in their named states into build/screenshots/*.png (or
# $FW_SCREENSHOT_DIR). Arguments: state names (all when none). Runs under
# Xvfb when xvfb-run exists and works, else on Qt's offscreen platform, so it never
# needs a display.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${FW_BUILD_DIR:-$root/build}"
output="${FW_SCREENSHOT_DIR:-$build/screenshots}"
if [ ! -f "$build/CMakeCache.txt" ]; then
  FW_BUILD_DIR="$build" "$root/scripts/build.sh"
fi
cmake --build "$build" --parallel "${FW_JOBS:-$(nproc)}" --target fw_screenshots
program="$build/tests/screenshots/fw_screenshots"
mkdir -p "$output"
# Drawn as on a desktop that names no icon theme, whatever desktop runs this.
unset XDG_CURRENT_DESKTOP QT_QPA_PLATFORMTHEME
if command -v xvfb-run >/dev/null && xvfb-run -a true >/dev/null 2>&1; then
  xvfb-run -a -s "-screen 0 1600x1000x24" "$program" --output "$output" "$@"
else
  QT_QPA_PLATFORM=offscreen "$program" --output "$output" "$@"
fi
