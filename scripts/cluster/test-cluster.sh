#!/usr/bin/env bash
# The Slurm recipe on a real, single-node Slurm cluster started here: munged,
# slurmctld and slurmd with a configuration in a temporary folder, in a
# network namespace of their own that has nothing but the loopback
# interface, and a process namespace, so that every daemon ends with the
# test however it ends.
#
#  1. quorvel-slurm.sh over 36 scans in chunks of 6: every result is there
#     and whole, the merged report names each scan once, "ok";
#  2. a second run over 48 other scans, one task at a time, cancelled
#     (scancel) once some results exist, then submitted again: it finishes,
#     no result written by the first part is written again, and no scan is
#     processed twice.
#
# Usage: test-cluster.sh QUORVEL SAMPLES [--measure PAGES THREADS]
#   --measure  instead, pages per minute of one array job (chunks of
#              PAGES/4) against one plain quorvel run over the same PAGES
#              scans, run directly and as one Slurm job, all with THREADS
#              worker threads per quorvel.
# Runs as root (Slurm's daemons and the namespaces need it). Exit status 0
# when it passed, 77 when no cluster can be started here (it says why),
# 1 when it failed.
set -uo pipefail

[ $# -ge 2 ] || { echo "usage: test-cluster.sh QUORVEL SAMPLES [--measure PAGES THREADS]" >&2; exit 1; }
if [ ! -f "$1" ] || [ ! -x "$1" ]; then
  echo "test-cluster.sh: $1 is not a program" >&2
  exit 1
fi
[ -f "$2/empty.png" ] || { echo "test-cluster.sh: $2 is not the samples folder (no empty.png)" >&2; exit 1; }
quorvel=$(realpath "$1")
samples=$(realpath "$2")
shift 2
here=$(cd "$(dirname "$0")" && pwd)

cannot() {
  echo "cluster test: cannot start a Slurm cluster here: $*"
  exit 77
}

if [ -z "${QV_CLUSTER_INSIDE:-}" ]; then
  [ "$(id -u)" -eq 0 ] || cannot "it needs root (Slurm's daemons and the namespaces)"
  for program in munged mungekey slurmctld slurmd sbatch squeue scancel sinfo unshare ip \
    python3 perl; do
    command -v "$program" >/dev/null ||
      cannot "$program is not installed (scripts/install-deps.sh installs it)"
  done
  # Its own network (loopback only) and process namespaces; when the test
  # ends, the kernel ends whatever it started.
  QV_CLUSTER_INSIDE=1 exec unshare --net --pid --fork --mount-proc \
    bash "$0" "$quorvel" "$samples" "$@"
  cannot "unshare failed"
fi

ip link set lo up || cannot "the loopback interface cannot be brought up"
dir=$(mktemp -d /tmp/quorvel-cluster-XXXXXX)
chmod 755 "$dir"
daemons=()
finish() {
  local pid
  for pid in "${daemons[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${daemons[@]}"; do wait "$pid" 2>/dev/null; done
  rm -rf "$dir"
}
trap finish EXIT

# --- the cluster ---------------------------------------------------------
mkdir -p "$dir/munge" "$dir/state" "$dir/spool"
chmod 700 "$dir/munge"
mungekey --create --keyfile="$dir/munge/munge.key" >/dev/null 2>&1 ||
  cannot "mungekey cannot make a key"
munged --foreground --force --socket="$dir/munge/socket" --key-file="$dir/munge/munge.key" \
  --pid-file="$dir/munge/pid" --log-file="$dir/munge/log" --seed-file="$dir/munge/seed" \
  2>>"$dir/munge/log" &
daemons+=($!)
cat >"$dir/slurm.conf" <<EOF
ClusterName=quorveltest
SlurmctldHost=localhost(127.0.0.1)
CommunicationParameters=EnableIPv6
AuthType=auth/munge
AuthInfo=socket=$dir/munge/socket
CredType=cred/munge
SlurmUser=root
SlurmdUser=root
StateSaveLocation=$dir/state
SlurmdSpoolDir=$dir/spool
SlurmctldPidFile=$dir/slurmctld.pid
SlurmdPidFile=$dir/slurmd.pid
SlurmctldLogFile=$dir/slurmctld.log
SlurmdLogFile=$dir/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SwitchType=switch/none
MpiDefault=none
SchedulerType=sched/backfill
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
ReturnToService=2
KillWait=10
MinJobAge=600
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
NodeName=quorvelnode NodeAddr=127.0.0.1 CPUs=2 RealMemory=4000 State=UNKNOWN
PartitionName=quorvel Nodes=quorvelnode Default=YES MaxTime=INFINITE State=UP
EOF
export SLURM_CONF=$dir/slurm.conf
for _ in $(seq 50); do [ -S "$dir/munge/socket" ] && break; sleep 0.1; done
[ -S "$dir/munge/socket" ] || cannot "munged did not start: $(tail -3 "$dir/munge/log")"
slurmctld -D -i -f "$SLURM_CONF" 2>>"$dir/slurmctld.log" &
daemons+=($!)
slurmd -D -N quorvelnode -f "$SLURM_CONF" 2>>"$dir/slurmd.log" &
daemons+=($!)
for _ in $(seq 150); do
  [ "$(sinfo -h -o %T 2>/dev/null)" = idle ] && break
  sleep 0.2
done
[ "$(sinfo -h -o %T 2>/dev/null)" = idle ] ||
  cannot "the node did not come up: $(tail -3 "$dir/slurmctld.log" "$dir/slurmd.log")"
echo "cluster: munged, slurmctld and slurmd up (loopback only)"

# --- helpers -------------------------------------------------------------
failures=0
check() { # check DESCRIPTION COMMAND...
  if "${@:2}"; then echo "ok: $1"; else echo "FAILED: $1"; failures=$((failures + 1)); fi
}
# FOLDER COUNT: COUNT copies of the three sample pages, page-001.png ...,
# and the empty bed; the list of them on standard output.
scans() {
  mkdir -p "$1"
  cp "$samples/empty.png" "$1/"
  local i
  for i in $(seq -w 1 "$2"); do
    cp "$samples/page$((10#$i % 3 + 1)).png" "$1/page-$i.png"
    echo "$1/page-$i.png"
  done
}
# Waits until no job is left (at most $1 seconds).
wait_jobs() {
  local waited=0
  while [ -n "$(squeue -h 2>/dev/null)" ] && [ "$waited" -lt $(($1 * 5)) ]; do
    sleep 0.2
    waited=$((waited + 1))
  done
  [ -z "$(squeue -h 2>/dev/null)" ]
}
# Whole PNG files: the signature and the closing IEND chunk.
whole_png() {
  [ "$(head -c 8 "$1" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] &&
    [ "$(tail -c 8 "$1" | head -c 4)" = IEND ]
}
all_whole() { # FOLDER COUNT
  local i
  for i in $(seq -w 1 "$2"); do whole_png "$1/trim/page-$i.png" || return 1; done
}
submit() { # WORKDIR LIST CHUNK [OPTION...]
  local workdir=$1 list=$2 chunk=$3
  shift 3
  QUORVEL=$quorvel bash "$here/quorvel-slurm.sh" "$@" "$list" "$chunk" "$workdir" \
    --empty="$(dirname "$(head -1 "$list")")/empty.png" --cut=ltrb
}
# The merged report's count of records of STATUS.
merged() { # REPORT STATUS
  python3 -c 'import json, sys
lines = [json.loads(l) for l in open(sys.argv[1], "rb")]
print(sum(1 for l in lines if l.get("status") == sys.argv[2]))' "$1" "$2"
}

# --- measure -------------------------------------------------------------
if [ "${1:-}" = --measure ]; then
  pages=$2 threads=$3
  scans "$dir/m" "$pages" >"$dir/m.list"
  plain=(--hide --yes --thread="$threads" --empty="$dir/m/empty.png" --cut=ltrb
    --files-from="$dir/m.list")
  elapsed() { echo $((($(date +%s%N) - $1) / 1000000)); }
  rate() { echo "$1 ms, $((pages * 60000 / $1)) pages/min"; }
  # Alternated twice: the machine may be shared.
  for round in 1 2; do
    rm -rf "$dir/m/trim"
    start=$(date +%s%N)
    QUORVEL_REGISTRY=/dev/null "$quorvel" "${plain[@]}"
    direct=$(elapsed "$start")
    rm -rf "$dir/m/trim"
    start=$(date +%s%N)
    sbatch --quiet --cpus-per-task="$threads" --output=/dev/null \
      --wrap="QUORVEL_REGISTRY=/dev/null $(printf '%q ' "$quorvel" "${plain[@]}")"
    wait_jobs 3600
    single=$(elapsed "$start")
    check "every page written by the single job" all_whole "$dir/m" "$pages"
    rm -rf "$dir/m/trim" "$dir/mw"
    start=$(date +%s%N)
    submit "$dir/mw" "$dir/m.list" $(((pages + 3) / 4)) \
      --sbatch "--cpus-per-task=$threads" >/dev/null
    wait_jobs 3600
    array=$(elapsed "$start")
    check "every page written by the array job" all_whole "$dir/m" "$pages"
    echo "round $round, $pages pages, $threads threads:" \
      "plain quorvel $(rate "$direct");" \
      "the same as one Slurm job $(rate "$single");" \
      "the array job (4 tasks of $threads CPUs on 2 CPUs, and the merge) $(rate "$array")"
  done
  exit $((failures > 0))
fi

# --- 1: one run -----------------------------------------------------------
scans "$dir/a" 36 >"$dir/a.list"
submit "$dir/wa" "$dir/a.list" 6 >/dev/null
check "the array job and the merge end" wait_jobs 120
check "every scan has its whole result" all_whole "$dir/a" 36
check "six chunk reports" test "$(find "$dir/wa/reports" -name 'chunk-*.jsonl' | wc -l)" -eq 6
check "the merged report names each scan once, written" \
  test "$(($(merged "$dir/wa/report.jsonl" ok) + $(merged "$dir/wa/report.jsonl" review)))" -eq 36
check "the summary counts them" grep -q "^36 files: .*, 0 failed, 0 skipped, 0 not processed" \
  "$dir/wa/summary.txt"

# --- 2: a run cancelled midway, then submitted again -----------------------
scans "$dir/b" 48 >"$dir/b.list"
jobs=$(submit "$dir/wb" "$dir/b.list" 6 --max-running 1)
for _ in $(seq 600); do
  [ "$(find "$dir/b/trim" -name 'page-*.png' 2>/dev/null | wc -l)" -ge 9 ] && break
  sleep 0.1
done
# shellcheck disable=SC2086 # two job ids
scancel $jobs
check "the cancelled jobs end" wait_jobs 60
find "$dir/b/trim" -name 'page-*.png' -printf '%p %i %T@\n' 2>/dev/null | sort >"$dir/b.before"
done_before=$(wc -l <"$dir/b.before")
check "cancelled midway ($done_before of 48 written)" test "$done_before" -gt 0 -a "$done_before" -lt 48
submit "$dir/wb" "$dir/b.list" 6 >/dev/null
check "the second submission ends" wait_jobs 150
check "every scan has its whole result" all_whole "$dir/b" 48
find "$dir/b/trim" -name 'page-*.png' -printf '%p %i %T@\n' | sort >"$dir/b.after"
check "no result of the cancelled run was written again" \
  test -z "$(comm -23 "$dir/b.before" "$dir/b.after")"
processed_twice=$(cat "$dir/wb/reports/"*.jsonl | python3 -c 'import json, sys, collections
records = [json.loads(line) for line in sys.stdin.buffer]
written = collections.Counter(r["source"] for r in records if r.get("status") in ("ok", "review"))
print(sum(1 for n in written.values() if n > 1))')
check "no scan was processed twice" test "$processed_twice" -eq 0
check "the merged report has every scan written" \
  test "$(($(merged "$dir/wb/report.jsonl" ok) + $(merged "$dir/wb/report.jsonl" review)))" -eq 48

echo "--- the merge's summary of the second run"
cat "$dir/wb/summary.txt"
if [ "$failures" -ne 0 ]; then
  echo "--- slurmctld.log"; tail -20 "$dir/slurmctld.log"
  echo "--- logs"; tail -5 "$dir"/wb/logs/*.out "$dir"/wb/summary.txt 2>/dev/null
  echo "$failures checks failed"
  exit 1
fi
echo "cluster test passed"
