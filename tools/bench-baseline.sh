#!/bin/sh
# Measures a benchmark of the working tree beside the same benchmark built from
# an earlier revision, in one run: the revision is checked out in a scratch
# worktree, both are built with the release preset, and the two binaries run
# the same benchmark filter by turns, so that what else the machine does
# weighs on both alike. Prints the medians of the rounds side by side, and
# whether the counters that a seeded run fixes (populations, births) agree.
#
#   tools/bench-baseline.sh [-r revision] [-t target] [-f filter] [-n rounds] [-j jobs] [-c cores]
#
#   -r  the baseline (default: the merge-base with main, or HEAD~1 on main itself)
#   -t  the benchmark executable, a target of both trees (default: models_bench)
#   -f  the benchmark filter, a regular expression (default: ^BM_Engine_)
#   -n  rounds of each binary (default: 3)
#   -j  build jobs (default: 4)
#   -c  cores to run on, as taskset takes them (default: any)
#
# The benchmark keeps its names from one revision to the next: the baseline runs
# its own copy of the source file, under the same filter.
set -eu

revision=""
target="models_bench"
filter="^BM_Engine_"
rounds=3
jobs=4
cores=""
while getopts "r:t:f:n:j:c:h" option; do
  case "$option" in
    r) revision="$OPTARG" ;;
    t) target="$OPTARG" ;;
    f) filter="$OPTARG" ;;
    n) rounds="$OPTARG" ;;
    j) jobs="$OPTARG" ;;
    c) cores="$OPTARG" ;;
    *) sed -n '2,18s/^# \{0,1\}//p' "$0"; exit 2 ;;
  esac
done

top=$(git rev-parse --show-toplevel)
cd "$top"
if [ -z "$revision" ]; then
  revision=$(git merge-base HEAD main 2>/dev/null || true)
  if [ -z "$revision" ] || [ "$revision" = "$(git rev-parse HEAD)" ]; then revision="HEAD~1"; fi
fi
baseline=$(git rev-parse --verify "$revision^{commit}")

scratch=$(mktemp -d "${TMPDIR:-/tmp}/bench-baseline-XXXXXX")
cleanup() {
  git -C "$top" worktree remove --force "$scratch/baseline" >/dev/null 2>&1 || true
  git -C "$top" worktree prune
  rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

launcher=""
command -v ccache >/dev/null 2>&1 && launcher="-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"

# Builds the target with the tree's own release preset; prints the binary's path.
build() {
  (cd "$1" && cmake --preset release $launcher >"$scratch/configure.log" 2>&1 &&
    cmake --build --preset release --target "$target" -j "$jobs" >"$scratch/build.log" 2>&1) || {
    cat "$scratch/configure.log" "$scratch/build.log" >&2
    echo "bench-baseline: $target does not build in $1" >&2
    exit 1
  }
  binary=$(find "$1/build/release" -type f -name "$target" -perm -u+x | head -n 1)
  [ -n "$binary" ] || { echo "bench-baseline: no $target in $1/build/release" >&2; exit 1; }
  echo "$binary"
}

echo "baseline: $(git log -1 --format='%h %s' "$baseline")" >&2
git worktree add --detach "$scratch/baseline" "$baseline" >/dev/null 2>&1
baseBinary=$(build "$scratch/baseline")
echo "current:  $(git log -1 --format='%h %s' HEAD)$(git diff --quiet HEAD || echo ' (with uncommitted changes)')" >&2
currentBinary=$(build "$top")

pin=""
[ -n "$cores" ] && pin="taskset -c $cores"
run() {  # binary, output file
  $pin "$1" --benchmark_filter="$filter" --benchmark_out_format=csv --benchmark_out="$2" >/dev/null 2>&1 ||
    { echo "bench-baseline: $1 failed" >&2; exit 1; }
}
# By turns, the first of each round alternating, so that neither always runs on
# a machine warmed or disturbed by the other.
i=1
while [ "$i" -le "$rounds" ]; do
  echo "round $i of $rounds" >&2
  if [ $((i % 2)) -eq 1 ]; then
    run "$baseBinary" "$scratch/baseline-$i.csv"
    run "$currentBinary" "$scratch/current-$i.csv"
  else
    run "$currentBinary" "$scratch/current-$i.csv"
    run "$baseBinary" "$scratch/baseline-$i.csv"
  fi
  i=$((i + 1))
done

awk -F, -v rounds="$rounds" '
  function unquote(s) { gsub(/"/, "", s); return s }
  function median(list,    n, v, i, j, t) {
    n = split(list, v, " ")
    for (i = 2; i <= n; i++) for (j = i; j > 1 && v[j - 1] + 0 > v[j] + 0; j--) { t = v[j]; v[j] = v[j - 1]; v[j - 1] = t }
    return n % 2 ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
  }
  FNR == 1 {
    side = FILENAME ~ /baseline-[0-9]+\.csv$/ ? "baseline" : "current"
    header = 0
  }
  !header && /^name,/ {
    header = 1
    for (k in column) delete column[k]
    for (f = 1; f <= NF; f++) column[unquote($f)] = f
    next
  }
  header {
    name = unquote($column["name"])
    sub(/\/iterations:[0-9]+$/, "", name)
    if (!(name in seen)) { seen[name] = 1; order[++names] = name }
    if (column["error_occurred"] && $column["error_occurred"] == "true") failed[name] = 1
    cpu[side, name] = cpu[side, name] " " $column["cpu_time"]
    wall[side, name] = wall[side, name] " " $column["real_time"]
    unit[name] = $column["time_unit"]
    fixed = ""
    if ("mean_population" in column) fixed = fixed " " $column["mean_population"]
    if ("births_per_step" in column) fixed = fixed " " $column["births_per_step"]
    if (!((side, name) in counters)) counters[side, name] = fixed
    else if (counters[side, name] != fixed) counters[side, name] = "varies"
  }
  END {
    printf "%-36s %14s %14s %7s %14s %14s  %s\n", "benchmark (median of " rounds ")", "baseline cpu", "current cpu",
           "ratio", "baseline wall", "current wall", "results"
    for (k = 1; k <= names; k++) {
      name = order[k]
      if (!(("baseline", name) in cpu) || !(("current", name) in cpu)) {
        printf "%-36s  only in the %s\n", name, (("baseline", name) in cpu) ? "baseline" : "current"
        continue
      }
      b = median(cpu["baseline", name]); c = median(cpu["current", name])
      same = counters["baseline", name] == counters["current", name] ? "same" : "DIFFER"
      if (counters["baseline", name] == "") same = "-"
      if (name in failed) same = "ERROR"
      printf "%-36s %11.3f %-2s %11.3f %-2s %7.3f %11.3f %-2s %11.3f %-2s  %s\n", name, b, unit[name], c, unit[name],
             (b > 0 ? c / b : 0), median(wall["baseline", name]), unit[name], median(wall["current", name]), unit[name], same
    }
  }' "$scratch"/baseline-*.csv "$scratch"/current-*.csv
