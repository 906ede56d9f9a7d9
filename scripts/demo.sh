#!/usr/bin/env bash
# Installs the dependencies, builds, and checks the shipped demo program; prints the report path.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)"
mkdir -p out
build/bin/vantor check demo/program/DemoProgram.xlsm --all --work-dir out/work --out out
