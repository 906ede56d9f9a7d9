# The sanitizer build and its run options (sourced by scripts/test.sh and scripts/fuzz.sh).
# One clang build in build-asan/ serves both the sanitized test suite and the fuzz targets.
IGXL_ASAN_BUILD=build-asan
_supp="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/lsan.supp"
export ASAN_OPTIONS="detect_leaks=1:strict_string_checks=1:check_initialization_order=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$_supp:print_suppressions=0"
unset _supp

igxl_configure_asan() {
  # -O1 and line tables only: the build is a third of the CI time, the reports keep file:line.
  cmake -S . -B "$IGXL_ASAN_BUILD" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g1" -DCMAKE_C_FLAGS_DEBUG="-O1 -g1" \
    -DIGXL_FUZZ=ON -DIGXL_BENCH=OFF >/dev/null
}
