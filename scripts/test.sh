#!/usr/bin/env bash
# Installs what is missing, builds Tonvik and runs every test:
#  1. the normal build (build/) and all its tests;
#  2. the fuzz corpora replayed under AddressSanitizer and UndefinedBehaviorSanitizer (build-asan/, clang);
#  3. the sequencer's thread tests under ThreadSanitizer (build-tsan/), built as Release;
#  4. the window's offscreen tests under AddressSanitizer and UndefinedBehaviorSanitizer, any report
#     failing the test (build-sanitize-qt/, clang, Debug).
# Warnings are errors in every tree, so that each build type stays free of them.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

jobs=$(nproc)

echo "== build and test (build/)"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTONVIK_WERROR=ON >/dev/null
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs" --timeout 600

echo "== fuzz corpora under ASan/UBSan (build-asan/)"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DTONVIK_WITH_QT=OFF -DTONVIK_WITH_BENCH=OFF -DTONVIK_FUZZ=ON -DTONVIK_SANITIZE=address,undefined -DTONVIK_WERROR=ON \
  >/dev/null
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs" -L 'fuzz|asan' --timeout 900

echo "== thread tests under TSan (build-tsan/, Release)"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Release -DTONVIK_WITH_QT=OFF -DTONVIK_WITH_BENCH=OFF \
  -DTONVIK_SANITIZE=thread -DTONVIK_WERROR=ON >/dev/null
cmake --build build-tsan -j "$jobs"
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
  ctest --test-dir build-tsan --output-on-failure -j "$jobs" -L tsan --timeout 900

echo "== the window's offscreen tests under ASan/UBSan (build-sanitize-qt/)"
cmake -S . -B build-sanitize-qt -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang \
  -DCMAKE_CXX_COMPILER=clang++ -DTONVIK_WITH_BENCH=OFF -DTONVIK_SANITIZE=address,undefined -DTONVIK_WERROR=ON >/dev/null
cmake --build build-sanitize-qt -j "$jobs" --target qt_app_test qt_dialogs_test
QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-sanitize-qt --output-on-failure -j "$jobs" -L '^qt$' --timeout 900
