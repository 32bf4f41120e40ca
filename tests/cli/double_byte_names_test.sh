#!/usr/bin/env bash
# resicrypt-cli.exe on a Japanese Windows: Wine with a ja_JP locale made for the
# test, so that the ANSI code page is 932. 表 is 0x95 0x5C in it, a trail byte
# that is a backslash's: packed, the name is stored whole; unpacked, it comes back
# (neither cut at that byte nor refused as holding a separator).
#   double_byte_names_test.sh WINE-RUN RESICRYPT-CLI.EXE FOLDER
set -u
run=$1 exe=$2 work=$3
rm -rf "$work" && mkdir -p "$work/locale" "$work/out" && cd "$work" || exit 1
if ! localedef -i ja_JP -f UTF-8 "$work/locale/ja_JP.UTF-8" 2>/dev/null; then
  echo "localedef cannot make ja_JP.UTF-8 (package locales): skipped"
  exit 77
fi
japanese() { LOCPATH=$work/locale LC_ALL=ja_JP.UTF-8 "$run" "$exe" "$@"; }
printf 'double byte\n' > pw
printf 'hello' > 表.txt
japanese pack --password-file pw -o box.yal 表.txt || exit 1
# The record: name length 6, then 95 5C and ".txt".
od -An -tx1 -v box.yal | tr -d ' \n' | grep -q '06000000955c2e747874' ||
  { echo "the name is not stored as 95 5C .txt"; exit 1; }
japanese unpack --password-file pw -C out box.yal || exit 1
[ "$(cat out/表.txt)" = hello ] || { echo "表.txt did not come back"; exit 1; }
