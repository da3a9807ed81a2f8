#!/usr/bin/env bash
# The Debian packages of a Linux build (deb_test.sh BUILD VERSION): lintian
# reports no errors, and the packages unpacked into a scratch root give a
# working vantorelctl --version, a driver session with the virtual
# instrument, the Python client, and the SDK headers.
# Exit 0 when every check holds, 1 with the failed checks listed.
set -uo pipefail
build=$1 version=$2
failures=0
check() {
  local what=$1; shift
  if "$@"; then echo "ok    $what"; else echo "FAIL  $what"; failures=$((failures + 1)); fi
}
arch=$(dpkg --print-architecture)
deb=$build/vantorel_${version}_${arch}.deb
dev=$build/vantorel-dev_${version}_${arch}.deb
for p in "$deb" "$dev"; do
  [ -f "$p" ] || { echo "no package at $p: build it with --target package"; exit 1; }
done
work=$(mktemp -d /tmp/vantorel-deb.XXXXXX)
driver_pid=""
cleanup() { [ -n "$driver_pid" ] && kill "$driver_pid" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT

for p in "$deb" "$dev"; do
  lintian --fail-on error --no-tag-display-limit "$p" >"$work/lintian.log" 2>&1
  rc=$?
  grep -E '^E: ' "$work/lintian.log"
  check "lintian reports no errors for $(basename "$p")" test "$rc" -eq 0
done

root=$work/root
for p in "$deb" "$dev"; do dpkg-deb -x "$p" "$root"; done
check "driver and modules in /usr/lib/vantorel" test -x "$root/usr/lib/vantorel/vantorel-driver" \
  -a -f "$root/usr/lib/vantorel/Vantorel_Cpp.so" -a -f "$root/usr/lib/vantorel/VantorelDriverCLRGlue.so"
check "vantorel-driver in /usr/bin" test -L "$root/usr/bin/vantorel-driver"
check "vantorelctl --version says $version" grep -qx "vantorelctl $version" <("$root/usr/bin/vantorelctl" --version)
check "the Python client where Debian's Python finds it" test -f "$root/usr/lib/python3/dist-packages/vantorel/client.py"
check "the dissector among Wireshark's Lua plugins" test -f "$(echo "$root"/usr/lib/*/wireshark/plugins/vantorel.lua)"
check "the SDK headers and CMake package" test -f "$root/usr/include/vantorel/device/DeviceInterface.h" \
  -a -f "$root/usr/lib/cmake/VantorelDeviceSdk/VantorelDeviceSdkConfig.cmake"
check "an example systemd unit" test -f "$root/usr/share/doc/vantorel/examples/vantorel-driver.service"

# Depends (dpkg-shlibdeps) names the package of every shared library that the
# programs and modules load, such as libsqlite3-0 and libpq5 for vantorelctl.
depends_cover_needed() {
  local depends file lib pkg ok=0 multiarch
  multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
  depends=$(dpkg-deb -f "$deb" Depends | tr ',' '\n' | sed -E 's/^ *([^ ]+).*/\1/')
  for file in "$root/usr/bin/vantorelctl" "$root/usr/lib/vantorel/vantorel-driver" "$root"/usr/lib/vantorel/*.so; do
    for lib in $(objdump -p "$file" | awk '$1 == "NEEDED" {print $2}'); do
      pkg=$(dpkg -S "*/$lib" 2>/dev/null | awk -v want="/$multiarch/$lib" -v arch="$arch" '
        NF == 2 && substr($2, length($2) - length(want) + 1) == want &&
        $1 ~ ("^[^:,]+(:" arch ")?:$") {
          sub(/:.*/, "", $1); print $1; exit }')
      if [ -z "$pkg" ] || ! grep -qxF "$pkg" <<<"$depends"; then
        echo "      $(basename "$file") needs $lib (package ${pkg:-unknown}), not in Depends"
        ok=1
      fi
    done
  done
  return $ok
}
check "Depends names the package of every library the programs load" depends_cover_needed

# A session: the unpacked driver loads the unpacked modules from its own folder.
VANTOREL_SIM_CONNECT_MS=20 VANTOREL_SIM_SAMPLE_MS=20 VANTOREL_SIM_IMAGE_PX=16 \
  "$root/usr/bin/vantorel-driver" </dev/null >"$work/driver.log" 2>&1 &
driver_pid=$!
# The driver is ready once its port accepts (a probe that closes at once is
# an orderly close to the driver).
for _ in $(seq 300); do (exec 3<>/dev/tcp/127.0.0.1/8889) 2>/dev/null && break; sleep 0.1; done
ctl() { "$root/usr/bin/vantorelctl" --connect-timeout-ms 10000 "$@"; }
check "connect usb" ctl connect usb
check "add-job" ctl add-job "Azure pearl" --make "blue pearl" --samples 2
check "run --wait" ctl run "Azure pearl" --wait
check "measure --out" ctl measure "Azure pearl" --out "$work/azure"
check "result folder written" test -s "$work/azure/result.json"
check "the Python client lists the job" grep -q "Azure pearl" \
  <(PYTHONPATH="$root/usr/lib/python3/dist-packages" python3 -m vantorel --no-connect jobs)
check "terminate" ctl terminate
wait "$driver_pid"; check "the driver ended with exit code 0" test $? -eq 0
driver_pid=""

echo "$failures failed check(s)"
[ "$failures" -eq 0 ]
