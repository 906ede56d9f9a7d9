#!/usr/bin/env bash
# Runs every fuzz target for SECONDS each (default 60) and fails when any of them finds a crash,
# a sanitizer report, a hang or runaway memory.
#
#     scripts/fuzz.sh [SECONDS]
#
# Builds the targets with clang, AddressSanitizer and UndefinedBehaviorSanitizer in build-asan/
# (the folder scripts/test.sh runs the sanitized test suite in), makes their seed inputs from the
# demo program generator and the test fixtures, and keeps what each campaign learns in
# build-asan/fuzz/corpus/. A finding is saved under build-asan/fuzz/findings/<target>/; rerun it
# with: build-asan/fuzz/<target> FILE
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_EACH="${1:-60}"
ROOT="$PWD"
JOBS="$(nproc)"
. scripts/sanitizers/env.sh
BUILD="$IGXL_ASAN_BUILD"

if ! command -v clang++ >/dev/null; then
  echo "fuzz.sh: clang++ is missing (scripts/install-deps.sh installs it)" >&2
  exit 2
fi
igxl_configure_asan
TARGETS=(fuzz_workbook fuzz_sheets fuzz_expression fuzz_vba fuzz_refactor fuzz_ovba)
cmake --build "$BUILD" -j"$JOBS" --target "${TARGETS[@]}" demo_gen vba_project_builder

# Seed inputs: made fresh on every run from our own generator and fixtures.
SEEDS="$BUILD/fuzz/seeds"
rm -rf "$SEEDS"
mkdir -p "$SEEDS"/{fuzz_workbook,fuzz_sheets,fuzz_expression,fuzz_vba,fuzz_refactor,fuzz_ovba}
for platform in UltraFLEX UltraFLEXplus J750; do
  "$BUILD/bin/demo_gen" "$SEEDS/demo_$platform" --platform "$platform" >/dev/null
  cp "$SEEDS/demo_$platform/DemoProgram.xlsm" "$SEEDS/fuzz_workbook/demo_$platform.xlsm"
  for f in "$SEEDS/demo_$platform"/*.txt; do
    cp "$f" "$SEEDS/fuzz_sheets/${platform}_$(basename "$f" | tr ' %' '__')"
  done
done
# The demo workbook's varying parts unpacked, in the packed-here form of fuzz_workbook.
/usr/bin/python3 - "$SEEDS" <<'PY'
import sys, zipfile, pathlib
seeds = pathlib.Path(sys.argv[1])
for book in sorted((seeds / "fuzz_workbook").glob("*.xlsm")):
    z = zipfile.ZipFile(book)
    names = z.namelist()
    sst = z.read("xl/sharedStrings.xml") if "xl/sharedStrings.xml" in names else b""
    sty = z.read("xl/styles.xml") if "xl/styles.xml" in names else b""
    for n in names:
        if n.startswith("xl/worksheets/sheet") and n.endswith(".xml"):
            out = seeds / "fuzz_workbook" / f"{book.stem}_{pathlib.Path(n).stem}.xml"
            out.write_bytes(z.read(n) + b"\x01" + sst + b"\x01" + sty)
PY
find tests -path '*/fixtures/*' -name '*.txt' ! -name expected.txt ! -name steps.txt -print0 |
  while IFS= read -r -d '' f; do cp "$f" "$SEEDS/fuzz_sheets/fixture_$(echo "$f" | tr '/ %' '___')"; done
find tests -path '*/fixtures/*' -iname '*.bas' -print0 |
  while IFS= read -r -d '' f; do
    cp "$f" "$SEEDS/fuzz_vba/$(basename "$f")"
    cp "$f" "$SEEDS/fuzz_refactor/$(basename "$f")"
  done
# Macro projects: the report's own (its modules from tools/vba_project), and its compressed
# streams (dir and each module's source) on their own.
"$BUILD/bin/vba_project_builder" --output "$SEEDS/fuzz_ovba/report.bin" --streams "$SEEDS/fuzz_ovba/report" \
  tools/vba_project/*.bas >/dev/null
mv "$SEEDS/fuzz_ovba/report"/* "$SEEDS/fuzz_ovba/" && rmdir "$SEEDS/fuzz_ovba/report"
# Expressions: a first line to evaluate, then global ("NAME<tab>VALUE") and AC spec
# ("NAME<tab>SELECTOR<tab>VALUE") variables.
printf '=_VDD*1.1\nVDD\t1.8*V\n' >"$SEEDS/fuzz_expression/global"
printf '=1/(_PER+2*NS)\nPER\tTyp\t=10*NS\nPER2\tMax\t=_PER*2\n' >"$SEEDS/fuzz_expression/ac"
printf '(_A+_B)/-2*3.5e-3\nA\t_B+1\nB\tTyp\t=4*MA\n' >"$SEEDS/fuzz_expression/nested"
{
  echo "=_L12"
  printf 'L0\tTyp\t=1\n'
  for i in $(seq 1 12); do printf 'L%d\tTyp\t=_L%d+1+_L%d+1\n' "$i" $((i - 1)) $((i - 1)); done
} >"$SEEDS/fuzz_expression/doubling"

failed=()
for t in "${TARGETS[@]}"; do
  corpus="$BUILD/fuzz/corpus/$t"
  findings="$BUILD/fuzz/findings/$t"
  mkdir -p "$corpus" "$findings"
  args=(-max_total_time="$SECONDS_EACH" -timeout=20 -rss_limit_mb=2560 -print_final_stats=1
        -artifact_prefix="$ROOT/$findings/")
  if [ "$t" = fuzz_workbook ]; then args+=(-dict="$ROOT/fuzz/xml.dict"); fi
  # libgsf loses a directory entry of some damaged compound files (see lsan.supp); the leak
  # stack reaches libgsf only when unwound the slow way, through GLib.
  asan="$ASAN_OPTIONS"
  if [ "$t" = fuzz_ovba ]; then asan="$ASAN_OPTIONS:fast_unwind_on_malloc=0"; fi
  echo "== $t: ${SECONDS_EACH} s"
  if ! ASAN_OPTIONS="$asan" "$BUILD/fuzz/$t" "${args[@]}" "$corpus" "$SEEDS/$t" 2>"$BUILD/fuzz/$t.log"; then
    tail -n 60 "$BUILD/fuzz/$t.log" >&2
    failed+=("$t")
  else
    grep -E 'stat::number_of_executed_units|stat::peak_rss_mb' "$BUILD/fuzz/$t.log" || true
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz.sh: findings in ${failed[*]} (inputs under $BUILD/fuzz/findings/)" >&2
  exit 1
fi
echo "fuzz.sh: no findings"
