#!/usr/bin/env bash
# The installer in the project's Wine prefix (both drivers, each registered
# in the registry view of its architecture): a silent installation, the
# installed panel started through the driver's controlPanel, a second
# installation over it with other switches (ending that panel), a refused
# switch value, a silent uninstallation that ends a panel again and keeps the
# user's driver settings, one that removes them while a hung panel runs and
# the driver's file is gone, and an installation whose driver cannot be
# registered. Everything the installer touches is saved first and put back
# at the end, whatever happened, so the prefix ends as it was (a driver
# registration made by the main job included).
#   installer_test.sh BIN64   (BIN64: the 64-bit build's bin folder, with asiohost.exe)
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
bin64=${1:-$root/build/win64/bin}
bin32=$root/build/win32/bin
setup=$root/build/VelmorR5R6Setup.exe
wine=$root/scripts/wine
prefix=${VELMOR_WINEPREFIX:-$root/build/wineprefix}
# Start-menu links would otherwise reach the Linux desktop through
# winemenubuilder (scripts/wine turns it off too, unless overrides are given).
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=};winemenubuilder.exe=d"

if [ ! -f "$setup" ]; then
  echo "FAIL: $setup is missing (scripts/build makes it)"
  exit 1
fi
for built in "$bin64"/VelmorR5R6*.dll "$bin32"/VelmorR5R6*; do
  if [ "$built" -nt "$setup" ]; then
    echo "FAIL: $setup is older than $built (scripts/package makes it again)"
    exit 1
  fi
done

# Where the installer puts things, in Windows and in Linux terms.
win_driver_dir='C:\Program Files\Velmor\VelmorR5R6'
win_panel_dir='C:\Program Files (x86)\Velmor\VelmorR5R6'
driver_parent="$prefix/drive_c/Program Files/Velmor"
panel_parent="$prefix/drive_c/Program Files (x86)/Velmor"
driver_dir="$driver_parent/VelmorR5R6"
panel_dir="$panel_parent/VelmorR5R6"
shortcut_dir="$prefix/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Velmor"
shortcut="$shortcut_dir/Velmor R5.R6 Audio Control Panel.lnk"

asio_key='HKLM\Software\ASIO'
driver_key='HKLM\Software\ASIO\VelmorR5R6'
settings_parent='HKCU\Software\ASIO'
settings_key='HKCU\Software\ASIO\VelmorR5R6'
switch_parent='HKLM\Software\Velmor'
switch_key='HKLM\Software\Velmor\VelmorR5R6'
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\VelmorR5R6'

# What the test saved and made, kept in a fixed folder while it runs: a run
# that was killed (CTest's timeout) leaves it, and the next run puts the
# prefix back from it before it starts.
saved=$root/build/installer-test-saved
saved_win="Z:$(tr / '\\' <<<"$saved")"
persist() {
  [ -d "$saved" ] && declare -p saved_keys saved_values made_clsids made_clsids32 parents_before temp_before \
    hung >"$saved/state.sh" 2>/dev/null
  return 0
}

failures=0
pass() { echo "ok: $*"; persist; }
fail() { echo "FAIL: $*"; failures=$((failures + 1)); persist; }

# Every program the test waits for has its own bound, well inside CTest's,
# so that a hang fails its step by name and the cleanup still runs.
started=$SECONDS
budget=540  # and 300 s more for the cleanup: inside CTest's 900
bounded() {  # SECONDS STEP COMMAND...: the command's status, 124 when it overran
  local limit=$1 step=$2 left=$((budget - (SECONDS - started)))
  shift 2
  [ "$left" -lt "$limit" ] && limit=$left
  [ "$limit" -lt 5 ] && limit=5
  timeout -k 5 "$limit" "$@"
  local status=$?
  if [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
    echo "FAIL: $step did not end within $limit s"
    failures=$((failures + 1))
    return 124
  fi
  return "$status"
}
expect_eq() {  # WHAT ACTUAL EXPECTED
  if [ "$2" == "$3" ]; then pass "$1"; else fail "$1: '$2', expected '$3'"; fi
}
expect() {  # WHAT COMMAND...
  local what=$1; shift
  if "$@"; then pass "$what"; else fail "$what"; fi
}

# ---------------------------------------------------------------- registry
reg() { bounded 60 "reg $1 $2" "$wine" reg "$@"; }
# reg_value KEY NAME VIEW: the value's data as reg prints it; status 1 when missing.
reg_value() {
  local out line
  out=$(reg query "$1" /v "$2" /reg:"$3" 2>/dev/null | tr -d '\r') || return 1
  line=$(grep -m1 -F "    $2    REG_" <<<"$out") || return 1
  sed -E 's/^.*    REG_[A-Z_]+    //' <<<"$line"
}
reg_default() {  # KEY VIEW
  local out
  out=$(reg query "$1" /ve /reg:"$2" 2>/dev/null | tr -d '\r') || return 1
  grep -m1 -F 'REG_SZ' <<<"$out" | sed -E 's/^.*    REG_SZ    //'
}
key_exists() { reg query "$1" /reg:"$2" >/dev/null 2>&1; }
key_absent() { ! key_exists "$@"; }
value_absent() { ! reg_value "$@" >/dev/null; }

# Keys saved before the test and put back after it: NAME KEY VIEW.
saved_keys=()
save_key() {
  saved_keys+=("$1|$2|$3")
  persist
  if key_exists "$2" "$3"; then
    reg export "$2" "$saved_win\\$1.reg" /y /reg:"$3" >/dev/null 2>&1 || fail "saving $2"
  fi
}
restore_keys() {
  local entry name key view
  for entry in "${saved_keys[@]}"; do
    IFS='|' read -r name key view <<<"$entry"
    reg delete "$key" /f /reg:"$view" >/dev/null 2>&1
    if [ -f "$saved/$name.reg" ]; then
      reg import "$saved_win\\$name.reg" /reg:"$view" >/dev/null 2>&1 || echo "installer_test: could not restore $key" >&2
    fi
  done
}

# One value saved and put back: NAME KEY VALUE VIEW. reg can only export
# whole keys, so the value's lines are cut out of the key's export.
saved_values=()
save_value() {
  saved_values+=("$1|$2|$3|$4")
  persist
  reg export "$2" "$saved_win\\$1-key.reg" /y /reg:"$4" >/dev/null 2>&1 || return 0
  iconv -f UTF-16 -t UTF-8 "$saved/$1-key.reg" | tr -d '\r' | awk -v name="\"$3\"=" '
    NR == 1 { header = $0; next }
    /^\[/ { sections++; if (sections == 1) section = $0; next }
    sections == 1 && index($0, name) == 1 { print header; print ""; print section; taking = 1 }
    taking { print; if ($0 !~ /\\$/) taking = 0 }
  ' >"$saved/$1.txt"
  if [ -s "$saved/$1.txt" ]; then
    { printf '\xff\xfe'; sed 's/$/\r/' "$saved/$1.txt" | iconv -f UTF-8 -t UTF-16LE; } >"$saved/$1.reg"
  fi
}
restore_values() {
  local entry name key value view
  for entry in "${saved_values[@]}"; do
    IFS='|' read -r name key value view <<<"$entry"
    reg delete "$key" /v "$value" /f /reg:"$view" >/dev/null 2>&1
    if [ -f "$saved/$name.reg" ]; then
      reg import "$saved_win\\$name.reg" /reg:"$view" >/dev/null 2>&1 || echo "installer_test: could not restore $key $value" >&2
    fi
  done
}

# The class keys of registrations the installations made.
made_clsids=()
made_clsids32=()
temp_dirs=("$prefix"/drive_c/users/*/Temp)
list_temp() { ls -1 "${temp_dirs[@]}" 2>/dev/null | sort; }
parents_before=()
for d in "$driver_parent" "$panel_parent" "$shortcut_dir"; do
  [ -e "$d" ] && parents_before+=("$d")
done
existed_before() {
  local d
  for d in "${parents_before[@]}"; do [ "$d" == "$1" ] && return 0; done
  return 1
}

# The Linux processes of the installed panel (Wine shows the Windows command line).
win_panel_exe="$win_panel_dir\\VelmorR5R6ACPL.exe"
panel_pids() {
  local f
  for f in /proc/[0-9]*/cmdline; do
    [ -O "$f" ] && tr '\0' ' ' <"$f" 2>/dev/null | grep -qF "$win_panel_exe" && basename "$(dirname "$f")"
  done
}
hung=""

cleanup() {
  local clsid d pid
  budget=$((SECONDS - started + 300))
  # A panel an installation or uninstallation failed to end.
  for pid in $(panel_pids) $hung; do kill "$pid" 2>/dev/null; done
  # Whatever an uninstallation left (none when it worked).
  rm -rf "$driver_dir" "$panel_dir"
  rm -f "$shortcut"
  for d in "$driver_parent" "$panel_parent" "$shortcut_dir"; do
    existed_before "$d" || rm -rf "$d"
  done
  reg delete "$uninstall_key" /f /reg:32 >/dev/null 2>&1
  for clsid in "${made_clsids[@]}"; do
    reg delete "HKCR\\CLSID\\$clsid" /f /reg:64 >/dev/null 2>&1
  done
  for clsid in "${made_clsids32[@]}"; do
    reg delete "HKCR\\CLSID\\$clsid" /f /reg:32 >/dev/null 2>&1
  done
  restore_keys
  restore_values
  # The installer's and the uninstaller's temporary copies, and the virtual
  # device this test used.
  comm -13 <(printf '%s\n' "${temp_before[@]}") <(list_temp) | grep -E '^(~nsu.*|ns.*\.tmp|VelmorR5R6Sim-installer-test\.state)$' |
    while read -r entry; do
      for d in "${temp_dirs[@]}"; do rm -rf "${d:?}/$entry"; done
    done
  rm -rf "$saved"
}

if [ -f "$saved/state.sh" ]; then
  echo "note: an earlier run was ended half way; putting back what it changed"
  # shellcheck source=/dev/null
  source "$saved/state.sh"
  cleanup
  budget=$((SECONDS - started + 540))
fi
rm -rf "$saved"
mkdir -p "$saved"
if key_exists "$uninstall_key" 32; then
  echo "FAIL: the software is already installed in $prefix; uninstall it first"
  rm -rf "$saved"
  exit 1
fi
mapfile -t temp_before < <(list_temp)
persist
save_key asio "$asio_key" 64
original_clsid=$(reg_value "$driver_key" CLSID 64 || true)
if [ -n "$original_clsid" ]; then
  save_key class "HKCR\\CLSID\\$original_clsid" 64
fi
save_key asio32 "$asio_key" 32
original_clsid32=$(reg_value "$driver_key" CLSID 32 || true)
if [ -n "$original_clsid32" ]; then
  save_key class32 "HKCR\\CLSID\\$original_clsid32" 32
fi
save_key settings "$settings_parent" 64
save_key switches "$switch_parent" 32
# The uninstaller's temporary copy asks for its removal at the next start.
save_value pending 'HKLM\System\CurrentControlSet\Control\Session Manager' PendingFileRenameOperations 64
trap cleanup EXIT

# ---------------------------------------------------------------- steps
run_setup() {
  bounded 300 "the installer ($*)" "$wine" "$setup" /S "$@" >/dev/null 2>&1
}
# The uninstaller hands over to a copy of itself and returns at once; its
# last step removes the panel's folder.
run_uninstall() {
  bounded 120 "the uninstaller ($*)" "$wine" "$panel_dir/Uninstall.exe" /S "$@" >/dev/null 2>&1 || return 1
  local waited=0
  while [ -e "$panel_dir" ] || { ! existed_before "$panel_parent" && [ -e "$panel_parent" ]; }; do
    [ "$waited" -ge 300 ] && return 1
    sleep 1
    waited=$((waited + 1))
  done
  sleep 2
}
panel_running() { [ -n "$(panel_pids)" ]; }
panel_ended() { ! panel_running; }
# The driver's controlPanel starts the installed panel; its window is up once
# a second panel started by hand finds it by its title and ends at once,
# while the first one runs on.
start_panel() {
  VELMOR_DEVICE=simulated VELMOR_SIM_INSTANCE=installer-test \
    bounded 120 "asiohost controlpanel" "$wine" "$bin64/asiohost.exe" controlpanel VelmorR5R6 >/dev/null 2>&1 || return 1
  local waited=0
  until panel_running; do
    [ "$waited" -ge 120 ] && return 1
    sleep 1
    waited=$((waited + 1))
  done
  [ "$emulated" -eq 1 ] && return 0
  VELMOR_DEVICE=simulated VELMOR_SIM_INSTANCE=installer-test \
    bounded 180 "a second panel" "$wine" "$panel_dir/VelmorR5R6ACPL.exe" >/dev/null 2>&1 || return 1
  panel_running
}
hung_ended() { case "$(ps -o stat= -p "$hung" 2>/dev/null)" in "" | Z*) return 0 ;; *) return 1 ;; esac; }
registered_clsid() { reg_value "$driver_key" CLSID 64; }
registered_clsid32() { reg_value "$driver_key" CLSID 32; }
listed_driver() {  # the line of "asiohost list" for VelmorR5R6
  bounded 120 "asiohost list" "$wine" "$bin64/asiohost.exe" list 2>/dev/null | tr -d '\r' | grep '^VelmorR5R6 '
}
same_file() { cmp -s "$1" "$2"; }

check_installed() {  # PlayRecPP AsioDrvPP RmtCtrlPP
  local clsid
  expect "driver installed" same_file "$bin64/VelmorR5R6ASIO.dll" "$driver_dir/VelmorR5R6ASIO.dll"
  expect "virtual device installed (64-bit)" same_file "$bin64/VelmorR5R6Sim.dll" "$driver_dir/VelmorR5R6Sim.dll"
  expect "virtual device installed (32-bit)" same_file "$bin32/VelmorR5R6Sim.dll" "$panel_dir/VelmorR5R6Sim.dll"
  if [ "$with_panel" -eq 1 ]; then
    expect "control panel installed" same_file "$bin32/VelmorR5R6ACPL.exe" "$panel_dir/VelmorR5R6ACPL.exe"
  else
    echo "note: the control panel is not built; its installed file is not checked"
  fi
  expect "uninstaller written" test -f "$panel_dir/Uninstall.exe"
  expect "Start-menu shortcut" test -f "$shortcut"

  expect_eq "registration names the installed driver" "$(reg_value "$driver_key" Driver 64)" "$win_driver_dir\\VelmorR5R6ASIO.dll"
  clsid=$(registered_clsid)
  if [[ "$clsid" =~ ^\{[0-9A-Fa-f-]{36}\}$ ]]; then
    pass "registration has a CLSID"
    made_clsids+=("$clsid")
  else
    fail "registration has no CLSID: '$clsid'"
  fi
  expect_eq "class key names the installed driver" "$(reg_default "HKCR\\CLSID\\$clsid\\InprocServer32" 64)" \
    "$win_driver_dir\\VelmorR5R6ASIO.dll"
  expect_eq "asiohost list shows the driver" "$(listed_driver)" "VelmorR5R6 $clsid"

  # The 32-bit driver next to the panel, registered in the 32-bit view.
  expect "32-bit driver installed" same_file "$bin32/VelmorR5R6ASIO.dll" "$panel_dir/VelmorR5R6ASIO.dll"
  expect_eq "32-bit registration names the 32-bit driver" "$(reg_value "$driver_key" Driver 32)" \
    "$win_panel_dir\\VelmorR5R6ASIO.dll"
  clsid=$(registered_clsid32)
  [[ "$clsid" =~ ^\{[0-9A-Fa-f-]{36}\}$ ]] && made_clsids32+=("$clsid")
  expect_eq "32-bit class key names the 32-bit driver" "$(reg_default "HKCR\\CLSID\\$clsid\\InprocServer32" 32)" \
    "$win_panel_dir\\VelmorR5R6ASIO.dll"

  expect_eq "PlayRecPP" "$(reg_value "$switch_key" PlayRecPP 32)" "0x$1"
  expect_eq "AsioDrvPP" "$(reg_value "$switch_key" AsioDrvPP 32)" "0x$2"
  expect_eq "RmtCtrlPP" "$(reg_value "$switch_key" RmtCtrlPP 32)" "0x$3"
  expect "switches live in the 32-bit view" key_exists 'HKLM\Software\Wow6432Node\Velmor\VelmorR5R6' 64
  expect "no switches in the 64-bit view" key_absent "$switch_key" 64
  expect_eq "ASIOCPL names the panel's folder" "$(reg_value "$settings_key" ASIOCPL 64)" "$win_panel_dir\\"
  expect_eq "user's BufferSize untouched" "$(reg_value "$settings_key" BufferSize 64)" "0xc8"
  expect_eq "user's BitsPerSample untouched" "$(reg_value "$settings_key" BitsPerSample 64)" "0x18"
  expect_eq "Add/Remove Programs entry" "$(reg_value "$uninstall_key" UninstallString 32)" "\"$win_panel_dir\\Uninstall.exe\""
}

check_removed() {  # CLSIDs of the removed registrations (64-bit, 32-bit)
  expect "driver folder removed" test ! -e "$driver_dir"
  expect "panel folder removed" test ! -e "$panel_dir"
  existed_before "$driver_parent" || expect "company folder removed (64-bit)" test ! -e "$driver_parent"
  existed_before "$panel_parent" || expect "company folder removed (32-bit)" test ! -e "$panel_parent"
  expect "shortcut removed" test ! -e "$shortcut"
  existed_before "$shortcut_dir" || expect "Start-menu folder removed" test ! -e "$shortcut_dir"
  expect "registration removed" key_absent "$driver_key" 64
  [ -n "$1" ] && expect "class key removed" key_absent "HKCR\\CLSID\\$1" 64
  expect "32-bit registration removed" key_absent "$driver_key" 32
  [ -n "${2:-}" ] && expect "32-bit class key removed" key_absent "HKCR\\CLSID\\$2" 32
  expect "asiohost list no longer shows the driver" test -z "$(listed_driver)"
  expect "switches removed" key_absent "$switch_parent" 32
  expect "Add/Remove Programs entry removed" key_absent "$uninstall_key" 32
  expect "ASIOCPL removed" value_absent "$settings_key" ASIOCPL 64
}

with_panel=0
[ -f "$bin32/VelmorR5R6ACPL.exe" ] && with_panel=1
# Where 32-bit programs run emulated, each of the installer's processes takes
# most of a minute to start: the refused switch, the broken driver and the
# panel's second instance are left out there.
emulated=0
if grep -qx enabled /proc/sys/fs/binfmt_misc/qemu-i386 2>/dev/null; then
  emulated=1
  echo "note: 32-bit programs run emulated; some cases are left out"
fi

# The user's own settings, which installing and uninstalling keep.
reg add "$settings_key" /v BufferSize /t REG_DWORD /d 200 /f >/dev/null 2>&1
reg add "$settings_key" /v BitsPerSample /t REG_DWORD /d 24 /f >/dev/null 2>&1

echo "== silent installation, default pages, with the virtual device"
run_setup /VIRTUALDEVICE=1
expect_eq "installer exit code" "$?" 0
check_installed 1 1 1
first_clsid=$(registered_clsid || true)
first_clsid32=$(registered_clsid32 || true)
if [ -n "$original_clsid" ]; then
  expect "the replaced registration's class key is gone" key_absent "HKCR\\CLSID\\$original_clsid" 64
fi

echo "== the installed driver, loaded by a host from its folder"
probe_installed() {
  VELMOR_DEVICE=simulated VELMOR_SIM_INSTANCE=installer-test \
    bounded 120 "asiohost probe" "$wine" "$bin64/asiohost.exe" probe VelmorR5R6 >/dev/null 2>&1
}
expect "asiohost probe with the installed virtual device" probe_installed

if [ "$with_panel" -eq 1 ]; then
  echo "== the installed panel, started through the driver's controlPanel"
  expect "panel started and its window up" start_panel
fi

echo "== installation over it, switches from the command line"
run_setup /VIRTUALDEVICE=1 /PlayRecPP=0 /RmtCtrlPP=0
expect_eq "installer exit code" "$?" 0
[ "$with_panel" -eq 1 ] && expect "the running panel was ended" panel_ended
check_installed 0 1 0
second_clsid=$(registered_clsid || true)
second_clsid32=$(registered_clsid32 || true)
expect "a new registration" test "$second_clsid" != "$first_clsid"
expect "the first registration's class key is gone" key_absent "HKCR\\CLSID\\$first_clsid" 64
expect "the first 32-bit registration's class key is gone" key_absent "HKCR\\CLSID\\$first_clsid32" 32

if [ "$emulated" -eq 0 ]; then
  echo "== a switch value other than 0 or 1"
  run_setup /AsioDrvPP=yes
  expect_eq "installer exit code" "$?" 2
  expect_eq "AsioDrvPP unchanged" "$(reg_value "$switch_key" AsioDrvPP 32)" "0x1"
fi

echo "== silent uninstallation"
[ "$with_panel" -eq 1 ] && expect "panel started again" start_panel
expect "uninstaller ran" run_uninstall
[ "$with_panel" -eq 1 ] && expect "the running panel was ended" panel_ended
check_removed "$second_clsid" "$second_clsid32"
expect_eq "user's BufferSize kept" "$(reg_value "$settings_key" BufferSize 64)" "0xc8"
expect_eq "user's BitsPerSample kept" "$(reg_value "$settings_key" BitsPerSample 64)" "0x18"

echo "== installation, then uninstallation with /KEEPSETTINGS=0 of a driver whose file is gone"
run_setup /VIRTUALDEVICE=1
expect_eq "installer exit code" "$?" 0
third_clsid=$(registered_clsid || true)
third_clsid32=$(registered_clsid32 || true)
[ -n "$third_clsid" ] && made_clsids+=("$third_clsid")
rm -f "$driver_dir/VelmorR5R6ASIO.dll"
# A panel that does not answer the exit command: its process is ended.
timeout -k 5 300 "$wine" "$bin64/hung_panel.exe" >/dev/null 2>&1 </dev/null &
hung=$!
persist
sleep 2
expect "uninstaller ran" run_uninstall /KEEPSETTINGS=0
expect "the hung panel was ended" hung_ended
check_removed "$third_clsid" "$third_clsid32"
expect "user's settings removed" key_absent "$settings_key" 64

[ "$emulated" -eq 1 ] && { echo "installer_test: $failures failure(s)"; [ "$failures" -eq 0 ]; exit; }

echo "== a driver that cannot be registered"
mkdir -p "$saved/broken"
cp "$bin64/VelmorR5R6Sim.dll" "$saved/broken/"
echo "not a DLL" >"$saved/broken/VelmorR5R6ASIO.dll"
if makensis -V1 -INPUTCHARSET UTF8 -DBIN64="$saved/broken" -DBIN32="$bin32" \
    -DOUTFILE="$saved/broken/VelmorR5R6Setup.exe" "$root/installer/VelmorR5R6.nsi" >/dev/null; then
  bounded 300 "the broken driver's installer" "$wine" "$saved/broken/VelmorR5R6Setup.exe" /S >/dev/null 2>&1
  expect_eq "installer exit code" "$?" 3
  expect "no registration" key_absent "$driver_key" 64
  expect "uninstaller written" test -f "$panel_dir/Uninstall.exe"
  expect "uninstaller ran" run_uninstall
  check_removed ""
else
  fail "makensis could not build the installer of a broken driver"
fi

echo "installer_test: $failures failure(s)"
[ "$failures" -eq 0 ]
