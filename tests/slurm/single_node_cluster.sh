# A single-node cluster in a temporary folder, for the tests: munged, slurmctld and slurmd
# started here and stopped by pid. Source this file, then call start_cluster DIR; the
# caller's EXIT trap must call stop_cluster. Needs root (the daemons run as root).

CLUSTER_PIDS=()

# A TCP port nobody listens on, so that parallel test runs do not collide.
free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

print_cluster_logs() {
  local log
  for log in "$CLUSTER_DIR"/log/*.log; do
    [ -f "$log" ] || continue
    echo "---- $log"
    tail -n 60 "$log"
  done
}

write_slurm_conf() {
  local host ctld_port slurmd_port cpus mem
  host=$(hostname -s)
  ctld_port=$(free_port)
  slurmd_port=$(free_port)
  cpus=$(nproc)
  # The daemons reach each other at 127.0.0.1, so the host name need not resolve.
  # Declared resources are what the test's array tasks may use; config_overrides keeps
  # slurmd from draining the node when it finds fewer CPUs than declared.
  [ "$cpus" -lt 4 ] && cpus=4
  mem=$(awk '/MemTotal/ { print int($2 / 1024 / 2) }' /proc/meminfo)
  cat >"$CLUSTER_DIR/slurm.conf" <<CONF
ClusterName=torvatest
SlurmctldHost=$host(127.0.0.1)
SlurmctldPort=$ctld_port
SlurmdPort=$slurmd_port
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
AuthInfo=socket=$CLUSTER_DIR/munge/munge.socket
CredType=cred/munge
MpiDefault=none
SwitchType=switch/none
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
SelectType=select/cons_tres
SelectTypeParameters=CR_Core_Memory
SlurmdParameters=config_overrides
ReturnToService=2
StateSaveLocation=$CLUSTER_DIR/state
SlurmdSpoolDir=$CLUSTER_DIR/spool
SlurmctldPidFile=$CLUSTER_DIR/run/slurmctld.pid
SlurmdPidFile=$CLUSTER_DIR/run/slurmd.pid
SlurmctldLogFile=$CLUSTER_DIR/log/slurmctld.log
SlurmdLogFile=$CLUSTER_DIR/log/slurmd.log
SlurmctldDebug=info
SlurmdDebug=info
PlugStackConfig=$CLUSTER_DIR/plugstack.conf
SchedulerType=sched/backfill
SchedulerParameters=sched_interval=1
MinJobAge=600
NodeName=$host NodeAddr=127.0.0.1 CPUs=$cpus RealMemory=$mem State=UNKNOWN
PartitionName=debug Nodes=$host Default=YES MaxTime=INFINITE State=UP
CONF
  : >"$CLUSTER_DIR/plugstack.conf"
}

start_munged() {
  mkdir -p "$CLUSTER_DIR/munge"
  chmod 700 "$CLUSTER_DIR/munge"
  dd if=/dev/urandom of="$CLUSTER_DIR/munge/munge.key" bs=1024 count=1 status=none
  chmod 400 "$CLUSTER_DIR/munge/munge.key"
  munged --foreground --force --socket="$CLUSTER_DIR/munge/munge.socket" \
    --key-file="$CLUSTER_DIR/munge/munge.key" --pid-file="$CLUSTER_DIR/munge/munged.pid" \
    --seed-file="$CLUSTER_DIR/munge/munged.seed" --log-file="$CLUSTER_DIR/log/munged.log" \
    2>>"$CLUSTER_DIR/log/munged.log" &
  CLUSTER_PIDS+=($!)
  wait_for "munged socket" test -S "$CLUSTER_DIR/munge/munge.socket"
}

# wait_for WHAT COMMAND...: polls COMMAND for up to 30 s, giving up at once when the daemon
# started last has died.
wait_for() {
  local what=$1 i last=${CLUSTER_PIDS[${#CLUSTER_PIDS[@]} - 1]}
  shift
  for i in $(seq 1 150); do
    "$@" >/dev/null 2>&1 && return 0
    kill -0 "$last" 2>/dev/null || break
    sleep 0.2
  done
  echo "FAIL: $what not ready (its daemon exited, or 30 s passed)" >&2
  print_cluster_logs >&2
  return 1
}

node_is_idle() {
  sinfo -h -N -o '%t' | grep -qE '^(idle|mix|alloc)'
}

start_cluster() {
  CLUSTER_DIR=$1
  mkdir -p "$CLUSTER_DIR"/{state,spool,run,log}
  export SLURM_CONF="$CLUSTER_DIR/slurm.conf"
  write_slurm_conf
  start_munged || return 1
  slurmctld -D -i -f "$SLURM_CONF" 2>>"$CLUSTER_DIR/log/slurmctld.stderr.log" &
  CLUSTER_PIDS+=($!)
  wait_for "slurmctld" scontrol ping || return 1
  slurmd -D -f "$SLURM_CONF" -N "$(hostname -s)" 2>>"$CLUSTER_DIR/log/slurmd.stderr.log" &
  CLUSTER_PIDS+=($!)
  wait_for "slurmd (node idle)" node_is_idle || return 1
}

stop_cluster() {
  local i pid
  # Reverse order: slurmd, slurmctld, then munged, which the other two need to shut down.
  for ((i = ${#CLUSTER_PIDS[@]} - 1; i >= 0; i--)); do
    pid=${CLUSTER_PIDS[i]}
    kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  done
  CLUSTER_PIDS=()
}
