#!/usr/bin/env bash
# Times one whole analysis on a generated study.
#   bench/whole_run.sh [SUBJECTS] [X Y Z] [METHOD] [ITERATIONS]
# Defaults: 100 subjects on the 2 mm template grid (91 x 109 x 91), bootstrap, 2 iterations.
# Prints the wall time and the peak resident memory of the run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
subjects=${1:-100}
x=${2:-91}; y=${3:-109}; z=${4:-91}
method=${5:-2}
iterations=${6:-2}
build=${BUILD:-$root/build}
work=$(mktemp -d /tmp/torva-whole-run-XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work"
"$build/make_example_study" --out study --subjects "$subjects" --size "$x" "$y" "$z" >/dev/null
start=$(date +%s.%N)
/usr/bin/time -f '%M' -o rss.txt "$build/torvacoreel" study/torva.prj.filelist "$method" \
  "$iterations" > run.txt
end=$(date +%s.%N)
printf 'study: %s subjects, %s x %s x %s; method %s, %s iterations\n' "$subjects" "$x" "$y" \
  "$z" "$method" "$iterations"
printf 'wall time: %.2f s\n' "$(echo "$end - $start" | bc -l)"
printf 'peak memory: %.1f MiB\n' "$(echo "$(cat rss.txt) / 1024" | bc -l)"
