#!/usr/bin/env bash
# Builds the release artefacts from a clean tree into dist/:
#   dist/vantorel-<version>-win32.msi        the Windows installer (32-bit)
#   dist/vantorel_<version>_amd64.deb         the Linux driver, tools and clients
#   dist/vantorel-dev_<version>_amd64.deb     the device-module SDK
#   dist/SHA256SUMS                           sha256sum -c SHA256SUMS checks them
# The tree is the committed HEAD (git archive), so nothing uncommitted or
# built by hand ends up in a release; a dirty work tree is refused unless
# --allow-dirty is given (HEAD is still what is built).
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
JOBS=${JOBS:-2}

usage() { echo "usage: scripts/release.sh [--allow-dirty] [--help]"; }
allow_dirty=0
for arg in "$@"; do
  case $arg in
    --allow-dirty) allow_dirty=1 ;;
    -h|--help) usage; sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) usage >&2; exit 2 ;;
  esac
done
if [ "$allow_dirty" -eq 0 ] && [ -n "$(git status --porcelain --untracked-files=no)" ]; then
  echo "release: the work tree has uncommitted changes; commit them (or --allow-dirty to build HEAD anyway)" >&2
  exit 2
fi

# The Debian packages, and the SQLite amalgamation that the Windows build
# compiles (kept outside the tree, so the archived tree below finds it too).
scripts/install-deps.sh
version=$(sed -nE 's/^project\(vantorel VERSION ([0-9.]+).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "release: no version in CMakeLists.txt's project()" >&2; exit 1; }

src=$(mktemp -d /tmp/vantorel-release.XXXXXX)
trap 'rm -rf "$src"' EXIT
echo "release: vantorel $version from $(git rev-parse --short HEAD), in $src"
git archive HEAD | tar -x -C "$src"
options=(-DVANTOREL_BUILD_TESTS=OFF -DVANTOREL_BUILD_BENCH=OFF -DVANTOREL_WERROR=ON)
(cd "$src" && cmake --preset default "${options[@]}" >/dev/null &&
  cmake --build --preset default -j "$JOBS" --target package)
(cd "$src" && cmake --preset windows "${options[@]}" >/dev/null &&
  cmake --build --preset windows -j "$JOBS" --target msi)

arch=$(dpkg --print-architecture)
mkdir -p dist
artefacts=("vantorel-$version-win32.msi" "vantorel_${version}_$arch.deb" "vantorel-dev_${version}_$arch.deb")
cp "$src/build-win/${artefacts[0]}" "$src/build/${artefacts[1]}" "$src/build/${artefacts[2]}" dist/
(cd dist && sha256sum "${artefacts[@]}" >SHA256SUMS && sha256sum -c --quiet SHA256SUMS)
ls -l dist
echo "release: dist/ holds ${#artefacts[@]} artefacts and SHA256SUMS"
