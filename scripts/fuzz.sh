#!/usr/bin/env bash
# Builds the libFuzzer harnesses in fuzz/ with clang (ASan + UBSan) into
# build-fuzz/ and runs them.
#
#   scripts/fuzz.sh [--seconds N] [--jobs N] [fuzzer ...]   fuzz each (default: all) for N seconds (300)
#   scripts/fuzz.sh --replay [fuzzer ...]                    run each harness over its seeds once
#
# Seeds live in fuzz/corpus/<fuzzer>/ (small files, committed); inputs found
# while fuzzing go to build-fuzz/corpus/<fuzzer>/, crashes to build-fuzz/crashes/.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# The compiler cache names sources relative to the checkout, so that a fresh
# clone elsewhere (as CI makes) reuses what an earlier build compiled.
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$root}" CCACHE_NOHASHDIR="${CCACHE_NOHASHDIR:-1}"
build="${FW_FUZZ_BUILD_DIR:-$root/build-fuzz}"
seconds=300
replay=0
jobs=1
names=()
while [ $# -gt 0 ]; do
  case "$1" in
    --replay) replay=1 ;;
    --seconds) seconds="$2"; shift ;;
    --jobs) jobs="$2"; shift ;;
    -h|--help) sed -n '2,9p' "$0"; exit 0 ;;
    *) names+=("$1") ;;
  esac
  shift
done

generator=()
generator_args=()
command -v ninja >/dev/null && generator=(-G Ninja)
# The libraries get coverage instrumentation too (fuzzer-no-link), or the
# fuzzer could not see its way through the decoders.
[ -f "$build/CMakeCache.txt" ] || generator_args=("${generator[@]}")
CC=clang CXX=clang++ cmake -S "$root" -B "$build" "${generator_args[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DFW_FUZZ=ON -DFW_CODECS_ONLY=ON -DFW_BUILD_TESTS=OFF -DFW_SANITIZE=address,undefined \
  -DCMAKE_C_FLAGS=-fsanitize=fuzzer-no-link -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link >/dev/null
cmake --build "$build" --parallel "${FW_JOBS:-4}"

if [ ${#names[@]} -eq 0 ]; then
  for source in "$root"/fuzz/*_fuzzer.cpp; do names+=("$(basename "$source" .cpp)"); done
fi

status=0
for name in "${names[@]}"; do
  binary="$build/fuzz/$name"
  seeds="$root/fuzz/corpus/$name"
  if [ ! -x "$binary" ]; then echo "no fuzzer named $name" >&2; exit 2; fi
  if [ "$replay" = 1 ]; then
    inputs=()
    [ -d "$seeds" ] && while IFS= read -r -d '' f; do inputs+=("$f"); done < <(find "$seeds" -type f -print0)
    if [ ${#inputs[@]} -eq 0 ]; then echo "$name: no seeds"; continue; fi
    echo "== $name: replaying ${#inputs[@]} seeds"
    if output=$("$binary" "${inputs[@]}" 2>&1); then
      echo "$name: $(grep -c '^Executed' <<<"$output") seeds ran clean"
    else
      tail -n 40 <<<"$output"
      echo "$name: FAILED on its seeds"
      status=1
    fi
  else
    work="$build/corpus/$name"
    crashes="$build/crashes/$name"
    mkdir -p "$work" "$crashes"
    echo "== $name: fuzzing for $seconds s"
    extra=()
    [ -d "$seeds" ] && extra+=("$seeds")
    parallel=()
    [ "$jobs" -gt 1 ] && parallel=(-jobs="$jobs" -workers="$jobs")
    "$binary" -max_total_time="$seconds" -print_final_stats=1 "${parallel[@]}" \
      -artifact_prefix="$crashes/" "$work" "${extra[@]}" 2>&1 | grep -E "DONE|^Done|ERROR|SUMMARY|stat::|crash-|leak-|timeout-|oom-" || status=1
  fi
done
exit $status
