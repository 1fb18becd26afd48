#!/usr/bin/env bash
# Patches between two real releases of real projects, fetched from the npm registry when the
# benchmark runs (nothing of them is kept in the repository): ours as tandor-publish makes it
# and as the update pass applies it, against zstd --patch-from at levels 3 and 19, xdelta3 -9
# and bsdiff, each a whole process, the tools' order turned round from round to round.
#
#   bench/delta_releases.sh [build folder] [rounds]   (defaults: build-rel, 1)
#
# Per pair and tool: patch bytes, seconds and peak memory to make it and to apply it (medians).
# Then the goals: ours no larger than zstd's better level, made in at most twice that level's
# time, applied in at most 1.5 times zstd's, and on executables within 1.3 times bsdiff's size.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(realpath "${1:-$here/../build-rel}")
rounds=${2:-1}
tool=$build/bench/delta_bench
[ -x "$tool" ] || { echo "build $tool first (cmake --build $build --target delta_bench)" >&2; exit 1; }
for need in npm zstd xdelta3 bsdiff bspatch; do
  command -v "$need" >/dev/null || { echo "$need is missing (scripts/setup.sh installs it)" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# name, npm package, old and new version, the file inside the package, its kind.
pairs=(
  "esbuild @esbuild/linux-x64 0.28.1 0.28.2 package/bin/esbuild executable"
  "biome @biomejs/cli-linux-x64 2.6.8 2.6.9 package/biome executable"
  "typescript typescript 5.8.3 5.9.2 package/lib/typescript.js script"
)

fetch() {  # package version file -> prints the path of the file
  local dir="$work/pkg/$1@$2"
  if [ ! -d "$dir" ]; then
    mkdir -p "$dir"
    (cd "$dir" && npm pack --silent "$1@$2" >/dev/null 2>&1 && tar xzf ./*.tgz) ||
      { echo "cannot fetch $1@$2 from the npm registry" >&2; exit 1; }
  fi
  echo "$dir/$3"
}

measure() {  # prints "seconds peak-KiB" of one command
  local start end
  start=$EPOCHREALTIME
  /usr/bin/time -f %M -o "$work/mem" "$@" >/dev/null 2>&1
  end=$EPOCHREALTIME
  echo "$(echo "$end - $start" | bc) $(cat "$work/mem")"
}

median() { sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }

# Each tool's command that makes a patch (OLD NEW PATCH) and that applies it (OLD PATCH RESULT),
# into the array cmd.
tools=(ours zstd3 zstd19 xdelta3 bsdiff)
make_command() {  # tool old new patch
  case $1 in
    ours) cmd=("$tool" make "$2" "$3" "$4") ;;
    zstd3) cmd=(zstd -q -f -3 --long=27 --patch-from="$2" "$3" -o "$4") ;;
    zstd19) cmd=(zstd -q -f -19 --long=27 --patch-from="$2" "$3" -o "$4") ;;
    xdelta3) cmd=(xdelta3 -9 -f -e -s "$2" "$3" "$4") ;;
    bsdiff) cmd=(bsdiff "$2" "$3" "$4") ;;
  esac
}
apply_command() {  # tool old patch result
  case $1 in
    ours) cmd=("$tool" apply "$2" "$3" "$4") ;;
    zstd3 | zstd19) cmd=(zstd -q -f -d --long=31 --patch-from="$2" "$3" -o "$4") ;;
    xdelta3) cmd=(xdelta3 -f -d -s "$2" "$3" "$4") ;;
    bsdiff) cmd=(bspatch "$2" "$4" "$3") ;;
  esac
}

echo "rounds: $rounds, medians; memory is peak resident size (mapped files count in it)"
failed=0
for pair in "${pairs[@]}"; do
  read -r name package from to file kind <<<"$pair"
  old=$(fetch "$package" "$from" "$file")
  new=$(fetch "$package" "$to" "$file")
  whole=$(stat -c %s "$new")
  declare -A bytes=() make=() makemem=() apply=() applymem=()
  samples=()
  for round in $(seq "$rounds"); do
    order=("${tools[@]}")
    [ $((round % 2)) -eq 0 ] && order=($(printf '%s\n' "${tools[@]}" | tac))
    for t in "${order[@]}"; do
      make_command "$t" "$old" "$new" "$work/$t.patch"
      m=$(measure "${cmd[@]}")
      sync
      rm -f "$work/$t.result"
      apply_command "$t" "$old" "$work/$t.patch" "$work/$t.result"
      a=$(measure "${cmd[@]}")
      cmp -s "$work/$t.result" "$new" || { echo "$name: $t's patch did not give the new file" >&2; exit 1; }
      bytes[$t]=$(stat -c %s "$work/$t.patch")
      samples+=("$t ${m% *} ${m#* } ${a% *} ${a#* }")
    done
  done
  printf '\n%s %s -> %s (%s, %d bytes)\n' "$package" "$from" "$to" "$kind" "$whole"
  printf '  %-8s %12s %8s %10s %9s %9s %9s\n' tool "patch B" "% file" "make s" "make MB" "apply s" "apply MB"
  for t in "${tools[@]}"; do
    pick() { printf '%s\n' "${samples[@]}" | awk -v t="$t" -v f="$1" '$1 == t {print $f}' | median; }
    make[$t]=$(pick 2) makemem[$t]=$(pick 3) apply[$t]=$(pick 4) applymem[$t]=$(pick 5)
    printf '  %-8s %12d %8.3f %10.2f %9d %9.3f %9d\n' "$t" "${bytes[$t]}" \
      "$(echo "100 * ${bytes[$t]} / $whole" | bc -l)" "${make[$t]}" $((makemem[$t] / 1024)) \
      "${apply[$t]}" $((applymem[$t] / 1024))
  done
  # zstd's better level is the one to meet.
  best=zstd19
  [ "${bytes[zstd3]}" -lt "${bytes[zstd19]}" ] && best=zstd3
  goal() {  # text, holds (1 or 0)
    printf '  %-62s %s\n' "$1" "$([ "$2" -eq 1 ] && echo met || echo MISSED)"
    [ "$2" -eq 1 ] || failed=1
  }
  goal "size ${bytes[ours]} <= $best's ${bytes[$best]}" "$([ "${bytes[ours]}" -le "${bytes[$best]}" ] && echo 1 || echo 0)"
  goal "make $(printf %.2f "${make[ours]}") s <= 2 x $best's $(printf %.2f "${make[$best]}") s" \
    "$(echo "${make[ours]} <= 2 * ${make[$best]}" | bc)"
  goal "apply $(printf %.3f "${apply[ours]}") s <= 1.5 x zstd -d's $(printf %.3f "${apply[$best]}") s" \
    "$(echo "${apply[ours]} <= 1.5 * ${apply[$best]}" | bc)"
  if [ "$kind" = executable ]; then
    goal "size ${bytes[ours]} <= 1.3 x bsdiff's ${bytes[bsdiff]}" \
      "$(echo "${bytes[ours]} <= 1.3 * ${bytes[bsdiff]}" | bc)"
  fi
  unset bytes make makemem apply applymem
done
exit $failed
