#!/usr/bin/env bash
# The setup program, tested for real under Wine (scripts/test installer):
# builds the launcher component and the installer, an older installer from
# the same tree with a lower version and a few files the current version no
# longer has, then in a fresh prefix of its own (build/windows/installer-prefix):
#
#   - setup into a folder that cannot be written fails, with no entry;
#   - a silent install: the files, the Start-menu shortcut (target, working
#     folder, icon) and every value of the uninstall entry;
#   - the launcher started from the shortcut's target and folder plays the
#     demo on both channels and exits 0;
#   - setup while the launcher runs fails and changes nothing;
#   - a silent uninstall leaves nothing of the product, and the token the
#     launcher wrote is still in Credential Manager;
#   - the older version, then the current one over it: one entry, the new
#     version, none of the old files; then uninstall again.
#
# Prints one "ok:"/"FAIL:" line per check and "installer: N passed, M failed";
# exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$(pwd)

. "$root/scripts/lib.sh"
tw_exec_under_xvfb 1600x1000 TW_INSTALLER_UNDER_XVFB "$0" "$@"

build=$root/build/windows
work=$build/installer
prefix=$build/installer-prefix
previous=$work/previous-build
# No menu entries for the host desktop from the shortcuts setup makes.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# C:\... inside the prefix to its Unix path.
unixpath() { printf '%s/drive_c%s' "$prefix" "$(printf '%s' "${1#C:}" | tr '\\' '/')"; }
probe() { wine_run "$build/tests/installer/installer_probe.exe" "$@" | tr -d '\r'; }
# Its output only, for comparing: a missing thing reads as nothing.
probe_text() { probe "$@" || true; }


echo "installer: building the launcher component and the setup programs" >&2
mkdir -p "$work"
cmake --preset windows >"$work/configure.log" 2>&1 || { cat "$work/configure.log" >&2; exit 1; }
cmake --build --preset windows --target tidewarden_launcher flutter_windows discord-peer installer_probe \
  >"$work/build.log" 2>&1 || { tail -n 40 "$work/build.log" >&2; exit 1; }
project_version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
version=${project_version%.*}
setup=$build/TidewardenLauncher-$version-x64-setup.exe
rm -f "$setup"
(cd "$build" && cpack --config CPackConfig.cmake) >"$work/cpack.log" 2>&1 || { tail -n 40 "$work/cpack.log" >&2; exit 1; }

# The older version: the same sources under a lower version, plus files and
# a folder that the current version does not have.
old_project_version=2.9.0.290
old_version=${old_project_version%.*}
rm -rf "$work/stale"
mkdir -p "$work/stale/legacy"
echo "left by 2.9.0" >"$work/stale/legacy/notes.txt"
echo "left by 2.9.0" >"$work/stale/old_helper.dll"
cmake -S "$root" -B "$previous" -G Ninja --toolchain "$root/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DTW_VERSION_OVERRIDE=$old_project_version \
  >"$work/previous-configure.log" 2>&1 || { cat "$work/previous-configure.log" >&2; exit 1; }
cmake --build "$previous" --target tidewarden_launcher flutter_windows \
  >"$work/previous-build.log" 2>&1 || { tail -n 40 "$work/previous-build.log" >&2; exit 1; }
old_setup=$previous/TidewardenLauncher-$old_version-x64-setup.exe
rm -f "$old_setup"
(cd "$previous" && cpack --config CPackConfig.cmake -D "CPACK_INSTALLED_DIRECTORIES=$work/stale;.") \
  >"$work/previous-cpack.log" 2>&1 || { tail -n 40 "$work/previous-cpack.log" >&2; exit 1; }

# What the current setup must install: the launcher component as CPack
# staged and packed it (stripped; strip stamps the time into each file, so a
# second install of the component would differ), and the uninstaller.
component=$build/_CPack_Packages/win64/NSIS64/TidewardenLauncher-$version-x64-setup
[ -f "$component/tidewarden_launcher.exe" ] || { echo "installer: no staged component in $component" >&2; exit 1; }
rm -rf "$work/component"
cmake --install "$build" --prefix "$work/component" --component launcher >/dev/null
component_files=$( (cd "$component" && find . -type f | sort) )
check_same "the packed files are the launcher component" "$component_files" \
  "$( (cd "$work/component" && find . -type f | sort) )"
expected_files=$(printf '%s\n./Uninstall.exe\n' "$component_files" | sort)
component_bytes=$(find "$component" -type f -printf '%s\n' | awk '{ s += $1 } END { print s }')

peer_pid=""
launcher_pid=""
cleanup() {
  [ -n "$peer_pid" ] && kill "$peer_pid" 2>/dev/null || true
  [ -n "$launcher_pid" ] && kill "$launcher_pid" 2>/dev/null || true
  wine_run --stop
}
trap cleanup EXIT

# A fresh prefix for every run, with its own server.
wine_run --stop
rm -rf "$prefix" "$prefix.lock"
wine_run cmd /c exit 0 </dev/null >/dev/null 2>&1
local_appdata=$(wine_run cmd /c echo %LOCALAPPDATA% | tr -d '\r')
appdata=$(wine_run cmd /c echo %APPDATA% | tr -d '\r')
instdir_win="$local_appdata\\Programs\\Tidewarden Launcher"
instdir=$(unixpath "$instdir_win")
shortcut_win="$appdata\\Microsoft\\Windows\\Start Menu\\Programs\\Tidewarden Launcher.lnk"
shortcut=$(unixpath "$shortcut_win")
key='Software\Microsoft\Windows\CurrentVersion\Uninstall\TidewardenLauncher'
token_target=Fernbrook.Launcher.DiscordSession

installed_files() { (cd "$1" && find . -type f | sort); }
entries() { probe_text entries "Tidewarden Launcher"; }
entry_value() { probe_text values "$key" | sed -n "s/^$1=//p"; }
# Runs a command line as Windows gets it, unquoted (setup wants /D= last and
# unquoted, spaces and all); the exit code is the program's.
run_command() { wine_run "$build/tests/installer/installer_probe.exe" run "$1" </dev/null >/dev/null 2>&1; }
run_setup() { run_command "$(winpath "$1") ${*:2}"; }  # run_setup SETUP [ARGS...]
# The uninstaller copies itself away, starts the copy and returns: wait for
# the copy to finish (the folder and the entry gone), at most 60 s.
wait_removed() {
  for _ in $(seq 1 300); do
    [ ! -e "$1" ] && ! probe values "$key" >/dev/null 2>&1 && return 0
    sleep 0.2
  done
  return 1
}
check_nothing_left() {  # check_nothing_left WHAT
  check "$1: install folder removed" test ! -e "$2"
  check "$1: shortcut removed" test ! -e "$shortcut"
  check_same "$1: no uninstall entry" "$(entries)" ""
  check_same "$1: no file of the product anywhere in the prefix" \
    "$(find "$prefix/drive_c" -iname '*tidewarden*')" ""
}
check_entry() {  # check_entry DIR-WIN VERSION: every value of the uninstall entry
  local values size
  values=$(probe_text values "$key" | sort)
  size=$(sed -n 's/^EstimatedSize=//p' <<<"$values")
  local uninstaller_bytes
  uninstaller_bytes=$(stat -c %s "$(unixpath "$1")/Uninstall.exe" 2>/dev/null || echo 0)
  local want_kib=$(( (component_bytes + uninstaller_bytes) / 1024 ))
  check_same "entry: values" "$(grep -v '^EstimatedSize=' <<<"$values")" "$(sort <<EOF
DisplayIcon=$1\\tidewarden_launcher.exe,0
DisplayName=Tidewarden Launcher
DisplayVersion=$2
InstallLocation=$1
NoModify=1
NoRepair=1
Publisher=Fernbrook
QuietUninstallString="$1\\Uninstall.exe" /S
UninstallString="$1\\Uninstall.exe"
EOF
)"
  check "entry: EstimatedSize $size KiB is the installed size ($want_kib KiB)" \
    test -n "$size" -a "${size:-0}" -ge $((want_kib - 2)) -a "${size:-0}" -le $((want_kib + 2))
}

setup_bytes=$(stat -c %s "$setup")
echo "installer: $setup ($setup_bytes bytes)"
check_same "the setup program's version block" "$(probe_text version "$(winpath "$setup")")" "$project_version"

echo "== a folder that cannot be written"
echo "a file, not a folder" >"$prefix/drive_c/installer-blocker"
set +e
run_setup "$setup" /S '/D=C:\installer-blocker\Tidewarden Launcher'
rc=$?
set -e
check "setup into a folder under a file exits non-zero (exit $rc)" test "$rc" -ne 0
check_same "no uninstall entry after the failed setup" "$(entries)" ""
check "no shortcut after the failed setup" test ! -e "$shortcut"
check "the blocking file is untouched" grep -qx "a file, not a folder" "$prefix/drive_c/installer-blocker"

echo "== silent install into a fresh prefix"
start_ns=$(date +%s%N)
set +e
run_setup "$setup" /S
rc=$?
set -e
install_ms=$(( ($(date +%s%N) - start_ns) / 1000000 ))
echo "installer: silent install took $install_ms ms"
check_same "setup /S exits 0" "$rc" 0
check_same "installed files: the launcher component and the uninstaller" "$(installed_files "$instdir")" "$expected_files"
check "installed files are the built ones" diff -r -x Uninstall.exe "$component" "$instdir"
check_same "one uninstall entry" "$(entries)" TidewardenLauncher
check_entry "$instdir_win" "$version"
link=$(probe_text shortcut "$shortcut_win")
check_same "shortcut" "$link" "target=$instdir_win\\tidewarden_launcher.exe
working-folder=$instdir_win
arguments=
icon=$instdir_win\\tidewarden_launcher.exe,0"
check_same "installed launcher's version block" "$(probe_text version "$instdir_win\\tidewarden_launcher.exe")" "$project_version"

echo "== the launcher from the shortcut"
target=$(sed -n 's/^target=//p' <<<"$link")
folder=$(sed -n 's/^working-folder=//p' <<<"$link")
transcript=$work/transcript.txt
rm -f "$transcript" "$work/peer.log"
wine_run "$build/tools/discord-peer/discord-peer.exe" --pipe 0 --connections 1 --log "$(winpath "$work/peer.log")" \
  >"$work/peer.out" 2>&1 &
peer_pid=$!
set +e
(cd "$(unixpath "$folder")" && DEV_ENGINE_TRANSCRIPT=$(winpath "$transcript") timeout 120 \
  "$root/cmake/wine-run" "$prefix" "$target" >"$work/launcher.out" 2>&1)
rc=$?
set -e
kill "$peer_pid" 2>/dev/null || true
wait "$peer_pid" 2>/dev/null || true
peer_pid=""
check_same "launcher exits 0" "$rc" 0
reply() { grep -E "^script reply [0-9]+ $1 $2 state=answered .*decoded=$3" "$transcript"; }
check "getHardwareId answers 64 hex digits" reply fernbrook/security getHardwareId 'success "[0-9a-f]{64}"'
check "writeToken answers success" reply fernbrook/security writeToken success
check "readToken answers the token" reply fernbrook/security readToken 'success "demo-session-token"'
check "Discord start answers success" reply tidewarden/discord_rpc start success
check "Discord stop answers success" reply tidewarden/discord_rpc stop success
check "the demo script ran to its end" grep -q '^script end' "$transcript"

echo "== setup while the launcher runs"
cat >"$work/token-script.txt" <<'EOF'
call fernbrook/security writeToken "kept-across-uninstall"
hold
EOF
rm -f "$transcript"
(cd "$instdir" && DEV_ENGINE_TRANSCRIPT=$(winpath "$transcript") \
  "$root/cmake/wine-run" "$prefix" ./tidewarden_launcher.exe "--dev-ui-script=$(winpath "$work/token-script.txt")" \
  >"$work/launcher-hold.out" 2>&1) &
launcher_pid=$!
for _ in $(seq 1 300); do
  grep -q '^script hold' "$transcript" 2>/dev/null && break
  sleep 0.2
done
check "the launcher wrote the token and holds" reply fernbrook/security writeToken success
snapshot() {
  (cd "$instdir" && find . -type f -exec sha256sum {} + | sort) || true
  probe_text values "$key" | sort
  stat -c %Y "$shortcut" || true
}
before=$(snapshot)
set +e
run_setup "$setup" /S
rc=$?
set -e
check "setup while the launcher runs exits non-zero (exit $rc)" test "$rc" -ne 0
check_same "files, entry and shortcut unchanged" "$(snapshot)" "$before"
check "the launcher closes" probe close FLUTTER_RUNNER_WIN32_WINDOW
set +e
for _ in $(seq 1 150); do kill -0 "$launcher_pid" 2>/dev/null || break; sleep 0.2; done
wait "$launcher_pid"
rc=$?
set -e
launcher_pid=""
check_same "the held launcher exits 0" "$rc" 0

echo "== silent uninstall"
set +e
run_command "$(entry_value QuietUninstallString)"
rc=$?
set -e
check_same "the quiet uninstall string runs and exits 0" "$rc" 0
check "the uninstaller finishes within 60 s" wait_removed "$instdir"
check_nothing_left "uninstall" "$instdir"
check_same "the launcher's token is still in Credential Manager" "$(probe_text credential "$token_target")" \
  "kept-across-uninstall"

echo "== upgrade from $old_version"
olddir_win='C:\users\Public\Apps\Tidewarden Launcher'
olddir=$(unixpath "$olddir_win")
set +e
run_setup "$old_setup" /S "/D=$olddir_win"
rc=$?
set -e
check_same "setup $old_version /S /D= exits 0" "$rc" 0
check "$old_version left its extra files" test -f "$olddir/legacy/notes.txt" -a -f "$olddir/old_helper.dll"
check_same "$old_version entry" "$(entry_value DisplayVersion)" "$old_version"
check_same "$old_version launcher's version block" "$(probe_text version "$olddir_win\\tidewarden_launcher.exe")" \
  "$old_project_version"
set +e
run_setup "$setup" /S
rc=$?
set -e
check_same "setup $version /S over $old_version exits 0" "$rc" 0
check_same "one uninstall entry after the upgrade" "$(entries)" TidewardenLauncher
check_entry "$olddir_win" "$version"
check_same "upgraded files: exactly the new version's, none of $old_version's" \
  "$(installed_files "$olddir")" "$expected_files"
check "no folder of $old_version left" test ! -e "$olddir/legacy"
check "upgraded files are the built ones" diff -r -x Uninstall.exe "$component" "$olddir"
check_same "upgraded launcher's version block" "$(probe_text version "$olddir_win\\tidewarden_launcher.exe")" \
  "$project_version"
check "shortcut to the upgraded launcher" grep -Fqx "target=$olddir_win\\tidewarden_launcher.exe" \
  <(probe shortcut "$shortcut_win")
set +e
run_command "$(entry_value QuietUninstallString)"
set -e
check "the upgraded version uninstalls within 60 s" wait_removed "$olddir"
check_nothing_left "uninstall after the upgrade" "$olddir"

echo "installer: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
