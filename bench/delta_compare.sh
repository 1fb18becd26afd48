#!/usr/bin/env bash
# Patches against whole files, as whole processes: for each pair of versions, the bytes a client
# moves (the patch against the whole file), the time and peak memory of making the patch (as
# tandor-publish makes it) and of applying it (as the update pass applies it), and applying
# against copying the whole file with cp, rounds alternated.
#
#   bench/delta_compare.sh [build folder] [rounds] [OLD NEW]   (defaults: build-rel, 5)
#
# Rows: a 100 MB program (real program files of this machine laid end to end) with one byte
# changed, the same with 1 MB of other program code inserted in the middle, and OLD to NEW when
# given (two builds of one program, say). TANDOR_BENCH_MB sets the size of the first two
# (TANDOR_BENCH_MB=1024 for the 1 GiB rows).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(realpath "${1:-$here/../build-rel}")
rounds=${2:-5}
tool=$build/bench/delta_bench
[ -x "$tool" ] || { echo "build $tool first (cmake --build $build --target delta_bench)" >&2; exit 1; }
mb=${TANDOR_BENCH_MB:-100}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The machine's own libraries, in a fixed order, as the body of a large program.
# Past what they hold (about 500 MB), every large file under /usr.
program() {  # bytes file
  # head stops reading once it has enough: the writers before it end on a broken pipe.
  (set +o pipefail
    { find /usr/lib/x86_64-linux-gnu /usr/lib -maxdepth 1 -name '*.so*' -type f -size +100k \
        2>/dev/null | sort
      find /usr/bin /usr/libexec /usr/share -type f -size +100k 2>/dev/null | sort
    } | xargs cat 2>/dev/null | head -c "$1" >"$2")
  [ "$(stat -c %s "$2")" -eq "$1" ] || { echo "not enough program files for $1 bytes" >&2; exit 1; }
}

bytes=$((mb * 1000 * 1000))
program "$bytes" "$work/program"
cp "$work/program" "$work/flipped"
printf '\x5a' | dd of="$work/flipped" bs=1 seek=$((bytes / 2)) conv=notrunc status=none
{
  head -c $((bytes / 2)) "$work/program"
  # Other program code: the end of the same collection.
  (set +o pipefail
    find /usr/lib/x86_64-linux-gnu -maxdepth 1 -name '*.so*' -type f -size +100k 2>/dev/null |
      sort -r | xargs cat 2>/dev/null | head -c 1000000)
  tail -c +$((bytes / 2 + 1)) "$work/program"
} >"$work/inserted"

measure() {  # prints "seconds peak-KiB" of one command
  local start end
  start=$EPOCHREALTIME
  /usr/bin/time -f %M -o "$work/mem" "$@" >/dev/null
  end=$EPOCHREALTIME
  echo "$(echo "$end - $start" | bc) $(cat "$work/mem")"
}

median() { sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }

row() {  # name old new
  local name=$1 old=$2 new=$3 make apply copy ratios
  make=() apply=() copy=() ratios=()
  for round in $(seq "$rounds"); do
    rm -f "$work/patch"
    make+=("$(measure "$tool" make "$old" "$new" "$work/patch")")
    sync
    local a c
    # Alternated: who goes first changes from round to round.
    if [ $((round % 2)) -eq 1 ]; then
      rm -f "$work/result" "$work/copy"
      a=$(measure "$tool" apply "$old" "$work/patch" "$work/result")
      c=$(measure cp "$new" "$work/copy")
    else
      rm -f "$work/result" "$work/copy"
      c=$(measure cp "$new" "$work/copy")
      a=$(measure "$tool" apply "$old" "$work/patch" "$work/result")
    fi
    cmp -s "$work/result" "$new" || { echo "$name: the patch did not give the new file" >&2; exit 1; }
    apply+=("$a") copy+=("$c")
    ratios+=("$(echo "${a%% *} / ${c%% *}" | bc -l)")
  done
  local whole patch
  whole=$(stat -c %s "$new")
  patch=$(stat -c %s "$work/patch")
  printf '%-32s whole %10d B | patch %9d B (%.3f%%) | make %6.2f s %5d MB | apply %5.3f s %4d MB | cp %5.3f s | apply/cp %.2f\n' \
    "$name" "$whole" "$patch" "$(echo "100 * $patch / $whole" | bc -l)" \
    "$(printf '%s\n' "${make[@]%% *}" | median)" "$(($(printf '%s\n' "${make[@]##* }" | median) / 1024))" \
    "$(printf '%s\n' "${apply[@]%% *}" | median)" "$(($(printf '%s\n' "${apply[@]##* }" | median) / 1024))" \
    "$(printf '%s\n' "${copy[@]%% *}" | median)" "$(printf '%s\n' "${ratios[@]}" | median)"
}

echo "rounds: $rounds, medians; memory is peak resident size (the mapped files count in it)"
row "$mb MB program, 1 byte changed" "$work/program" "$work/flipped"
row "$mb MB program, 1 MB inserted" "$work/program" "$work/inserted"
if [ $# -ge 4 ]; then
  cp "$3" "$work/old-build"
  cp "$4" "$work/new-build"
  row "$(basename "$4"): two builds" "$work/old-build" "$work/new-build"
fi
