#!/usr/bin/env bash
# Installs what is missing, builds, and runs framewright with the given arguments.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/setup.sh" >&2
build="${FW_BUILD_DIR:-$root/build}"
FW_BUILD_DIR="$build" "$root/scripts/build.sh" >&2
exec "$build/src/app/framewright" "$@"
