#!/usr/bin/env bash
# Installs the dependencies, builds everything and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
# LibreOffice opens our report workbooks in tests as a real client of their macro project.
TEST_PKGS="${TEST_PKGS:-libreoffice-calc-nogui}"
EXTRA_PKGS="$TEST_PKGS" scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)"
cd build
ctest --output-on-failure -j"$(nproc)" --timeout 600
