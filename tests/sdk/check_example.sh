#!/usr/bin/env bash
# Builds examples/device_module against the INSTALLED device SDK, the way an
# outside project does, and checks the module against the driver:
#   1. cmake --install <build> --component device_sdk into a fresh prefix;
#   2. configure and build the example natively with find_package from there
#      (and with mingw-w64 for 32-bit Windows when its compiler is present);
#   3. start this build's driver from a folder holding the example module in
#      place of ours and run `vantorelctl selftest` against it; terminate.
# Usage: check_example.sh <source dir> <build dir>. Exit 0 when all passed.
set -euo pipefail
src=$1
build=$2
work=$(mktemp -d /tmp/vantorel-sdk-XXXXXX)
driver_pid=
cleanup() {
  if [ -n "$driver_pid" ]; then kill "$driver_pid" 2>/dev/null || true; wait "$driver_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

echo "== install the SDK into $work/sdk"
cmake --install "$build" --component device_sdk --prefix "$work/sdk" >/dev/null
test -f "$work/sdk/lib/cmake/VantorelDeviceSdk/VantorelDeviceSdkConfig.cmake"

generator=()
command -v ninja >/dev/null && generator=(-G Ninja)

echo "== example module, native"
cmake -S "$src/examples/device_module" -B "$work/native" "${generator[@]}" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_PREFIX_PATH="$work/sdk" >/dev/null
cmake --build "$work/native" >/dev/null
test -f "$work/native/Vantorel_Cpp.so"

if command -v i686-w64-mingw32-g++-posix >/dev/null; then
  echo "== example module, mingw-w64 (32-bit Windows)"
  # The toolchain file confines find_package to the mingw root: name the
  # package folder directly.
  cmake -S "$src/examples/device_module" -B "$work/mingw" "${generator[@]}" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-w64-i686.cmake" \
    -DVantorelDeviceSdk_DIR="$work/sdk/lib/cmake/VantorelDeviceSdk" >/dev/null
  cmake --build "$work/mingw" >/dev/null
  test -f "$work/mingw/Vantorel_Cpp.dll"
else
  echo "== no mingw-w64 compiler: Windows build of the example left out"
fi

echo "== the driver with the example module: vantorelctl selftest"
mkdir "$work/run"
cp "$build/bin/vantorel-driver" "$build/bin/VantorelDriverCLRGlue.so" "$work/run/"
cp "$work/native/Vantorel_Cpp.so" "$work/run/"
(cd "$work/run" && exec ./vantorel-driver >"$work/driver.out" 2>"$work/driver.err") &
driver_pid=$!
ctl="$build/bin/vantorelctl"
for _ in $(seq 1 100); do
  "$ctl" log >/dev/null 2>&1 && break
  sleep 0.1
done
"$ctl" selftest
"$ctl" terminate >/dev/null
wait "$driver_pid" && driver_pid=
grep -qx "example module: ready" "$work/driver.out"
echo "example module: built from the installed SDK and passed the selftest"
