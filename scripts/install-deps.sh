#!/usr/bin/env bash
# Installs the Debian packages that building and testing Vantrel needs.
# Runs apt-get only when something is missing, so a second run is quick.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  googletest libgtest-dev libgmock-dev
  libxapian-dev xapian-tools libpoppler-cpp-dev zlib1g-dev libcpp-httplib-dev nlohmann-json3-dev
  libjpeg-dev libsystemd-dev libexpat1-dev
  clang libclang-rt-14-dev
  libimage-exiftool-perl exiv2 attr
  libssl-dev chromium
)
# Node.js for the browser tests: Debian's packages, unless the machine already
# has node and npm from elsewhere (whose packages would conflict with them).
command -v node >/dev/null 2>&1 || packages+=(nodejs)
command -v npm >/dev/null 2>&1 || packages+=(npm)

# The console's browser tests need playwright-core (pinned in
# tests/browser/package-lock.json) beside them; without it they are skipped.
install_browser_test_packages() {
  local dir
  dir="$(cd "$(dirname "$0")/.." && pwd)/tests/browser"
  [ -d "$dir/node_modules/playwright-core" ] && return 0
  command -v npm >/dev/null 2>&1 || return 0
  echo "install-deps: npm ci in $dir"
  if ! (cd "$dir" && npm ci --no-audit --no-fund >/dev/null 2>&1); then
    echo "install-deps: npm ci failed in $dir; the browser tests will be skipped" >&2
  fi
}

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all ${#packages[@]} packages present"
  install_browser_test_packages
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: missing packages: ${missing[*]}" >&2
  echo "install-deps: run as root (or install them with apt-get) and try again" >&2
  exit 1
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
install_browser_test_packages
