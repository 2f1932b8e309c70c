#!/usr/bin/env bash
# Times whole analyses on lesion-like studies, the size and shape of real stroke data.
#   bench/whole_run.sh [2mm] [1mm] [1mm-jackknife] [1mm-cohort] [--small] [--generate-only]
# Rows (default: 2mm and 1mm):
#   2mm            91 x 109 x 91 (2 mm), uint8, 131 subjects: jackknife (method 1), 131 iterations
#   1mm            181 x 217 x 181 (1 mm), float32, 131 subjects: bootstrap (method 2), 10 iterations
#   1mm-jackknife  the same 1 mm study: jackknife (method 1), 131 iterations
#   1mm-cohort     181 x 217 x 181 (1 mm), uint8, 618 subjects of the wide cohort (lesions anywhere,
#                  largest overlap near 15 %), representativeShare 0.1: bootstrap, 10 iterations
# --small runs the same rows on tiny grids with 16 subjects and 3 bootstrap iterations: a check
# of the script itself in seconds. --generate-only makes the studies and prints their figures.
# Environment:
#   BUILD=DIR          folder with torvacoreel and make_example_study (default: build/)
#   TORVA_THREADS=N    handed to the program (its thread count)
#   SUBJECTS=K         subjects per study (default 131, with --small 16); the jackknife runs K
#   COHORT_SUBJECTS=K  subjects of the 1mm-cohort study (default 618, with --small 40)
#   KEEP=DIR           keep each row's standard output, standard error and result files in
#                      DIR/<row> (replaced), to compare builds with cmp
# The studies are generated once into bench/.cache/ (the 1 mm one takes 3.5 GB, the cohort
# 4.5 GB) and made again when make_example_study is newer than them. Per row the script prints
# the wall time, the time per iteration, the processor time, the peak resident memory, the page
# faults (each a page of fresh or evicted memory the kernel had to supply) and the time of each
# phase of the run, as the program reports it through TORVA_PHASE_TIMES (n/a when the program
# does not).
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

usage() {
  awk 'NR > 1 && !/^#/ { exit } NR > 1 { sub(/^# ?/, ""); print }' "$0" >&2
  exit 2
}

rows=()
small=0
generate_only=0
for argument in "$@"; do
  case "$argument" in
  2mm | 1mm | 1mm-jackknife | 1mm-cohort) rows+=("$argument") ;;
  --small) small=1 ;;
  --generate-only) generate_only=1 ;;
  *) usage ;;
  esac
done
[ ${#rows[@]} -gt 0 ] || rows=(2mm 1mm)

build=$(cd "${BUILD:-$root/build}" 2>/dev/null && pwd) || {
  echo "whole_run.sh: no build folder ${BUILD:-$root/build}" >&2
  exit 1
}
for program in torvacoreel make_example_study; do
  if [ ! -x "$build/$program" ]; then
    echo "whole_run.sh: $build/$program is missing (cmake --build $build --target $program)" >&2
    exit 1
  fi
done
generator=$build/make_example_study

if [ "$small" = 1 ]; then
  subjects=${SUBJECTS:-16}
  cohort_subjects=${COHORT_SUBJECTS:-40}
  size_2mm="23 28 23"
  size_1mm="46 55 46"
  bootstrap_iterations=3
else
  subjects=${SUBJECTS:-131}
  cohort_subjects=${COHORT_SUBJECTS:-618}
  size_2mm="91 109 91"
  size_1mm="181 217 181"
  bootstrap_iterations=10
fi

# Prints the folder of the study for: size ("X Y Z"), data type, voxel size in mm, subjects and
# cohort. Generates it when it is missing or older than the generator; figures.txt, written last,
# marks it complete.
study_folder() {
  local size=$1 type=$2 mm=$3 count=$4 cohort=$5
  local folder="$root/bench/.cache/lesion-${size// /x}-$type-$count"
  [ "$cohort" = territory ] || folder="$folder-$cohort"
  if [ ! -f "$folder/figures.txt" ] || [ "$generator" -nt "$folder/figures.txt" ]; then
    rm -rf "$folder"
    mkdir -p "$folder"
    echo "generating $folder ..." >&2
    local start end
    start=$(date +%s.%N)
    # shellcheck disable=SC2086 # the size is three words
    if ! "$generator" --lesion --out "$folder" --subjects "$count" --size $size --type "$type" \
      --voxel-size "$mm" --seed 1 --cohort "$cohort" >"$folder/figures.part"; then
      echo "whole_run.sh: generating $folder failed" >&2
      return 1
    fi
    end=$(date +%s.%N)
    printf 'generated in %.1f s\n' "$(echo "$end - $start" | bc -l)" >>"$folder/figures.part"
    mv "$folder/figures.part" "$folder/figures.txt"
  fi
  echo "$folder"
}

# The seconds the program reported for one phase, or n/a.
phase_time() {
  local seconds
  seconds=$(awk -v phase="$1" '$1 == phase { print $2 }' "$2" 2>/dev/null | tail -n 1)
  if [ -n "$seconds" ]; then printf '%.2f s' "$seconds"; else printf 'n/a'; fi
}

run_row() {
  local row=$1 size type mm method iterations description count=$subjects cohort=territory
  local settings=""
  if [ "$row" = 2mm ]; then
    size=$size_2mm type=uint8 mm=2 method=1 iterations=$subjects
    description="jackknife (method 1), $iterations iterations"
  elif [ "$row" = 1mm-jackknife ]; then
    size=$size_1mm type=float32 mm=1 method=1 iterations=$subjects
    description="jackknife (method 1), $iterations iterations"
  elif [ "$row" = 1mm-cohort ]; then
    size=$size_1mm type=uint8 mm=1 method=2 iterations=$bootstrap_iterations
    count=$cohort_subjects cohort=wide
    settings="maskMethod 0 normThreshold 0.2 beta 1.0 T_gem 5 T_lbp 5 Max_ROI 3"
    settings="$settings segmentationCount -1 neighborhoodType 0 verbose 0 representativeShare 0.1"
    description="bootstrap (method 2), $iterations iterations, representativeShare 0.1"
  else
    size=$size_1mm type=float32 mm=1 method=2 iterations=$bootstrap_iterations
    description="bootstrap (method 2), $iterations iterations"
  fi
  local folder
  folder=$(study_folder "$size" "$type" "$mm" "$count" "$cohort") || return 1
  if [ "$generate_only" = 1 ]; then
    printf '== %s study: %s\n' "$row" "$folder"
    cat "$folder/figures.txt"
    return 0
  fi
  local work
  work=$(mktemp -d /tmp/torva-whole-run-XXXXXX)
  [ -z "$settings" ] || echo "$settings" >"$work/torva.configure"
  (
    cd "$work" || exit 1
    TORVA_PHASE_TIMES="$work/phases.txt" /usr/bin/time -f '%e %M %U %S %R %F' -o "$work/time.txt" \
      "$build/torvacoreel" "$folder/torva.prj.filelist" "$method" "$iterations" \
      >"$work/stdout.txt" 2>"$work/stderr.txt"
  )
  local status=$?
  local wall rss user system minor major
  read -r wall rss user system minor major < <(tail -n 1 "$work/time.txt")

  printf '== %s: %s (%s mm), %s, %s subjects; %s\n' "$row" "${size// / x }" "$mm" "$type" \
    "$count" "$description"
  printf '%-22s %s\n' "study:" "$folder"
  sed -n 's/^\(lesion volume\|voxels lesioned\|most-hit\|outcome\|generated\)/  &/p' \
    "$folder/figures.txt"
  printf '%-22s %s\n' "TORVA_THREADS:" "${TORVA_THREADS:-unset: the program chooses}"
  printf '%-22s %.2f s\n' "wall time:" "$wall"
  printf '%-22s %.3f s\n' "time per iteration:" "$(echo "$wall / $iterations" | bc -l)"
  # On a shared machine the wall time also holds the waits for a core; this does not.
  printf '%-22s %.2f s\n' "processor time:" "$(echo "$user + $system" | bc -l)"
  printf '%-22s %.1f MiB\n' "peak memory:" "$(echo "$rss / 1024" | bc -l)"
  printf '%-22s %s (%s of them read from disk)\n' "page faults:" "$((minor + major))" "$major"
  printf '%-22s %s\n' "loading:" "$(phase_time loading "$work/phases.txt")"
  printf '%-22s %s\n' "screening and scan:" "$(phase_time screening_scan "$work/phases.txt")"
  printf '%-22s %s\n' "segmentation:" "$(phase_time segmentation "$work/phases.txt")"
  printf '%-22s %s\n' "ensemble:" "$(phase_time ensemble "$work/phases.txt")"
  printf '%-22s %s\n' "exit status:" "$status"
  if [ "$status" != 0 ]; then
    echo "-- last lines of standard error:"
    tail -n 5 "$work/stderr.txt"
  fi
  if [ -n "${KEEP:-}" ]; then
    mkdir -p "$KEEP" && rm -rf "${KEEP:?}/$row" &&
      mkdir "$KEEP/$row" &&
      find "$work" -mindepth 1 -maxdepth 1 ! -name time.txt ! -name phases.txt ! -name .torva.lock \
        -exec mv -t "$KEEP/$row" {} + &&
      printf '%-22s %s\n' "kept in:" "$KEEP/$row"
  fi
  rm -rf "$work"
  [ "$status" = 0 ]
}

overall=0
for row in "${rows[@]}"; do
  run_row "$row" || overall=1
done
exit $overall
