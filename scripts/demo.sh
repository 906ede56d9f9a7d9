#!/usr/bin/env bash
# Installs the dependencies, builds, generates the demo program and checks it; prints the report path.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)"
cmake --build build --target demo_program
mkdir -p out
build/bin/vantor check build/demo/DemoProgram.xlsm --all --work-dir out/work --out out
