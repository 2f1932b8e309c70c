#!/bin/bash
# Runs the example study on a real single-node Slurm cluster started here, in 3 shards for both
# methods (the bootstrap with settings files), and compares every result byte and the progress
# text with a run on this machine.
#
#   slurm_run_test.sh PROGRAM_FOLDER
#
# PROGRAM_FOLDER holds torvacoreel, torvacoreel-slurm, torvacoreel-merge and make_example_study.
# Exit status 0 on success, 1 on a failure, the daemons' logs printed when they cannot start.
set -u
programs=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
. "$here/single_node_cluster.sh"

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

[ "$(id -u)" -eq 0 ] || fail "the single-node cluster runs its daemons as root; run the test as root"
for tool in munged slurmctld slurmd sbatch scontrol; do
  command -v "$tool" >/dev/null || fail "$tool not found: install the packages slurm-wlm and munge"
done

work=$(mktemp -d /tmp/torva-slurm-test-XXXXXX)
cleanup() {
  stop_cluster
  rm -rf "$work"
}
trap cleanup EXIT

# job_state JOB: the state of a job, or of the first array task not yet completed.
job_state() {
  scontrol show job -o "$1" 2>/dev/null | grep -o 'JobState=[A-Z_]*' | sed 's/JobState=//' |
    grep -v '^COMPLETED$' | head -n 1 || true
}

# wait_for_job JOB: waits until the job (every task of an array) has ended; fails unless all
# tasks completed.
wait_for_job() {
  local job=$1 state i
  for i in $(seq 1 300); do
    if ! scontrol show job -o "$job" >/dev/null 2>&1; then
      fail "job $job is unknown to slurmctld"
    fi
    state=$(job_state "$job")
    case "$state" in
    "") return 0 ;;
    PENDING | RUNNING | CONFIGURING | COMPLETING) ;;
    *)
      scontrol show job "$job" >&2
      return 1
      ;;
    esac
    if scontrol show job -o "$job" | grep -q 'Reason=DependencyNeverSatisfied'; then
      scontrol show job "$job" >&2
      return 1
    fi
    sleep 1
  done
  scontrol show job "$job" >&2
  fail "job $job did not end within 300 s"
}

echo "== starting munged, slurmctld and slurmd in $work/cluster"
start_cluster "$work/cluster" || fail "the single-node cluster did not start (logs above)"

echo "== a trivial job array and a job depending on it"
mkdir -p "$work/trivial" && cd "$work/trivial" || exit 1
array=$(sbatch --parsable --array=0-2 --mem=16 --wrap 'echo "task $SLURM_ARRAY_TASK_ID" > "task_$SLURM_ARRAY_TASK_ID"') ||
  fail "sbatch of the trivial array refused"
after=$(sbatch --parsable --mem=16 --dependency="afterok:$array" --wrap 'cat task_0 task_1 task_2 > all') ||
  fail "sbatch of the dependent job refused"
wait_for_job "$after" || { print_cluster_logs >&2; fail "the trivial dependent job did not complete"; }
[ "$(cat all)" = "$(printf 'task 0\ntask 1\ntask 2')" ] ||
  fail "the dependent job did not see the three array tasks' files"

cd "$work" || exit 1
"$programs/make_example_study" --out study --subjects 16 --size 8 8 6 >/dev/null ||
  fail "make_example_study failed"
results="model.el.torva bn.el.torva bn.el.xdsl log.el.torva roi.el.torva log.torva
  label_field_torvael.nii label_field_torvael.hdr label_field_torvael.img
  prob_map_torvael.nii prob_map_torvael.hdr prob_map_torvael.img"

# Settings that change every result file: the shards must read them through their folders' links.
write_settings() {
  printf 'maskMethod 99\nnormThreshold 0.2\nbeta 1.0\nT_gem 5\nT_lbp 5\nMax_ROI 1\n' >"$1/torva.configure"
  printf 'segmentationCount -1\nneighborhoodType 0\nverbose 0\n' >>"$1/torva.configure"
  { head -c 192 /dev/zero; head -c 192 /dev/zero | tr '\0' '\1'; } >"$1/mask.img"
}

[ -x "$programs/torvacoreel-merge" ] || fail "$programs/torvacoreel-merge is missing"
status=0
for arguments in "1 0" "2 6"; do
  set -- $arguments
  name="method$1"
  echo "== method $1, size $2: single run"
  mkdir "single_$name" "slurm_$name"
  for folder in "single_$name" "slurm_$name"; do
    ln -s ../study "$folder/study"
    [ "$1" -eq 2 ] && write_settings "$folder"
  done
  (cd "single_$name" && "$programs/torvacoreel" study/torva.prj.filelist "$1" "$2" >stdout.txt 2>stderr.txt) ||
    fail "the single-machine run failed: $(cat "single_$name/stderr.txt")"

  echo "== method $1, size $2: torvacoreel-slurm --shards 3"
  cd "slurm_$name" || exit 1
  "$programs/torvacoreel-slurm" study/torva.prj.filelist "$1" "$2" --shards 3 >submitted.txt ||
    fail "torvacoreel-slurm failed"
  cat submitted.txt
  array=$(sed -n 's/^shard array job \([0-9]*\):.*/\1/p' submitted.txt)
  merge=$(sed -n 's/^merge job \([0-9]*\):.*/\1/p' submitted.txt)
  [ -n "$array" ] && [ -n "$merge" ] || fail "torvacoreel-slurm printed no job ids"
  wait_for_job "$array" || {
    cat torva_shards/shard_*/errors.txt >&2
    fail "the shard array job $array did not complete"
  }
  for k in 0 1 2; do
    [ -f "torva_shards/shard_$k/shard.torva" ] || fail "shard $k wrote no shard.torva"
  done
  wait_for_job "$merge" || {
    cat torva_shards/merge_errors.txt torva_shards/shard_*/errors.txt >&2
    fail "the merge job $merge did not complete"
  }
  for file in $results; do
    cmp "../single_$name/$file" "$file" || {
      echo "FAIL: $file of the sharded run differs from the single run's (method $1)" >&2
      status=1
    }
  done
  # The shards name the images by the absolute paths of the list copy.
  sed "s#$work/slurm_$name/##g" torva_shards/progress.txt >progress_relative.txt
  cmp "../single_$name/stdout.txt" progress_relative.txt || {
    echo "FAIL: the shards' and the merge's progress text differs from the single run's (method $1)" >&2
    status=1
  }
  cd "$work" || exit 1
done

[ "$status" -eq 0 ] && echo "== every result file of the sharded runs equals the single run's"
exit "$status"
