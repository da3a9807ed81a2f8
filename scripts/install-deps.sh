#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the tools need, then
# the SQLite amalgamation of the Windows builds (scripts/fetch-sqlite.sh).
# Idempotent: does nothing (and prints one line each) when everything is present.
# Needs root (or sudo) on Debian 12; the i386 architecture is added for Wine.
set -euo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

PACKAGES=(
  build-essential cmake ninja-build pkg-config git
  clang clang-format clang-tidy libclang-rt-dev lld
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  zlib1g-dev libtinyexr-dev libutfcpp-dev libcli11-dev nlohmann-json3-dev libstb-dev librapidxml-dev
  colord-data openexr libxml2-utils argyll tshark python3
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix libz-mingw-w64-dev
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix
  wine wine32:i386 wine64 procps iproute2
  wixl msitools lintian dpkg-dev python3-pefile
  libsqlite3-dev sqlite3 libpq-dev postgresql
  libcpp-httplib-dev libssl-dev openssl chromium chromium-driver python3-selenium curl
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
else
  echo "install-deps: installing ${missing[*]}"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
  fi
  export DEBIAN_FRONTEND=noninteractive
  # tshark asks whether non-root users may capture; answer no without a prompt.
  echo "wireshark-common wireshark-common/install-setuid boolean false" | $SUDO debconf-set-selections
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  echo "install-deps: done"
fi

# Not a Debian package: the Windows builds compile SQLite from its
# amalgamation, kept in the cache of the user who runs this script (only
# apt-get runs through sudo).
"$(dirname "$0")/fetch-sqlite.sh"
