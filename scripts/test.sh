#!/usr/bin/env bash
# Installs the dependencies, builds everything and runs every test; then runs the same tests
# built with AddressSanitizer and UndefinedBehaviorSanitizer (build-asan/); then builds the Windows
# package and runs its tests under Wine (scripts/test-windows.sh). IGXL_SANITIZE_TESTS=0 leaves
# the second run out, IGXL_WINDOWS_TESTS=0 the third.
set -euo pipefail
cd "$(dirname "$0")/.."
# LibreOffice opens our report workbooks in tests as a real client of their macro project.
TEST_PKGS="${TEST_PKGS:-libreoffice-calc-nogui}"
EXTRA_PKGS="$TEST_PKGS" scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)"
(cd build && ctest --output-on-failure -j"$(nproc)" --timeout 600)

if [ "${IGXL_SANITIZE_TESTS:-1}" != 0 ]; then
  . scripts/sanitizers/env.sh
  igxl_configure_asan
  cmake --build "$IGXL_ASAN_BUILD" -j"$(nproc)"
  (cd "$IGXL_ASAN_BUILD" && ctest --output-on-failure -j"$(nproc)" --timeout 600)
fi

if [ "${IGXL_WINDOWS_TESTS:-1}" != 0 ]; then
  scripts/test-windows.sh
fi
