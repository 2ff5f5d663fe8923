#!/usr/bin/env bash
# Installs what the tests need, then builds and runs every suite:
#   1. the plain build, every test;
#   2. AddressSanitizer + UndefinedBehaviorSanitizer, every test;
#   3. ThreadSanitizer, the threaded suites;
#   4. quorvane.exe cross-built, its tests under Wine (scripts/test_windows.sh);
#   5. each libFuzzer target for a bounded time (FUZZ_SECONDS, default 60).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install_deps.sh g++ cmake make libgtest-dev libbenchmark-dev clang-14 \
  libclang-rt-14-dev binutils-mingw-w64-i686 libncurses-dev tmux
JOBS=$(nproc)
FUZZ_SECONDS=${FUZZ_SECONDS:-60}
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1

configure() {  # configure DIR [cmake options...]
  local dir=$1; shift
  cmake -S . -B "$dir" -DQV_BUILD_BENCH=OFF "$@" >/dev/null
}
build() {  # build DIR [cmake options...]
  configure "$@"
  cmake --build "$1" -j"$JOBS"
}

echo "== plain build"
build build-test -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQV_BUILD_BENCH=ON
ctest --test-dir build-test --output-on-failure -j"$JOBS"

echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
build build-asan -DCMAKE_BUILD_TYPE=Debug -DQV_SANITIZE=address,undefined
ctest --test-dir build-asan --output-on-failure -j"$JOBS"

echo "== ThreadSanitizer"
build build-tsan -DCMAKE_BUILD_TYPE=Debug -DQV_SANITIZE=thread
ctest --test-dir build-tsan --output-on-failure -j"$JOBS"

echo "== Windows program (MinGW-w64), its tests under Wine"
bash scripts/test_windows.sh

echo "== fuzzing, ${FUZZ_SECONDS}s per target"
configure build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++-14 \
  -DQV_BUILD_FUZZ=ON
cmake --build build-fuzz -j"$JOBS" --target qv_fuzzers
for target in build-fuzz/tests/fuzz/fuzz_*; do
  [ -x "$target" ] || continue
  echo "-- $(basename "$target")"
  work=$(mktemp -d)
  (cd "$work" && "$OLDPWD/$target" -max_total_time="$FUZZ_SECONDS" -timeout=10 -rss_limit_mb=4096 \
     -print_final_stats=1 2>&1 | tail -n 15)
  rm -rf "$work"
done

echo "== every suite passed"
