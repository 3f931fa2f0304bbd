#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/setup.sh"
build="${FW_BUILD_DIR:-$root/build}"

# The sources keep the repository's format (scripts/format.sh applies it).
"$root/scripts/format.sh" --check
jobs="${FW_JOBS:-$(nproc)}"

# The byte-level codecs also run under AddressSanitizer and UBSan.
if [ "${FW_SKIP_SANITIZERS:-0}" != 1 ]; then
  san="${build}-sanitize"
  FW_BUILD_DIR="$san" FW_BUILD_TYPE=Debug "$root/scripts/build.sh" \
    -DFW_CODECS_ONLY=ON -DFW_SANITIZE=address,undefined
  ctest --test-dir "$san" --output-on-failure --parallel "$jobs" --timeout 900
fi

# The fuzz harnesses replay their seeds (clang build); the long runs are scripts/fuzz.sh's.
if [ "${FW_SKIP_FUZZ_REPLAY:-0}" != 1 ] && command -v clang++ >/dev/null; then
  FW_FUZZ_BUILD_DIR="${build}-fuzz" FW_JOBS="$jobs" "$root/scripts/fuzz.sh" --replay
fi

# The whole system last, so its summary closes the run. Benchmarks are built
# (not run) so that they keep compiling.
FW_BUILD_DIR="$build" "$root/scripts/build.sh" -DFW_BUILD_BENCH=ON
ctest --test-dir "$build" --output-on-failure --parallel "$jobs" --timeout 900

# The windows' pictures (build/screenshots); no display needed.
FW_BUILD_DIR="$build" "$root/scripts/screenshots.sh"
