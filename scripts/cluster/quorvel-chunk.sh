#!/usr/bin/env bash
# One task of the array job of quorvel-slurm.sh: quorvel over the chunk of
# the task's index, its record appended to the chunk's report.
# Arguments: WORKDIR NULL(0 or 1) [QUORVEL-OPTION]...
set -euo pipefail
workdir=$1 null=$2
shift 2
chunk=$(printf '%05d' "$SLURM_ARRAY_TASK_ID")
options=(--hide --yes --skip-existing "--thread=${SLURM_CPUS_PER_TASK:-1}")
[ "$null" = 1 ] && options+=(--null)
export QUORVEL_REGISTRY=/dev/null
exec "${QUORVEL:-quorvel}" "${options[@]}" "$@" \
  "--files-from=$workdir/chunks/chunk-$chunk" "--report=$workdir/reports/chunk-$chunk.jsonl"
