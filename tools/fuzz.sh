#!/bin/sh
# Builds the fuzz targets of the file readers (preset "fuzz": clang's libFuzzer
# under the address and undefined-behaviour sanitizers) and fuzzes each for the
# given seconds (60 by default), starting from its corpus in tests/fuzz/corpus.
# With "runs=N" in place of the seconds each target runs N inputs from a fixed
# seed instead: the same inputs at every run, whatever the machine's speed (CI).
# New inputs go to a scratch folder, not to the corpus; a fault stops the run
# with the input that shows it in build/fuzz/faults.
#   tools/fuzz.sh [seconds | runs=N] [target...]
set -e
cd "$(dirname "$0")/.."
length=${1:-60}
[ $# -gt 0 ] && shift
case "$length" in
  runs=*) limit="-seed=1 -runs=${length#runs=}" ;;
  *) limit="-max_total_time=$length" ;;
esac
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
# The batch file's target needs the windows' library, which the fuzz build leaves out.
targets=${*:-$(cd tests/fuzz && ls Fuzz*.cpp | sed -e 's/\.cpp$//' -e '/^FuzzReplay$/d' -e '/^FuzzBatchFile$/d')}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p build/fuzz/faults
for target in $targets; do
  mkdir -p "$scratch/$target"
  echo "== $target, $length"
  status=0
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    "build/fuzz/tests/fuzz/$target" $limit -timeout=10 -rss_limit_mb=2048 \
    -max_len=65536 -print_final_stats=1 -artifact_prefix="build/fuzz/faults/$target-" \
    "$scratch/$target" "tests/fuzz/corpus/$target" >"$scratch/$target.log" 2>&1 || status=$?
  grep -E '^stat::number_of_executed_units' "$scratch/$target.log" || true
  if [ "$status" -ne 0 ]; then
    grep -E '^(==[0-9]+==|SUMMARY|Fuzz check|    #)' "$scratch/$target.log" | head -40
    echo "$target: fault, input in build/fuzz/faults"
    exit 1
  fi
done
