#!/usr/bin/env bash
# The program builds and `make run` starts without the test tools: configuring without GoogleTest
# and Google Benchmark still gives the lomex target (and no test programs), and `make run`
# installs only what building and running need.
set -euo pipefail
source=$1
top=$(mktemp -d)
trap 'rm -rf "$top"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake -S "$source" -B "$top/build" -G Ninja -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON \
  -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON >"$top/configure.log" 2>&1 || fail "configure: $(cat "$top/configure.log")"
targets=$(ninja -C "$top/build" -t targets all)
grep -q '^lomex:' <<<"$targets" || fail "no lomex target"
! grep -q '^tests/tests_' <<<"$targets" || fail "test programs without GoogleTest"
grep -qx 'LOMEX_TESTS:INTERNAL=OFF' "$top/build/CMakeCache.txt" || fail "LOMEX_TESTS is not OFF"

# What make run would do, without doing it: the plain bootstrap, never the tests' one.
run=$(make -n -C "$source" BUILD="$top/build" run)
grep -q 'scripts/bootstrap$' <<<"$run" || fail "make run does not bootstrap: $run"
! grep -q 'bootstrap --tests' <<<"$run" || fail "make run installs the test tools: $run"
grep -q 'bootstrap --tests' <<<"$(make -n -C "$source" BUILD="$top/build" test)" || fail "make test does not install the test tools"
# The run list holds none of the tests' packages.
for tool in libgtest-dev libbenchmark-dev xvfb openbox tint2 xcompmgr xdotool python3-dbusmock; do
  ! sed -n '/^RUN_PACKAGES=(/,/^)/p' "$source/scripts/bootstrap" | grep -qw -- "$tool" || fail "$tool is in the run list"
  sed -n '/^TEST_PACKAGES=(/,/^)/p' "$source/scripts/bootstrap" | grep -qw -- "$tool" || fail "$tool is in no list"
done
echo "no-test-tools test: 1 passed, 0 failed"
