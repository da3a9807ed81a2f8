#!/usr/bin/env bash
# The Windows installer as a lab uses it.
#   msi_test.sh tables  MSI WXS VERSION BIN  its tables (msiinfo) and the
#     version resource of every program and module in BIN, on every machine
#   msi_test.sh install MSI WXS VERSION   under 32-bit Wine, in a fresh prefix:
#     a silent install, a session from the installed driver with the installed
#     vantorelctl.exe, an upgrade to a higher version (one entry under the
#     installed programs, user files kept), a removal that leaves no installed
#     file behind; then the same with REMOVE=VirtualInstrument and
#     ADDLOCAL=Autostart, the maker's module in place of ours.
# Exit 0 when every check holds, 1 with the failed checks listed, 77 (skipped)
# where 32-bit Wine cannot run.
set -uo pipefail
mode=$1 msi=$2 wxs=$3 version=$4 bin=${5:-}
failures=0
check() {  # check <description> <command...>
  local what=$1; shift
  if "$@"; then echo "ok    $what"; else echo "FAIL  $what"; failures=$((failures + 1)); fi
}
table() { msiinfo export "$msi" "$1" | tr -d '\r' | tail -n +4; }
tab=$'\t'
[ -f "$msi" ] || { echo "no installer at $msi: build it with --target msi"; exit 1; }

if [ "$mode" = tables ]; then
  props=$(table Property)
  check "ProductVersion is $version" grep -qx "ProductVersion${tab}$version" <<<"$props"
  check "ProductName" grep -qx "ProductName${tab}Vantorel driver" <<<"$props"
  files=$(table File | cut -f3)
  for f in vantorel-driver.exe vantorelctl.exe Vantorel_Cpp.dll VantorelDriverCLRGlue.dll Quarn_Cpp.dll \
           README.md modules.md DeviceInterface.h Export.h; do
    check "installs $f" grep -qx "$f" <<<"$files"
  done
  # Programs and modules are versioned files for the installer too.
  while IFS=$'\t' read -r _ _ name _ fileversion _; do
    case $name in *.exe|*.dll) check "$name is versioned $version.0 in the File table" test "$fileversion" = "$version.0" ;; esac
  done < <(table File)
  # Every .exe and .dll of the build carries the version in its resource.
  shopt -s nullglob
  binaries=("$bin"/*.exe "$bin"/*.dll)
  check "version resources of ${#binaries[@]} programs and modules" \
    /usr/bin/python3 "$(dirname "$0")/version_resources.py" "$version" "${binaries[@]}"
  features=$(table Feature | cut -f1,6)
  check "feature Driver, on" grep -qx "Driver${tab}1" <<<"$features"
  check "feature VirtualInstrument, on by default" grep -qx "VirtualInstrument${tab}1" <<<"$features"
  check "feature Autostart, off by default" grep -qE "^Autostart${tab}([2-9]|[0-9]{2,})$" <<<"$features"
  fc=$(table FeatureComponents)
  check "our Vantorel_Cpp.dll only with VirtualInstrument" grep -qx "VirtualInstrument${tab}Instrument" <<<"$fc"
  check "the logon entry only with Autostart" grep -qx "Autostart${tab}AutostartValue" <<<"$fc"
  check "logon entry starts the installed driver" \
    grep -q $'Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Run\tVantorel driver\t"\\[INSTALLDIR\\]vantorel-driver.exe"' <(table Registry)
  check "Start-menu shortcuts" test "$(table Shortcut | wc -l)" -ge 3
  check "major upgrade keeps feature states" grep -qE "${tab}1${tab}${tab}WIX_UPGRADE_DETECTED$" <(table Upgrade)
  check "under Program Files\\Vantorel" grep -qx "INSTALLDIR${tab}ProgramFilesFolder${tab}Vantorel" <(table Directory)
  echo "$failures failed check(s)"
  [ "$failures" -eq 0 ]; exit
fi

# install: needs 32-bit Wine.
if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
  echo "skipped: this machine cannot run 32-bit programs under Wine"; exit 77
fi
work=$(mktemp -d /tmp/vantorel-msi.XXXXXX)
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
driver_pid=""
cleanup() {
  [ -n "$driver_pid" ] && kill "$driver_pid" 2>/dev/null
  wineserver -k >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT
wineboot -i >/dev/null 2>&1
wineserver -p >/dev/null 2>&1

# The same files under the next patch version: the upgrade.
IFS=. read -r major minor patch <<<"$version"
next="$major.$minor.$((patch + 1))"
next_msi=$work/vantorel-$next-win32.msi
{ wixl --arch x86 -D Version="$next" -o "$next_msi" "$wxs" &&
  msibuild "$next_msi" -q "UPDATE File SET Version='$next.0' WHERE File='DriverExe' OR File='CtlExe' OR File='InstrumentDll' OR File='GlueDll' OR File='QuarnDll'"
} >/dev/null 2>&1 || { echo "wixl could not build the installer of $next"; exit 1; }

msi_run() {  # msi_run <args...>: msiexec, silently; its exit code
  wine msiexec "$@" /qn </dev/null >/dev/null 2>&1
}
reg32() {  # reg32 <key> <name>: the value's data, empty when there is none
  wine reg query "$1" /v "$2" /reg:32 </dev/null 2>/dev/null | tr -d '\r' | sed -n "s/^ *$2 *REG_[A-Z]* *//p"
}
install_dir() {
  local dir
  dir=$(reg32 'HKLM\Software\Vantorel\Driver' InstallDir)
  [ -n "$dir" ] && winepath -u "$dir" 2>/dev/null
}
entries() { wine uninstaller --list </dev/null 2>/dev/null | tr -d '\r' | grep -c '|||Vantorel driver$'; }
installed_files() {  # the installer's own files that exist under $1
  local n=0 f
  for f in vantorel-driver.exe vantorelctl.exe Vantorel_Cpp.dll VantorelDriverCLRGlue.dll Quarn_Cpp.dll \
           docs/README.md sdk/include/vantorel/device/DeviceInterface.h; do
    [ -e "$1/$f" ] && n=$((n + 1))
  done
  echo "$n"
}
# The Start-menu folder: all users' or (Wine, as root) the user's own.
menu_folder() { find "$WINEPREFIX/drive_c" -path '*/Start Menu/Programs/Vantorel' -type d 2>/dev/null | head -n 1; }

# 1. A silent install with the defaults.
check "msiexec /i $(basename "$msi") /qn exits 0" msi_run /i "$msi"
dir=$(install_dir)
check "installed under Program Files\\Vantorel" test -n "$dir" -a -x "$dir/vantorel-driver.exe"
dir=${dir:-$work/none}
check "all 7 sampled files installed" test "$(installed_files "$dir")" -eq 7
check "Start-menu folder with the driver" test -e "$(menu_folder)/Vantorel driver.lnk"
check "no logon entry by default" test -z "$(reg32 'HKLM\Software\Microsoft\Windows\CurrentVersion\Run' 'Vantorel driver')"
check "one entry under installed programs" test "$(entries)" -eq 1

# 2. A session from the installed driver, with the installed vantorelctl.exe;
# the instrument's store file (a user file) lives in the driver's folder.
store="$(winepath -w "$dir")\\instrument.store"
out=$work/azure
VANTOREL_SIM_CONNECT_MS=20 VANTOREL_SIM_SAMPLE_MS=20 VANTOREL_SIM_IMAGE_PX=16 VANTOREL_SIM_STORE="$store" \
  wine "$dir/vantorel-driver.exe" </dev/null >"$work/driver.log" 2>&1 &
driver_pid=$!
# The driver is ready once its port accepts (a probe that closes at once is
# an orderly close to the driver).
for _ in $(seq 300); do (exec 3<>/dev/tcp/127.0.0.1/8889) 2>/dev/null && break; sleep 0.1; done
ctl() { wine "$dir/vantorelctl.exe" --connect-timeout-ms 20000 "$@" </dev/null; }
check "vantorelctl.exe --version says $version" grep -qx "vantorelctl $version" <(ctl --version | tr -d '\r')
check "connect usb" ctl connect usb
check "add-job" ctl add-job "Azure pearl" --make "blue pearl" --samples 2
check "run --wait" ctl run "Azure pearl" --wait
check "measure --out" ctl measure "Azure pearl" --out "$(winepath -w "$out")"
check "result folder written" test -s "$out/result.json"
check "terminate ends the installed driver" ctl terminate
wait "$driver_pid"; driver_pid=""
check "the instrument kept its store file" test -s "$dir/instrument.store"
echo "my notes" >"$dir/notes.txt"

# 3. The next version over it: one step, one entry, user files kept.
check "msiexec /i $(basename "$next_msi") /qn (upgrade) exits 0" msi_run /i "$next_msi"
check "still one entry under installed programs" test "$(entries)" -eq 1
check "the entry is version $next" grep -q "$next" <(wine reg query \
  'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s /reg:32 </dev/null 2>/dev/null | tr -d '\r' | grep DisplayVersion)
check "upgrade kept every installed file" test "$(installed_files "$dir")" -eq 7
check "upgrade kept the store file" test -s "$dir/instrument.store"
check "upgrade kept the user's file" test -s "$dir/notes.txt"

# 4. Removal: no installed file, shortcut or registry value is left; the user's files are.
check "msiexec /x /qn exits 0" msi_run /x "$next_msi"
check "no installed file left" test "$(installed_files "$dir")" -eq 0
check "no Start-menu folder left" test -z "$(menu_folder)"
check "no registry value left" test -z "$(reg32 'HKLM\Software\Vantorel\Driver' InstallDir)"
check "no entry under installed programs" test "$(entries)" -eq 0
check "removal kept the store file and the user's file" test -s "$dir/instrument.store" -a -s "$dir/notes.txt"

# 5. A lab with the real instrument: REMOVE=VirtualInstrument, the maker's
# module beside the driver, the logon entry on; upgrade and removal leave the
# maker's module alone.
check "install with REMOVE=VirtualInstrument ADDLOCAL=Autostart" \
  msi_run /i "$msi" REMOVE=VirtualInstrument ADDLOCAL=Autostart
check "driver installed without our Vantorel_Cpp.dll" test -x "$dir/vantorel-driver.exe" -a ! -e "$dir/Vantorel_Cpp.dll"
check "logon entry starts the installed driver" grep -q 'vantorel-driver.exe' \
  <(reg32 'HKLM\Software\Microsoft\Windows\CurrentVersion\Run' 'Vantorel driver')
echo "the maker's module" >"$dir/Vantorel_Cpp.dll"
check "upgrade of that installation" msi_run /i "$next_msi"
check "upgrade left the maker's module alone" grep -qx "the maker's module" "$dir/Vantorel_Cpp.dll"
check "upgrade kept the logon entry" grep -q 'vantorel-driver.exe' \
  <(reg32 'HKLM\Software\Microsoft\Windows\CurrentVersion\Run' 'Vantorel driver')
check "removal" msi_run /x "$next_msi"
check "removal left the maker's module alone" grep -qx "the maker's module" "$dir/Vantorel_Cpp.dll"
check "removal took the logon entry" test -z "$(reg32 'HKLM\Software\Microsoft\Windows\CurrentVersion\Run' 'Vantorel driver')"
check "removal took the driver" test ! -e "$dir/vantorel-driver.exe"

echo "$failures failed check(s)"
[ "$failures" -eq 0 ]
