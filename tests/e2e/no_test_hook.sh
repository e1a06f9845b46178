#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The window tests' driver stays out of what is installed: the marks of the driver (its
# environment variables, its screenshot command, its symbols) are in the test build varnol-test,
# which shows that this check sees them, and in none of the shipped programs; and no install
# rule of the build names the test build.
#
#   no_test_hook.sh BUILD_DIR VARNOL_TEST PROGRAM...
set -uo pipefail
build=$1
test_build=$2
shift 2
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
texts=(VARNOL_TEST_SCRIPT VARNOL_TEST_OUTPUT "import -window root")
symbols=(StartTestScript TestScript CVarnolTestApp)

# marks FILE: prints each mark found in FILE, one a line.
marks() {
  local strings_out symbols_out m
  strings_out=$(strings -a "$1")
  symbols_out=$(nm -C "$1" 2>/dev/null)
  for m in "${texts[@]}"; do
    grep -qF -- "$m" <<< "$strings_out" && echo "$m"
  done
  for m in "${symbols[@]}"; do
    grep -qF -- "$m" <<< "$symbols_out" && echo "$m"
  done
}

found=$(marks "$test_build")
[ "$(grep -c . <<< "$found")" -eq $((${#texts[@]} + ${#symbols[@]})) ] ||
  fail "the test build lacks some of the driver's marks (found: $(tr '\n' ',' <<< "$found"))"
for program in "$@"; do
  [ -s "$program" ] || { fail "no program $program"; continue; }
  found=$(marks "$program")
  [ -z "$found" ] || fail "$program holds the test driver: $(tr '\n' ',' <<< "$found")"
done
rules=$(grep -rl --include=cmake_install.cmake -e "$(basename "$test_build")" "$build")
[ -z "$rules" ] || fail "an install rule names $(basename "$test_build"): $rules"
[ "$failures" -eq 0 ] || exit 1
echo "no test hook in: $*"
