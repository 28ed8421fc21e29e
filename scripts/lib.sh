# Helpers the scripts share: where Wine is, running a program in a script's
# own prefix, Windows paths, a private X server, and the ok/FAIL checks of
# the shell test suites. Sourced, never run:
#
#   . "$root/scripts/lib.sh"
#
# Plain POSIX sh, because cmake/wine-run (a /bin/sh script) sources it too.

# The Wine loader and server. Debian's wine64 package puts the loader outside
# PATH (PATH has it only when the wine package is installed as well);
# WINE64 and WINESERVER name others.
TW_WINE=${WINE64:-/usr/lib/wine/wine64}
TW_WINESERVER=${WINESERVER:-/usr/lib/wine/wineserver}
[ -x "$TW_WINESERVER" ] || TW_WINESERVER=wineserver

# wine_run ARGS...: a Windows program (or --boot, --stop) under Wine in the
# script's own prefix. The script sets $root (the repository) and $prefix.
wine_run() { "$root/cmake/wine-run" "$prefix" "$@"; }

# winpath PATH: a Unix path as Wine's Z: drive shows it to Windows programs.
winpath() { printf 'Z:%s' "$1" | tr '/' '\\'; }

# tw_xvfb_run SIZE COMMAND...: COMMAND with a private X server of SIZE
# (WIDTHxHEIGHT) as its display, never the user's.
tw_xvfb_run() {
  tw_size=$1
  shift
  xvfb-run -a -s "-screen 0 ${tw_size}x24" "$@"
}

# tw_exec_under_xvfb SIZE MARKER SCRIPT [ARGS...]: unless the environment
# variable MARKER is set, installs what is missing (scripts/setup, from the
# repository root) and starts SCRIPT again under a private X server, with
# MARKER=1 so that the second start goes on. Returns when MARKER is set.
tw_exec_under_xvfb() {
  tw_size=$1
  tw_marker=$2
  shift 2
  eval "tw_marked=\${$tw_marker:-}"
  [ -z "$tw_marked" ] || return 0
  scripts/setup || exit 1
  exec xvfb-run -a -s "-screen 0 ${tw_size}x24" env "$tw_marker=1" "$@"
}

# Checks of the shell test suites, counted in $passed and $failed; each
# prints one "ok:" or "FAIL:" line.
passed=0
failed=0
# check NAME COMMAND...: passes when the command succeeds.
check() {
  tw_name=$1
  shift
  if "$@" >/dev/null 2>&1; then
    echo "ok:   $tw_name"
    passed=$((passed + 1))
  else
    echo "FAIL: $tw_name"
    failed=$((failed + 1))
  fi
}
# check_same NAME GOT WANT: shows both when they differ.
check_same() {
  if [ "$2" = "$3" ]; then
    echo "ok:   $1"
    passed=$((passed + 1))
  else
    echo "FAIL: $1"
    printf '  want: %s\n  got:  %s\n' "$3" "$2"
    failed=$((failed + 1))
  fi
}
