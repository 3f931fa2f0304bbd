#!/usr/bin/env bash
# Configures and builds into build/ (or $FW_BUILD_DIR). Extra arguments go to cmake's configure step.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# The compiler cache names sources relative to the checkout, so that a fresh
# clone elsewhere (as CI makes) reuses what an earlier build compiled.
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$root}" CCACHE_NOHASHDIR="${CCACHE_NOHASHDIR:-1}"
build="${FW_BUILD_DIR:-$root/build}"
jobs="${FW_JOBS:-$(nproc)}"
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE="${FW_BUILD_TYPE:-Release}" "$@"
else
  cmake -S "$root" -B "$build" "$@" >/dev/null
fi
cmake --build "$build" --parallel "$jobs"
