#!/usr/bin/env bash
# Runs quorvel over a list of files as a Slurm array job.
#
# The list is cut into chunks of CHUNK files; each chunk is one task of an
# array job, which runs
#   quorvel --hide --yes --skip-existing --files-from=CHUNK --report=REPORT
# with the settings kept nowhere (QUORVEL_REGISTRY=/dev/null) and as many
# worker threads as the task has CPUs. A last job, started once every task
# has ended (however), merges the chunks' reports into WORKDIR/report.jsonl
# and writes the summary, with the pages that need a look, to
# WORKDIR/summary.txt.
#
# Usage: quorvel-slurm.sh [--null] [--max-running K] [--sbatch OPTIONS]
#                         LIST CHUNK WORKDIR [QUORVEL-OPTION]...
#   LIST       the files, one path per line ("-": standard input); absolute
#              paths, or relative to the folder the command is run in
#   CHUNK      files per array task
#   WORKDIR    a folder on a file system every node sees: chunks/, reports/,
#              logs/, report.jsonl, summary.txt
#   QUORVEL-OPTION  given to every run: --empty=..., --cut=..., --format=...
#              (--thread=N overrides the task's CPU count); every run starts
#              from the default settings, so --reset is not needed (nor
#              allowed: it must be a command line's first word)
#   --null     the list is NUL-separated (find -print0)
#   --max-running K  at most K tasks at the same time
#   --sbatch OPTIONS  more options for sbatch (one word each, split at
#              blanks), e.g. "--partition=scan --cpus-per-task=4 --time=2:00:00"
# Environment: QUORVEL, the program on the nodes (default: quorvel on PATH).
#
# Prints the job ids of the array and of the merge. The same command run
# again (after a cancel, a failure, or with a list that grew) does only what
# is left: every run skips the results that are up to date, and the reports
# grow by the new run's records.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

null=0 max_running="" sbatch_options=""
while [ $# -gt 0 ]; do
  case $1 in
    --null) null=1; shift ;;
    --max-running) max_running=$2; shift 2 ;;
    --sbatch) sbatch_options=$2; shift 2 ;;
    *) break ;;
  esac
done
if [ $# -lt 3 ] || ! [[ $2 =~ ^[1-9][0-9]*$ ]]; then
  sed -n '/^# Usage/,/^# Environment/p' "$0" | sed 's/^# \{0,1\}//' >&2
  exit 2
fi
list=$1 chunk=$2 workdir=$3
shift 3
mkdir -p "$workdir"
workdir=$(cd "$workdir" && pwd)
mkdir -p "$workdir/reports" "$workdir/logs"

# The list with every path made absolute as quorvel makes it (joined to the
# folder the command runs in, "." and empty parts dropped), so that the
# merge finds each in the reports; kept for the merge, then cut into
# chunk-00000, chunk-00001, ...
[ "$list" = - ] && list=/dev/stdin
BASE=$(pwd) NUL=$null perl -e '
  $/ = $ENV{NUL} ? "\0" : "\n";
  while (my $path = <STDIN>) {
    chomp $path;
    next if $path eq "";
    my $trailing = $path =~ m{/$} ? "/" : "";
    $path = "$ENV{BASE}/$path" unless $path =~ m{^/};
    print join("/", "", grep { $_ ne "" && $_ ne "." } split(m{/}, $path)), $trailing, $/;
  }' <"$list" >"$workdir/list"
rm -rf "$workdir/chunks"
mkdir "$workdir/chunks"
separator=()
[ "$null" = 1 ] && separator=(-t '\0')
split -d -a 5 -l "$chunk" "${separator[@]}" "$workdir/list" "$workdir/chunks/chunk-"
count=$(find "$workdir/chunks" -name 'chunk-*' | wc -l)
if [ "$count" -eq 0 ]; then
  echo "quorvel-slurm: the list names no file" >&2
  exit 1
fi

array="0-$((count - 1))"
[ -n "$max_running" ] && array+="%$max_running"
# shellcheck disable=SC2086 # the sbatch options are words on purpose
tasks=$(sbatch --parsable --job-name=quorvel --array="$array" \
  --output="$workdir/logs/chunk-%a.out" $sbatch_options \
  "$here/quorvel-chunk.sh" "$workdir" "$null" "$@")
tasks=${tasks%%;*}
null_option=()
[ "$null" = 1 ] && null_option=(--null)
# shellcheck disable=SC2086
merge=$(sbatch --parsable --job-name=quorvel-merge --dependency="afterany:$tasks" \
  --kill-on-invalid-dep=no --output="$workdir/summary.txt" $sbatch_options --cpus-per-task=1 \
  --wrap="$(printf '%q ' python3 "$here/merge-reports.py" --out "$workdir/report.jsonl" \
    --list "$workdir/list" "${null_option[@]}") $(printf '%q' "$workdir")/reports/chunk-*.jsonl")
merge=${merge%%;*}
echo "$tasks $merge"
