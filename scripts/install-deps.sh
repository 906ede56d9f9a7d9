#!/usr/bin/env bash
# Installs every build, run and test dependency on Debian 12. Safe to run again.
set -euo pipefail
SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
PKGS=(
  build-essential cmake pkg-config git
  libzip-dev libpcre2-dev libfreexl-dev
  libtsl-ordered-map-dev libcli11-dev libexpat1-dev zlib1g-dev libisal-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libgsf-1-dev nlohmann-json3-dev
  clang libclang-rt-14-dev  # sanitizer and libFuzzer runtimes: the sanitized tests, fuzz/
  python3 python3-openpyxl python3-xlwt python3-jsonschema
)
# Extra packages some later test needs can be appended by name in EXTRA_PKGS.
if [ -n "${EXTRA_PKGS:-}" ]; then read -r -a extra <<<"$EXTRA_PKGS"; PKGS+=("${extra[@]}"); fi
missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
echo "dependencies: all installed"
