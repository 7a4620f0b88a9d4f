#!/usr/bin/env bash
# Sets up a fresh machine and runs every test: a normal build, a build under
# AddressSanitizer and UndefinedBehaviorSanitizer, the threaded tests under ThreadSanitizer,
# the Windows cross build with its tests under Wine, and the packages with their checks.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

jobs=$(nproc)

echo "== Build and test =="
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure --timeout 300

echo "== Build and test under AddressSanitizer and UndefinedBehaviorSanitizer =="
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DKL395_SANITIZE=address,undefined \
  -DKL395_BENCH=OFF
cmake --build build-asan -j"$jobs"
LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0" \
  ctest --test-dir build-asan --output-on-failure --timeout 300

echo "== Search and window threads, and the watch's hook and MQTT threads, under ThreadSanitizer =="
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DKL395_SANITIZE=thread -DKL395_BENCH=OFF
cmake --build build-tsan -j"$jobs" --target search_worker_test search_control_test search_cli_test \
  hook_test mqtt_test
TSAN_OPTIONS="suppressions=$PWD/scripts/tsan.supp" ctest --test-dir build-tsan --output-on-failure \
  --timeout 300 -R '^(SearchWorkerTest|SearchControlTest|CliSearch|ChangeHook|MqttTest)'

echo "== Windows cross build =="
cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release
cmake --build build-win -j"$jobs"

echo "== Windows tests under Wine =="
tests/win32/run-under-wine.sh build-win build

echo "== Packages: the Debian package, the Windows zip and installer, built and checked =="
# The zip comes from the Windows build above, reconfigured without its tests.
scripts/package-test.sh build-deb build-win
