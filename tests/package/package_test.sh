#!/usr/bin/env bash
# Checks the downloads that scripts/package wrote into DIR (default dist/): the zip,
# the .deb, the MSI installed, upgraded and removed under Wine in a prefix of its
# own, and a second scripts/package run giving the same zip and .deb. One line per
# group goes to build/package-summary.txt: "<group> passed" or "<group> failed".
#   tests/package/package_test.sh [DIR]
set -uo pipefail
source "$(dirname "$0")/../../scripts/lib.sh"
cd "$ROOT"
ensure_packages lintian man-db unzip

dist=$(realpath "${1:-dist}")
version=$(sed -n 's/^project(Resicrypt VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
work=$ROOT/build/package-test
summary=$ROOT/build/package-summary.txt
rm -rf "$work/scratch" "$work/wineprefix" && mkdir -p "$work/scratch" && : > "$summary"
cd "$work/scratch"
W=$WINEBIN/wine64
failures=0

check() { "${@:2}" || { printf '  problem: %s\n' "$1" >&2; failures=$((failures + 1)); }; }
same() { [ "$1" = "$2" ] || { printf '    got %q, expected %q\n' "$1" "$2" >&2; false; }; }
group() {  # group NAME FUNCTION
  local before=$failures
  log "package test: $1"
  "$2"
  [ "$failures" = "$before" ] && echo "$1 passed" >> "$summary" || echo "$1 failed" >> "$summary"
}
# roundtrip CLI... : packs data.bin and unpacks it again into a folder of its own.
roundtrip() {
  local out=out$((++runs))
  mkdir "$out" && "$@" pack --password-file pw.txt -o "$out.yal" data.bin &&
    "$@" unpack --password-file pw.txt -C "$out" "$out.yal" && cmp -s data.bin "$out/data.bin"
}
head -c 300000 /dev/urandom > data.bin
printf 'package test key\n' > pw.txt
runs=0
zipdir=zip/Resicrypt-$version

zip_contents() {
  unzip -q "$dist/Resicrypt-$version-win64.zip" -d zip
  check "zip entries" same "$(unzip -Z1 "$dist/Resicrypt-$version-win64.zip" | LC_ALL=C sort)" \
    "$(printf "${zipdir#zip/}/%s\n" "" LICENSE.txt README.txt Resicrypt.exe resicrypt-cli.exe \
      resicrypt-dde-call.exe)"
  check "a text line without CR LF" same "$(LC_ALL=C grep -v $'\r$' "$zipdir"/*.txt)" ""
  # README.txt carries the first steps: the start-up password, Explorer and Wine.
  check "README.txt: the start-up password" grep -q 'the password "742" already in both' \
    "$zipdir/README.txt"
  check "README.txt: from Explorer" grep -qx $'From Explorer\r' "$zipdir/README.txt"
  check "README.txt: the Wine command" grep -qF 'wine reg copy "HKCU' "$zipdir/README.txt"
  check "LICENSE.txt" grep -q '^Copyright (c) 2026 The Resicrypt developers' "$zipdir/LICENSE.txt"
  local exe
  for exe in "$zipdir"/*.exe; do
    check "$exe: version resource" same \
      "$(strings -el "$exe" | grep -A1 -x -e FileVersion -e ProductVersion | grep -vx -- --)" \
      "$(printf 'FileVersion\n%s\nProductVersion\n%s' "$version" "$version")"
  done
  check "resicrypt-cli.exe --version" same "$("$W" "$zipdir/resicrypt-cli.exe" --version)" \
    "resicrypt-cli $version"
  check "resicrypt-cli.exe round trip" roundtrip "$W" "$zipdir/resicrypt-cli.exe"
}

deb_contents() {
  local deb=$dist/resicrypt-cli_${version}_amd64.deb cli=deb/usr/bin/resicrypt-cli lib package
  check "deb files" same "$(dpkg-deb -c "$deb" | awk '!/^d/ {print $6}' | LC_ALL=C sort)" \
    "$(printf './usr/%s\n' bin/resicrypt-cli share/doc/resicrypt-cli/changelog.gz \
      share/doc/resicrypt-cli/copyright share/man/man1/resicrypt-cli.1.gz)"
  check "control fields" same "$(dpkg-deb -f "$deb" Package Version Architecture)" \
    "$(printf 'Package: resicrypt-cli\nVersion: %s\nArchitecture: amd64' "$version")"
  dpkg-deb -x "$deb" deb
  # Every library the program loads comes from a package that Depends names.
  for lib in $(objdump -p "$cli" | awk '$1 == "NEEDED" {print $2}'); do
    package=$(dpkg -S "*/x86_64-linux-gnu/$lib" | head -n 1 | cut -d: -f1)
    check "Depends lacks $package ($lib)" grep -qxF "$package" \
      < <(dpkg-deb -f "$deb" Depends | tr ',' '\n' | awk '{print $1}')
  done
  check "resicrypt-cli --version" same "$("$cli" --version)" "resicrypt-cli $version"
  check "resicrypt-cli round trip" roundtrip "$cli"
  # The Linux command line reads the container that the Windows one packed.
  mkdir cross
  check "Windows container unpacked on Linux" "$cli" unpack --password-file pw.txt -C cross out1.yal
  check "... same bytes" cmp -s data.bin cross/data.bin
  check "man -l warns" same "$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings \
    -l deb/usr/share/man/man1/resicrypt-cli.1.gz 2>&1 >/dev/null)" ""
  check "lintian errors" lintian --fail-on error "$deb"
}

prepare_prefix "$work/wineprefix" null  # the null display driver: no X server needed
start_wineserver
trap stop_wineserver EXIT
unixpath() { "$W" winepath -u "$1" 2>/dev/null | tr -d '\r'; }
folder() { unixpath "$("$W" cmd /c echo "%$1%" 2>/dev/null | tr -d '\r')"; }
program=$(folder LOCALAPPDATA)/Programs/Resicrypt
shortcut="$(folder APPDATA)/Microsoft/Windows/Start Menu/Programs/Resicrypt.lnk"
sendto="$(folder APPDATA)/Microsoft/Windows/SendTo/Resicrypt.lnk"
entries() {  # the installed-programs entries named Resicrypt (per user, under Wine in HKLM)
  for root in HKLM HKCU; do "$W" reg query "$root\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall" /s
  done 2>/dev/null | tr -d '\r' | awk '/^HKEY/ {key = $0} /DisplayName +REG_SZ +Resicrypt$/ {print key}'
}
value() { "$W" reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | sed -n "s/^ *$2 *REG_[A-Z_]* *//p"; }
default_value() { "$W" reg query "$1" /ve 2>/dev/null | tr -d '\r' | sed -n "s/^ *(Default) *REG_SZ *//p"; }
one_entry() {  # one_entry VERSION
  local key
  key=$(entries)
  check "entries: $key" same "$(grep -c . <<<"$key")" 1
  check "DisplayVersion" same "$(value "$key" DisplayVersion)" "$1"
}

msi_install() {
  cp "$dist/Resicrypt-$version-win64.msi" . && check "msiexec /i" "$W" msiexec /i \
    "Resicrypt-$version-win64.msi" /qn
  check "installed files" same "$(ls "$program")" "$(ls "$zipdir")"
  check "Start menu shortcut" test -f "$shortcut"
  check "Send to shortcut" test -f "$sendto"
  # The .yal file type, per user; the program's path as Windows spells it.
  local exe classes='HKCU\Software\Classes' tries
  exe=$("$W" winepath -w "$program/Resicrypt.exe" 2>/dev/null | tr -d '\r')
  check ".yal" same "$(default_value "$classes\.yal")" Resicrypt.Container
  check "file type name" same "$(default_value "$classes\Resicrypt.Container")" \
    "Resicrypt container"
  check "file type icon" same "$(default_value "$classes\Resicrypt.Container\DefaultIcon")" \
    "\"$exe\",-2"
  check "open command" same \
    "$(default_value "$classes\Resicrypt.Container\shell\open\command")" "\"$exe\" \"%1\""
  check "a silent install started the program" same "$(pgrep -f 'Resicrypt\\Resicrypt.exe')" ""
  # Wine's shell reads no per-user classes (Windows merges them): README's one
  # command for Wine copies them to HKLM, in this prefix only; then a double-click
  # on a .yal starts Resicrypt.
  local key copy
  copy=$(sed -n '/^### Under Wine/,/^## /p' "$ROOT/README.md" | sed -n '/^```sh$/,/^```$/{/^```/!p}')
  check "README's command for Wine" eval "${copy//wine reg/\"\$W\" reg} >/dev/null 2>&1"
  cp data.bin "double click.yal"
  "$W" start "$("$W" winepath -w "$PWD/double click.yal" 2>/dev/null | tr -d '\r')" >/dev/null 2>&1
  for tries in $(seq 40); do pgrep -f 'Resicrypt\\Resicrypt.exe' >/dev/null || sleep 0.25; done
  check "a double-clicked .yal opens in Resicrypt" grep -q 'Resicrypt.exe .*double click.yal' \
    <<<"$(pgrep -af 'Resicrypt\\Resicrypt.exe')"
  pkill -f 'Resicrypt\\Resicrypt.exe'
  for key in .yal Resicrypt.Container; do "$W" reg delete "HKLM\\Software\\Classes\\$key" /f >/dev/null 2>&1; done
  one_entry "$version"
  check "DisplayName, Publisher" same "$(value "$(entries)" DisplayName),$(value "$(entries)" \
    Publisher)" "Resicrypt,The Resicrypt developers"
  # The list shows the product icon that the installer keeps.
  check "product icon" test -f "$(unixpath "$("$W" reg query \
    'HKCU\Software\Microsoft\Installer\Products' /s | tr -d '\r' | sed -n 's/^ *ProductIcon.*REG_SZ *//p')")"
}

# The installed Resicrypt answers the installed caller with the cipher text that the
# Linux command line gives for the same line and password, and then ends.
msi_dde() {
  "$W" "$program/Resicrypt.exe" </dev/null >/dev/null 2>&1 &
  local resicrypt=$! status=2 tries=0
  while [ "$status" = 2 ] && [ $((tries++)) -lt 40 ]; do  # 2: the service is not up yet
    sleep 0.25
    echo 'one line' | timeout 60 "$W" "$program/resicrypt-dde-call.exe" encrypt 'package test key' \
      > dde.out 2> dde.err
    status=$?
  done
  check "resicrypt-dde-call: $status $(cat dde.err)" same "$(tr -d '\r' < dde.out)" \
    "$(echo 'one line' | deb/usr/bin/resicrypt-cli encrypt-text --password-file pw.txt)"
  check "resicrypt-dde-call --version" same \
    "$("$W" "$program/resicrypt-dde-call.exe" --version | tr -d '\r')" "resicrypt-dde-call $version"
  for tries in $(seq 40); do kill -0 "$resicrypt" 2>/dev/null && sleep 0.25; done
  check "Resicrypt ended with the conversation" eval "! kill $resicrypt 2>/dev/null"
}

# A later version, built here from the same files, replaces the installed one.
later=$((${version%%.*} + 1)).00
msi_upgrade() {
  (cd "$ROOT" && wixl -a x64 -D Version="$later" -D ProductCode=0F1E2D3C-4B5A-4978-8695-A4B3C2D1E0F9 \
    -D FilesDir="${work#"$ROOT/"}/scratch/$zipdir" -D IconFile=ui/resources/resicrypt.ico \
    -o "$work/scratch/later.msi" packaging/resicrypt.wxs)
  check "msiexec /i later" "$W" msiexec /i later.msi /qn
  one_entry "$later"
  check "files after the upgrade" same "$(ls "$program")" "$(ls "$zipdir")"
}

msi_uninstall() {
  check "msiexec /x" "$W" msiexec /x later.msi /qn
  check "the program's folder stays" test ! -e "$program"
  check "the shortcut stays" test ! -e "$shortcut"
  check "the Send to shortcut stays" test ! -e "$sendto"
  check "a cached installer stays" same "$(ls "$work/wineprefix/drive_c/windows/Installer")" ""
  stop_wineserver && "$WINEBIN/wineserver" -w  # the registry is saved when the server ends
  check "the registry names Resicrypt" same "$(grep -il resicrypt "$work"/wineprefix/*.reg)" ""
}

# An install with its user interface ends by starting the program (a silent one
# never does: msi-install checks that); removed again at once.
msi_interactive() {
  start_wineserver
  check "msiexec /i, interactive" "$W" msiexec /i "Resicrypt-$version-win64.msi"
  local tries
  for tries in $(seq 40); do pgrep -f 'Resicrypt\\Resicrypt.exe' >/dev/null || sleep 0.25; done
  check "the program started" pgrep -f 'Resicrypt\\Resicrypt.exe'
  pkill -f 'Resicrypt\\Resicrypt.exe'
  check "msiexec /x" "$W" msiexec /x "Resicrypt-$version-win64.msi" /qn
}

# Linked again, the exes and the command line give the same zip and .deb; no build
# folder and no link time in the exes.
reproducible() {
  (cd "$ROOT/build" && rm -f windows/ui/Resicrypt.exe windows/cli/resicrypt-cli.exe \
    windows/examples/resicrypt-dde-call.exe release-native/cli/resicrypt-cli)
  (cd "$ROOT" && scripts/package --out "$work/again" >/dev/null 2>&1)
  local file
  for file in "Resicrypt-$version-win64.zip" "resicrypt-cli_${version}_amd64.deb"; do
    check "$file built twice" cmp "$dist/$file" "$work/again/$file"
  done
  check "the build folder in a binary" same "$(grep -l "$ROOT" "$zipdir"/*.exe deb/usr/bin/*)" ""
  check "a link time" same "$(objdump -p "$zipdir"/*.exe | grep -c '^Time/Date.* 1970$')" 3
  cmp -s "$dist/Resicrypt-$version-win64.msi" "$work/again/Resicrypt-$version-win64.msi" &&
    log "the MSI built twice is the same too" || log "the MSI built twice differs"
}

group zip zip_contents
group deb deb_contents
group msi-install msi_install
group msi-dde msi_dde
group msi-upgrade msi_upgrade
group msi-uninstall msi_uninstall
group msi-interactive msi_interactive
group reproducible reproducible
[ "$failures" = 0 ]
