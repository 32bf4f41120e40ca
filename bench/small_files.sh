#!/usr/bin/env bash
# The cost of a file: pack and unpack of many small files (1 KiB of random bytes
# each) beside `tar cf - | age -r` and 7-Zip natively, and under Wine
# resicrypt-cli.exe unpack beside Wine's xcopy of the same files, and the window's
# Encrypt File and Decrypt File beside resicrypt-cli.exe.
#   bench/small_files.sh [FILES] [ROUNDS]      default 10000 files, 5 rounds
#   RESICRYPT_SMALL_WINE=0 bench/small_files.sh   # the native figures only
#   RESICRYPT_SPEED_NATIVE_BUILD=DIR RESICRYPT_SPEED_WINDOWS_BUILD=DIR ...  (as speed.sh)
# The files lie in a folder under TMPDIR (default /tmp). Every timed run writes a
# new output after a sync. A round runs each tool once, resicrypt first in odd
# rounds and last in even ones; each ratio is taken within a round, and its
# median over the rounds is held against the target. The load average is printed
# with the figures: on a shared machine they move with it.
# Exits 1 when a target is missed:
#   pack <= 1.0 x tar|age and <= 1.0 x 7z a; unpack <= 1.0 x age -d|tar x and <= 1.0 x 7z x
#   Wine: resicrypt-cli.exe unpack <= 1.3 x xcopy; Encrypt File and Decrypt File in
#   the window <= 1.3 x resicrypt-cli.exe pack and unpack (Wine's start-up, timed
#   on an empty file in the same round, taken off the CLI's times).
# A Windows command line holds at most 32,767 characters: the CLI packs the files
# in as many runs as their names need (each run's start-up taken off), which is
# the same work per file.
set -euo pipefail
source "$(dirname "$0")/../scripts/lib.sh"
cd "$ROOT"
ensure_packages time bc age p7zip-full

files=${1:-10000}
rounds=${2:-5}
wine_too=${RESICRYPT_SMALL_WINE:-1}
nbuild=${RESICRYPT_SPEED_NATIVE_BUILD:-$ROOT/build/native}
wbuild=${RESICRYPT_SPEED_WINDOWS_BUILD:-$ROOT/build/windows}
cmake --preset native -B "$nbuild" >/dev/null
cmake --build "$nbuild" -j "$(jobs_count)" --target resicrypt-cli >/dev/null
cli="$nbuild/cli/resicrypt-cli"
if [ "$wine_too" = 1 ]; then
  cmake --preset windows -B "$wbuild" >/dev/null
  cmake --build "$wbuild" -j "$(jobs_count)" --target resicrypt-cli window_speed >/dev/null
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/resicrypt-small.XXXXXX")
trap 'stop_wineserver; rm -rf "$work"' EXIT
cd "$work"
mkdir src
head -c $((files * 1024)) /dev/urandom > all.bin
(cd src && split -b 1024 -a 5 -d ../all.bin f)
rm all.bin
printf 'abcdefghijklmnopqrstuvw\n' > pw   # 23 bytes
pw=$(head -c 23 pw)
age-keygen -o age.key 2>/dev/null
recipient=$(age-keygen -y age.key)

# SECONDS of one run of a command that writes OUTPUT (a file or folder, made anew).
timed() {
  local output=$1 t0 t1
  shift
  rm -rf "$output"
  sync
  t0=$(date +%s.%N)
  "$@" >/dev/null 2>&1
  t1=$(date +%s.%N)
  echo "$t1 - $t0" | bc -l
}
in_folder() { mkdir -p "$1" && (cd "$1" && shift && "$@"); }  # in_folder DIR COMMAND...

r_pack() { (cd src && "$cli" pack --password-file ../pw -o ../c.yal ./*); }
r_unpack() { mkdir out && "$cli" unpack --password-file pw -C out c.yal; }
tar_age() { tar cf - src | age -r "$recipient" > x.age; }
age_tar() { mkdir out_age && age -d -i age.key x.age | tar xf - -C out_age; }
sz_a() { 7z a -mx0 "-p$pw" x.7z src; }
sz_x() { 7z x "-p$pw" -oout_7z x.7z; }

declare -A time
load=()
for r in $(seq 1 "$rounds"); do
  load+=("$(cut -d' ' -f1 /proc/loadavg)")
  ours() {
    time[pack,$r]=$(timed c.yal r_pack)
    time[unpack,$r]=$(timed out r_unpack)
  }
  peers() {
    time[tar_age,$r]=$(timed x.age tar_age)
    time[age_tar,$r]=$(timed out_age age_tar)
    time[7z_a,$r]=$(timed x.7z sz_a)
    time[7z_x,$r]=$(timed out_7z sz_x)
  }
  if [ $((r % 2)) = 1 ]; then ours; peers; else peers; ours; fi
done
diff -r src out >/dev/null && diff -r src out_age/src >/dev/null && diff -r src out_7z/src >/dev/null \
  || { echo "an unpacked file differs from its source" >&2; exit 1; }

median() { sort -g | awk '{v[NR] = $1} END {printf "%.3f", NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
median_time() { for r in $(seq 1 "$rounds"); do echo "${time[$1,$r]}"; done | median; }
median_ratio() {
  for r in $(seq 1 "$rounds"); do echo "${time[$1,$r]} / ${time[$2,$r]}" | bc -l; done | median
}

if [ "$wine_too" = 1 ]; then
  prepare_prefix "$wbuild/wineprefix" null
  start_wineserver
  wine_run() { "$wbuild/wine-run.sh" "$@"; }
  wpath() { printf 'Z:%s' "$(realpath "$1" | tr / '\\')"; }
  cli_exe() { wine_run "$wbuild/cli/resicrypt-cli.exe" "$@"; }
  wpw=$(wpath pw)
  # (awk's ENVIRON, as sed and awk -v would read the backslashes as escapes)
  folder=$(wpath src)
  ls src | folder=$folder awk '{print ENVIRON["folder"] "\\" $0}' > list.txt
  : > empty.bin
  # The names in runs that fit a Windows command line, as relative names in src.
  mapfile -t chunks < <(ls src | awk '{ if (len + length($0) + 1 > 30000) { print line; line = ""; len = 0 }
                                          line = line (len ? " " : "") $0; len += length($0) + 1 }
                                        END { if (line != "") print line }')
  exe_pack() {  # every run of names into a container of its own; prints the seconds
    local total=0 k=0 names t
    for names in "${chunks[@]}"; do
      k=$((k + 1))
      # shellcheck disable=SC2086
      t=$(timed "wcli$k.yal" in_folder src "$wbuild/wine-run.sh" "$wbuild/cli/resicrypt-cli.exe" \
        pack --password-file "$wpw" -o "..\\wcli$k.yal" $names)
      total=$(echo "$total + $t" | bc -l)
    done
    echo "$total"
  }
  mkdir -p wexe
  for r in $(seq 1 "$rounds"); do
    load+=("$(cut -d' ' -f1 /proc/loadavg)")
    start=$(timed e.yal cli_exe pack --password-file "$wpw" -o "$(wpath .)\\e.yal" "$(wpath empty.bin)")
    time[wstart,$r]=$start
    packed=$(exe_pack)
    time[wcli_pack,$r]=$(echo "$packed - ${#chunks[@]} * $start" | bc -l)
    rm -rf wout; mkdir wout
    t=$(timed wout/f00000 cli_exe unpack --password-file "$wpw" -C "$(wpath wout)" "$(wpath c.yal)")
    time[wcli_unpack_full,$r]=$t
    time[wcli_unpack,$r]=$(echo "$t - $start" | bc -l)
    rm -rf wxcopy; mkdir wxcopy
    time[xcopy,$r]=$(timed wxcopy/f00000 wine_run xcopy /Q "$(wpath src)" "$(wpath wxcopy)")
    rm -rf wwin; mkdir wwin
    sync
    out=$(wine_run "$wbuild/bench/window/window_speed.exe" "@$(wpath list.txt)" "$(wpath wwin)\\c.yal" \
      "$pw" 2>/dev/null | tr -d '\r')
    time[window_enc,$r]=$(awk '/^encrypt / {print $2}' <<<"$out")
    time[window_dec,$r]=$(awk '/^decrypt / {print $2}' <<<"$out")
    time[window_enc_wait,$r]=$(awk '/^encrypt-wait/ {print $2}' <<<"$out")
    time[window_dec_wait,$r]=$(awk '/^decrypt-wait/ {print $2}' <<<"$out")
  done
  diff -r src wout >/dev/null && diff -r src wxcopy >/dev/null \
    || { echo "a file unpacked or copied under Wine differs" >&2; exit 1; }
  [ "$(ls wwin | wc -l)" = $((files + 1)) ] || { echo "the window did not unpack every file" >&2; exit 1; }
  stop_wineserver
fi

missed=0
check() {  # check LABEL VALUE OP LIMIT
  local ok
  ok=$(echo "$2 $3 $4" | bc -l)
  printf '  %-44s %8s  (target %s %s) %s\n' "$1" "$2" "$3" "$4" "$([ "$ok" = 1 ] && echo ok || echo MISSED)"
  [ "$ok" = 1 ] || missed=1
}
figure() { printf '  %-44s %8s s\n' "$1" "$(median_time "$2")"; }

printf '\n%d files of 1 KiB, %d rounds (median time of each); load average at each round: %s\n' \
  "$files" "$rounds" "${load[*]}"
figure "resicrypt-cli pack" pack
figure "tar cf - | age -r" tar_age
figure "7z a -mx0 -p" 7z_a
figure "resicrypt-cli unpack" unpack
figure "age -d | tar xf -" age_tar
figure "7z x -p" 7z_x
if [ "$wine_too" = 1 ]; then
  figure "Wine start-up (empty pack)" wstart
  figure "resicrypt-cli.exe pack, start-up off" wcli_pack
  figure "Encrypt File in the window" window_enc
  figure "  its longest wait for a message" window_enc_wait
  figure "resicrypt-cli.exe unpack" wcli_unpack_full
  figure "xcopy" xcopy
  figure "resicrypt-cli.exe unpack, start-up off" wcli_unpack
  figure "Decrypt File in the window" window_dec
  figure "  its longest wait for a message" window_dec_wait
fi
printf '\nTargets (median over the rounds of the ratio within each round)\n'
check "pack / tar|age" "$(median_ratio pack tar_age)" "<=" 1.0
check "pack / 7z a" "$(median_ratio pack 7z_a)" "<=" 1.0
check "unpack / age|tar" "$(median_ratio unpack age_tar)" "<=" 1.0
check "unpack / 7z x" "$(median_ratio unpack 7z_x)" "<=" 1.0
if [ "$wine_too" = 1 ]; then
  check "resicrypt-cli.exe unpack / xcopy (Wine)" "$(median_ratio wcli_unpack_full xcopy)" "<=" 1.3
  check "Encrypt File / resicrypt-cli.exe pack" "$(median_ratio window_enc wcli_pack)" "<=" 1.3
  check "Decrypt File / resicrypt-cli.exe unpack" "$(median_ratio window_dec wcli_unpack)" "<=" 1.3
fi
exit $missed
