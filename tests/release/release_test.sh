#!/usr/bin/env bash
# Releases, checked from outside (scripts/test release). Makes two clones of
# this tree (its commit with any uncommitted change to tracked files) at
# different paths under build/release-test/ and runs scripts/release in
# each, one after the other, then:
#
#   reproducible  both releases equal file by file; each setup installed
#                 silently into a fresh Wine prefix of its own, and the
#                 installed files equal file by file; every PE time stamp is
#                 SOURCE_DATE_EPOCH; no file holds the clone's path;
#   PE check      scripts/pe-check passes on every shipped PE file the
#                 project builds and on the unstripped launcher, finds only
#                 the missing relocations of makensis's stubs in the setup
#                 and the uninstaller, and names every mitigation that a
#                 build without them lacks;
#   signed        a throwaway certificate authority and code-signing
#                 certificate (openssl); a signed release from the second
#                 clone, installed into a fresh prefix: osslsigncode verify
#                 -CAfile passes for the setup, launcher, engine and
#                 uninstaller (and fails against another authority);
#                 WinVerifyTrust under Wine answers 0 for each and
#                 TRUST_E_BAD_DIGEST for a copy with one byte changed; the
#                 launcher and engine with their signatures removed are the
#                 unsigned release's; the signature of each of the three
#                 attached to the unsigned file gives the signed one, and
#                 signing the unsigned files again gives the same bytes; a
#                 file signed already is left as it is;
#   safe failure  a key that does not match the certificate fails the
#                 release with osslsigncode's message, leaves no
#                 build/release/, no temporary file, and the key in no file
#                 and in no output.
#
# Prints one "ok:"/"FAIL:" line per check, the build time and sizes, and
# "release: N passed, M failed"; exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$(pwd)
. "$root/scripts/lib.sh"
tw_exec_under_xvfb 1600x1000 TW_RELEASE_UNDER_XVFB "$0" "$@"

work=$root/build/release-test
windows=$root/build/windows
clone_a=$work/a
clone_b=$work/another/path/to/clone-b
keys=$work/keys
export LC_ALL=C
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset TW_SIGNING_CERT TW_SIGNING_KEY TW_SIGNING_TIMESTAMP_URL SOURCE_DATE_EPOCH
version_file=TidewardenLauncher-*-x64-setup.exe

prefixes=()
cleanup() {
  local p
  for p in "${prefixes[@]}"; do "$root/cmake/wine-run" "$p" --stop; done
}
trap cleanup EXIT

echo "release: building the signature probe" >&2
mkdir -p "$work"
cmake --preset windows >"$work/configure.log" 2>&1 || { cat "$work/configure.log" >&2; exit 1; }
cmake --build --preset windows --target verify_trust_probe hardening_fixture \
  >"$work/build.log" 2>&1 || { tail -n 40 "$work/build.log" >&2; exit 1; }
trust_probe=$windows/tests/release/verify_trust_probe.exe

# The tree as it stands: uncommitted changes of tracked files become a
# commit object of their own (git stash create changes nothing, and needs a
# name only for that object).
commit=$(git -c user.name=release-test -c user.email=release-test@localhost stash create)
commit=${commit:-$(git rev-parse HEAD)}
rm -rf "$clone_a" "$clone_b"
for clone in "$clone_a" "$clone_b"; do
  mkdir -p "$(dirname "$clone")"
  git clone --quiet --shared --no-checkout "$root" "$clone"
  git -C "$clone" checkout --quiet --detach "$commit"
done
epoch=$(git -C "$clone_a" log -1 --format=%ct)

# release CLONE LOG [VAR=VALUE...]: scripts/release in CLONE; its exit code.
release() {
  local clone=$1 log=$2
  shift 2
  (cd "$clone" && env "$@" scripts/release) >"$log" 2>&1
}

# install_fresh NAME SETUP: installs SETUP silently into a fresh prefix
# $work/prefix-NAME at C:\release and sets $installed to that folder.
install_fresh() {
  prefix=$work/prefix-$1
  prefixes+=("$prefix")
  wine_run --stop
  rm -rf "$prefix" "$prefix.lock"
  wine_run cmd /c exit 0 </dev/null >/dev/null 2>&1
  installed=$prefix/drive_c/release
  wine_run "$2" /S '/D=C:\release' </dev/null >/dev/null 2>&1
}

# same_trees NAME DIR1 DIR2: the same file names, and each file the same
# bytes (a check per file, so that a difference is named).
same_trees() {
  local f
  check_same "$1: the same files" "$(cd "$2" && find . -type f | sort)" "$(cd "$3" && find . -type f | sort)"
  while read -r f; do
    check "$1: $f identical" cmp "$2/$f" "$3/$f"
  done < <(cd "$2" && find . -type f | sort)
}

# pe_timestamp FILE: the TimeDateStamp of FILE's COFF header.
pe_timestamp() {
  local pe
  pe=$(od -An -t u4 -j 60 -N 4 "$1" | tr -d ' ')
  od -An -t u4 -j $((pe + 8)) -N 4 "$1" | tr -d ' '
}

echo "== two releases of $(git -C "$clone_a" rev-parse --short HEAD) at different paths"
start=$(date +%s)
set +e
release "$clone_a" "$work/release-a.log"
rc_a=$?
seconds_a=$(($(date +%s) - start))
start_b=$(date +%s)
release "$clone_b" "$work/release-b.log"
rc_b=$?
set -e
seconds_b=$(($(date +%s) - start_b))
echo "release: release builds took ${seconds_a} s and ${seconds_b} s (2 cores, no compiler cache)"
check_same "scripts/release exits 0 in $clone_a" "$rc_a" 0
check_same "scripts/release exits 0 in $clone_b" "$rc_b" 0
[ "$rc_a" -eq 0 ] || tail -n 30 "$work/release-a.log"
[ "$rc_b" -eq 0 ] || tail -n 30 "$work/release-b.log"
out_a=$clone_a/build/release
out_b=$clone_b/build/release
check_same "the release holds the setup program and SHA256SUMS" \
  "$(cd "$out_a" 2>/dev/null && ls | sed 's/-[0-9.]*-x64-setup/-VERSION-x64-setup/')" \
  "$(printf 'SHA256SUMS\nTidewardenLauncher-VERSION-x64-setup.exe')"
check "SHA256SUMS lists every other file and matches" \
  bash -c "cd '$out_a' && sha256sum -c --strict SHA256SUMS && [ \$(wc -l <SHA256SUMS) -eq \$(ls | grep -vc '^SHA256SUMS\$') ]"
same_trees "release" "$out_a" "$out_b"
setup_a=$(echo "$out_a"/$version_file)
setup_b=$(echo "$out_b"/$version_file)
setup_bytes=$(stat -c %s "$setup_a" 2>/dev/null || echo 0)

set +e
install_fresh a "$setup_a"
rc=$?
set -e
installed_a=$installed
check_same "setup /S from $clone_a exits 0 in a fresh prefix" "$rc" 0
set +e
install_fresh b "$setup_b"
rc=$?
set -e
installed_b=$installed
check_same "setup /S from $clone_b exits 0 in a fresh prefix" "$rc" 0
check "the launcher, engine and uninstaller are installed" \
  test -f "$installed_a/tidewarden_launcher.exe" -a -f "$installed_a/flutter_windows.dll" -a -f "$installed_a/Uninstall.exe"
same_trees "installed" "$installed_a" "$installed_b"
for f in "$installed_a/tidewarden_launcher.exe" "$installed_a/flutter_windows.dll"; do
  check_same "$(basename "$f") is stamped with the commit time" "$(pe_timestamp "$f")" "$epoch"
done
check_same "no shipped or installed file holds a clone's path" \
  "$(grep -rlF -e "$clone_a" -e "$clone_b" -e "$root" "$out_a" "$out_b" "$installed_a" "$installed_b" || true)" ""

echo "== the PE check"
pe_failures() {  # pe_failures ARGS...: the names of the failing checks, one a line
  "$root/scripts/pe-check" "$@" | sed -n 's/^FAIL: [^:]*: \([^:]*\): .*/\1/p' | sort -u
}
check "shipped launcher and engine pass" \
  "$root/scripts/pe-check" "$installed_a/tidewarden_launcher.exe" "$installed_a/flutter_windows.dll"
check "the unstripped launcher passes, with stack protector, fortified calls and CET marks" \
  "$root/scripts/pe-check" --unstripped "$clone_a/build/release-build/runner/tidewarden_launcher.exe"
# makensis's prebuilt stubs have no relocation table; everything else holds.
check_same "setup program: only the stub's relocations are missing" "$(pe_failures "$setup_a")" relocations
check_same "uninstaller: only the stub's relocations are missing" \
  "$(pe_failures "$installed_a/Uninstall.exe")" relocations

# The same small program built with and without the mitigations.
fixture_src=$root/tests/release/hardening_fixture.c
fixtures=$work/fixtures
rm -rf "$fixtures"
mkdir -p "$fixtures"
cc=x86_64-w64-mingw32-gcc-posix
$cc -O2 "$fixture_src" -o "$fixtures/plain.exe"
# Fortified calls pull in libssp, and with it __stack_chk_fail, even where
# no function is protected.
$cc -O2 -D_FORTIFY_SOURCE=2 -fcf-protection=full "$fixture_src" -o "$fixtures/no-canary.exe" -lssp
$cc -O2 "$fixture_src" -o "$fixtures/no-aslr.exe" -s \
  -Wl,--disable-dynamicbase,--disable-high-entropy-va,--disable-nxcompat,--disable-reloc-section
cp "$windows/tests/release/hardening_fixture.exe" "$fixtures/hardened.exe"
x86_64-w64-mingw32-strip -o "$fixtures/hardened-stripped.exe" "$fixtures/hardened.exe"
# A launcher that imports more than it may: the engine under its name.
cp "$installed_a/flutter_windows.dll" "$fixtures/tidewarden_launcher.exe"
while IFS='|' read -r name want args; do
  # shellcheck disable=SC2086  # args are words on purpose
  check_same "pe-check: $name" "$(pe_failures $args | paste -sd, -)" "$want"
done <<EOF
project flags, unstripped||--unstripped $fixtures/hardened.exe
project flags, stripped||$fixtures/hardened-stripped.exe
default flags|CET,TERMINAL_SERVER_AWARE,fortified calls,stack protector,subsystem version|--unstripped $fixtures/plain.exe
fortified, no stack protector|TERMINAL_SERVER_AWARE,stack protector,subsystem version|--unstripped $fixtures/no-canary.exe
ASLR, DEP and relocations turned off|DYNAMIC_BASE,HIGH_ENTROPY_VA,NX_COMPAT,TERMINAL_SERVER_AWARE,relocations,subsystem version|$fixtures/no-aslr.exe
debug sections shipped|debug sections,symbol table|$fixtures/hardened.exe
imports beyond the launcher's allow-list|imports|$fixtures/tidewarden_launcher.exe
EOF

echo "== a signed release"
rm -rf "$keys"
mkdir -p "$keys"
(
  cd "$keys"
  openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 7 -subj "/CN=Release Test Root" \
    -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign
  openssl req -x509 -newkey rsa:2048 -nodes -keyout other-ca.key -out other-ca.pem -days 7 -subj "/CN=Another Root" \
    -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign
  openssl req -newkey rsa:2048 -nodes -keyout signing.key -out signing.csr -subj "/CN=Release Test Signing"
  printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' >signing.ext
  openssl x509 -req -in signing.csr -CA ca.pem -CAkey ca.key -set_serial 2 -days 7 -extfile signing.ext -out signing.pem
  cat signing.pem ca.pem >chain.pem
  openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out wrong.key
) >"$work/keys.log" 2>&1 || { cat "$work/keys.log" >&2; exit 1; }

set +e
release "$clone_b" "$work/release-signed.log" TW_SIGNING_CERT="$keys/chain.pem" TW_SIGNING_KEY="$keys/signing.key"
rc=$?
set -e
check_same "signed scripts/release exits 0" "$rc" 0
[ "$rc" -eq 0 ] || tail -n 30 "$work/release-signed.log"
signed_setup=$(echo "$out_b"/$version_file)
check "SHA256SUMS matches the signed setup" bash -c "cd '$out_b' && sha256sum -c --strict SHA256SUMS"
set +e
install_fresh signed "$signed_setup"
rc=$?
set -e
installed_s=$installed
check_same "signed setup /S exits 0 in a fresh prefix" "$rc" 0
signed_files=("$signed_setup" "$installed_s/tidewarden_launcher.exe" "$installed_s/flutter_windows.dll"
              "$installed_s/Uninstall.exe")
for f in "${signed_files[@]}"; do
  check "osslsigncode verify -CAfile: $(basename "$f")" osslsigncode verify -CAfile "$keys/ca.pem" -in "$f"
  check "osslsigncode verify against another authority fails: $(basename "$f")" \
    bash -c "! osslsigncode verify -CAfile '$keys/other-ca.pem' -in '$f'"
done
tampered=$work/tampered
rm -rf "$tampered"
mkdir -p "$tampered"
probe_args=()
for f in "${signed_files[@]}"; do
  copy=$tampered/$(basename "$f")
  # A file that is missing has failed its checks above; the answers below
  # then miss its pair.
  cp "$f" "$copy" 2>/dev/null || continue
  # One byte of the code, well before the signature at the end.
  printf '\x5a' | dd of="$copy" bs=1 seek=1100 conv=notrunc status=none
  probe_args+=("$(winpath "$f")" "$(winpath "$copy")")
done
probe_args+=("$(winpath "$installed_a/tidewarden_launcher.exe")")
answers=$( (wine_run "$trust_probe" "${probe_args[@]}" || true) | tr -d '\r' | awk '{ print $1 }' | paste -sd' ' -)
want=""
for _ in "${signed_files[@]}"; do want+="0x00000000 0x80096010 "; done
want+="0x800B0100"
check_same "WinVerifyTrust: 0 for each signed file, TRUST_E_BAD_DIGEST for its changed copy, TRUST_E_NOSIGNATURE unsigned" \
  "$answers" "$want"
for name in tidewarden_launcher.exe flutter_windows.dll; do
  rm -f "$tampered/$name.unsigned"
  osslsigncode remove-signature -in "$installed_s/$name" -out "$tampered/$name.unsigned" >/dev/null 2>&1 || true
  check "$name without its signature is the unsigned release's" cmp "$tampered/$name.unsigned" "$installed_a/$name"
done
# The uninstaller's data runs to the end of the file, so its signature
# starts after padding that removing the signature leaves behind; the
# signature moved onto the unsigned file gives the signed one, for every file.
for name in tidewarden_launcher.exe flutter_windows.dll Uninstall.exe; do
  rm -f "$tampered/$name.p7" "$tampered/$name.attached"
  osslsigncode extract-signature -in "$installed_s/$name" -out "$tampered/$name.p7" >/dev/null 2>&1 || true
  osslsigncode attach-signature -sigin "$tampered/$name.p7" -in "$installed_a/$name" \
    -out "$tampered/$name.attached" >/dev/null 2>&1 || true
  check "$name: its signature on the unsigned release's file gives the signed file" \
    cmp "$tampered/$name.attached" "$installed_s/$name"
  cp "$installed_a/$name" "$tampered/$name.resigned"
  SOURCE_DATE_EPOCH=$epoch TW_SIGNING_CERT=$keys/chain.pem TW_SIGNING_KEY=$keys/signing.key \
    "$root/cmake/sign-pe" "$tampered/$name.resigned" || true
  check "$name signed again with the same key is the same bytes" cmp "$tampered/$name.resigned" "$installed_s/$name"
done
# An engine library signed by its maker is left as it is: signing a signed
# file again, with a key that could not even sign, changes nothing.
cp "$installed_s/flutter_windows.dll" "$tampered/maker-signed.dll"
check "sign-pe leaves a file that is signed already as it is" \
  bash -c "TW_SIGNING_CERT='$keys/chain.pem' TW_SIGNING_KEY='$keys/wrong.key' '$root/cmake/sign-pe' \
    '$tampered/maker-signed.dll' && cmp '$tampered/maker-signed.dll' '$installed_s/flutter_windows.dll'"
check "the signed release's data files are the unsigned release's" diff -r "$installed_a/data" "$installed_s/data"

echo "== a signing failure"
key_line=$(sed -n 2p "$keys/wrong.key")
set +e
release "$clone_a" "$work/release-failed.log" TW_SIGNING_CERT="$keys/chain.pem" TW_SIGNING_KEY="$keys/wrong.key"
rc=$?
set -e
check "scripts/release with a key that does not match exits non-zero (exit $rc)" test "$rc" -ne 0
check "it shows osslsigncode's message" grep -q 'key values mismatch' "$work/release-failed.log"
check "it leaves no build/release/" test ! -e "$clone_a/build/release"
check "it leaves no partial release" test ! -e "$clone_a/build/release.partial"
check_same "it leaves no half-signed file" "$(find "$clone_a/build" -name '*.signing')" ""
check "the key is not in its output" bash -c "! grep -qF -e '$key_line' -e 'PRIVATE KEY' '$work/release-failed.log'"
check_same "the key is in no file of the build tree" "$(grep -rlF -e "$key_line" "$clone_a/build" || true)" ""
set +e
release "$clone_a" "$work/release-half.log" TW_SIGNING_CERT="$keys/chain.pem"
rc=$?
set -e
check "a certificate without a key fails at once (exit $rc)" test "$rc" -ne 0

echo "release: sizes in bytes: setup $setup_bytes, signed setup $(stat -c %s "$signed_setup"),"\
  "launcher $(stat -c %s "$installed_a/tidewarden_launcher.exe"), engine $(stat -c %s "$installed_a/flutter_windows.dll"),"\
  "uninstaller $(stat -c %s "$installed_a/Uninstall.exe"), data $(du -sb "$installed_a/data" | cut -f1)"
echo "release: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
