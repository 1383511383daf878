#!/usr/bin/env bash
# Installs everything Tabulon Mobile needs to build and test, from Debian's
# packages only. Idempotent: when every package is present it prints nothing
# and returns at once.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkgconf
  libicu-dev icu-devtools
  libsqlite3-dev
  libcli11-dev libcsv-dev
  qt6-base-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libspdlog-dev
  libssl-dev
  libzxing-dev
  clang libclang-rt-14-dev clang-format
  fonts-dejavu-core fonts-ipafont-gothic
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if ((${#missing[@]} == 0)); then
  exit 0
fi

echo "Installing missing packages: ${missing[*]}"
sudo_cmd=()
if [[ $(id -u) -ne 0 ]]; then
  sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
echo "Packages installed."
