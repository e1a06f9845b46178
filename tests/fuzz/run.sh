#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the fuzz harnesses with clang's libFuzzer (address and undefined-behaviour sanitizers
# on) and lets each one search for new inputs for a while. The seed corpus and the saved
# regression inputs start each search; new inputs found are kept in BUILD/corpus/NAME, and an
# input that breaks a property is saved in BUILD/crashes/NAME/ -- copy it into
# tests/fuzz/regressions/NAME/ once the fault is mended, so the replay tests keep it.
#
#   run.sh [BUILD_DIR] [SECONDS_EACH] [NAME...]     (defaults: build-fuzz, 60, every harness)
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
SRC=$(cd "$HERE/../.." && pwd)
BUILD=${1:-build-fuzz}
SECONDS_EACH=${2:-60}
shift $(( $# > 2 ? 2 : $# ))
NAMES=("$@")
[ ${#NAMES[@]} -gt 0 ] || NAMES=(hive path script wininit recording)

CXX=${FUZZ_CXX:-clang++}
command -v "$CXX" >/dev/null || { echo "error: $CXX not found (scripts/install-deps.sh fuzz)" >&2; exit 1; }
mkdir -p "$BUILD/obj"
BUILD=$(cd "$BUILD" && pwd)  # absolute: a harness may change its working folder
FLAGS=(-std=c++20 -g -O1 -fno-omit-frame-pointer -fsanitize=address,undefined -I"$SRC/src" -I"$SRC/tests")
FLAGS+=($(pkg-config --cflags sndfile soxr))
LIBS=($(pkg-config --libs sndfile soxr) -pthread)

# The code under test, built once for every harness.
objects=()
for f in "$SRC"/src/platform/*.cpp "$SRC"/src/setup/*.cpp "$SRC"/src/capture/recording_source.cpp; do
  case $(basename "$f") in wx_*) continue ;; esac
  o="$BUILD/obj/$(basename "$(dirname "$f")")_$(basename "${f%.cpp}").o"
  if [ ! -f "$o" ] || [ "$f" -nt "$o" ]; then
    "$CXX" "${FLAGS[@]}" -fsanitize=fuzzer-no-link -c "$f" -o "$o"
  fi
  objects+=("$o")
done

summary=()
failed=0
for name in "${NAMES[@]}"; do
  exe="$BUILD/${name}_fuzz"
  "$CXX" "${FLAGS[@]}" -fsanitize=fuzzer "$HERE/${name}_fuzz.cpp" "${objects[@]}" "${LIBS[@]}" -o "$exe"
  corpus="$BUILD/corpus/$name"
  crashes="$BUILD/crashes/$name"
  mkdir -p "$corpus" "$crashes"
  seeds=("$HERE/corpus/$name")
  [ -d "$HERE/regressions/$name" ] && seeds+=("$HERE/regressions/$name")
  log="$BUILD/$name.log"
  echo "== $name: $SECONDS_EACH s"
  status=0
  "$exe" "$corpus" "${seeds[@]}" -max_total_time="$SECONDS_EACH" -timeout=10 -rss_limit_mb=2048 \
    -max_len=4096 -print_final_stats=1 -artifact_prefix="$crashes/" >"$log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  secs=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  found=$(find "$crashes" -type f | wc -l)
  summary+=("$name: ${runs:-?} executions in $SECONDS_EACH s (${secs:-?}/s), corpus $(ls "$corpus" | wc -l), crash inputs $found, exit $status")
  if [ "$status" -ne 0 ]; then
    failed=1
    grep -m5 -E 'ERROR|property broken|SUMMARY|exiting' "$log" >&2 || true
  fi
done
printf '%s\n' "${summary[@]}"
[ "$failed" -eq 0 ] || { echo "a fuzzer failed; logs in $BUILD" >&2; exit 1; }
for name in "${NAMES[@]}"; do
  [ -z "$(find "$BUILD/crashes/$name" -type f)" ] || { echo "crash inputs kept in $BUILD/crashes" >&2; exit 1; }
done
