#!/usr/bin/env bash
# Installs the dependencies, builds, generates the demo program and checks it twice (periods and
# frequencies, with a power order file and the patterns read through patinfo); prints where the
# reports went.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)"
cmake --build build --target demo_program
demo=build/demo
mkdir -p out/period out/frequency

# The power order file (a legacy .xls): which power pins the job sheets show, in which order and
# under which names. vdd_aux pins are left out on purpose; VREF is in no pin levels sheet.
/usr/bin/python3 scripts/power_order_xls.py "$demo/PowerOrder.xls"

for mode in Period Frequency; do
  out=out/$(echo "$mode" | tr 'A-Z' 'a-z')
  build/bin/vantor check "$demo/DemoProgram.xlsm" --all --cycle-mode "$mode" \
    --pattern-path "$demo/patterns" --patinfo build/bin/patinfo \
    --power-order "$demo/PowerOrder.xls" \
    --work-dir "out/work_$mode" --out "$out"
done
echo "Demo reports: $(ls -t out/period/Vantor_*.xlsm | head -1) and $(ls -t out/frequency/Vantor_*.xlsm | head -1)"
