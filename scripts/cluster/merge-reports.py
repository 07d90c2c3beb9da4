#!/usr/bin/env python3
"""Merges quorvel run reports (--report, JSON Lines) into one and prints the
summary with the pages that need a look and the files that failed.

Usage: merge-reports.py [--out MERGED] [--list LIST [--null]] REPORT...

Each REPORT holds the records of one or more runs (a rerun with
--skip-existing appends to its report). Per source the last record that is
not "skipped" counts (a source done by an earlier run and skipped by a later
one stays "ok" or "review"); a source with "skipped" records only is
skipped. With --list (the list the runs were given, one path per line, or
NUL-separated with --null), sources of the list with no record at all are
counted as not processed.

--out writes the merged report: one record per source, in the order first
met, then one summary object. The summary printed and written:
  end            "completed" when every report's last run completed and
                 nothing failed or was left unprocessed; else "incomplete"
  files, ok, review, failed, skipped, not_processed
  reports        the number of reports; runs: the summaries found in them;
  unfinished     reports whose last run has no summary (killed) or did not
                 complete (failed, stopped, refused)

Exit status: 0 when complete, 1 otherwise, 2 for a bad command line or a
report that cannot be read. File names are bytes: they are read and written
as the reports hold them.
"""

import argparse
import json
import sys


def read_lines(path):
    """The JSON objects of a report; a line that is no JSON (one a killed
    run left unended) is passed over."""
    with open(path, "rb") as f:
        for raw in f:
            try:
                record = json.loads(raw.decode("utf-8", "surrogateescape"))
            except ValueError:
                continue
            if isinstance(record, dict):
                yield record


def read_list(path, null):
    with open(path, "rb") as f:
        data = f.read()
    entries = data.split(b"\0" if null else b"\n")
    return [e.decode("utf-8", "surrogateescape") for e in entries if e]


def first_line(text):
    return (text or "").strip().split("\n")[0]


def shown(text):
    """Text for a terminal: control characters and undecodable bytes escaped."""
    out = []
    for ch in text:
        code = ord(ch)
        if 0xDC80 <= code <= 0xDCFF:
            out.append("\\x%02x" % (code - 0xDC00))
        elif code < 0x20 or 0x7F <= code < 0xA0:
            out.append({"\n": "\\n", "\t": "\\t"}.get(ch, "\\x%02x" % code))
        else:
            out.append(ch)
    return "".join(out)


def main():
    parser = argparse.ArgumentParser(description="Merges quorvel run reports.")
    parser.add_argument("--out", help="write the merged report here")
    parser.add_argument("--list", help="the list of files the runs were given")
    parser.add_argument("--null", action="store_true", help="the list is NUL-separated")
    parser.add_argument("reports", nargs="+")
    args = parser.parse_args()

    records = {}  # source -> the record that counts; insertion order kept
    runs = 0
    unfinished = []
    version = None
    try:
        for path in args.reports:
            last_end = None
            for record in read_lines(path):
                summary = record.get("summary")
                if isinstance(summary, dict):
                    runs += 1
                    last_end = summary.get("end")
                    version = summary.get("version", version)
                    continue
                source = record.get("source")
                if not isinstance(source, str):
                    continue
                known = records.get(source)
                if known is None or record.get("status") != "skipped":
                    records[source] = record
                if last_end is not None:
                    last_end = "running"  # a later run, not (yet) ended
            if last_end != "completed":
                unfinished.append(path)
        listed = read_list(args.list, args.null) if args.list else []
    except OSError as error:
        print("merge-reports: %s" % error, file=sys.stderr)
        return 2

    counts = {"ok": 0, "review": 0, "failed": 0, "skipped": 0}
    for record in records.values():
        status = record.get("status")
        if status in counts:
            counts[status] += 1
    missing = [s for s in dict.fromkeys(listed) if s not in records]
    files = len(records) + len(missing)
    complete = not unfinished and not missing and counts["failed"] == 0
    summary = {
        "end": "completed" if complete else "incomplete",
        "files": files,
        **counts,
        "not_processed": len(missing),
        "reports": len(args.reports),
        "runs": runs,
        "unfinished": len(unfinished),
        "version": version,
    }

    if args.out:
        with open(args.out, "w", encoding="utf-8", errors="surrogateescape") as out:
            for record in records.values():
                out.write(json.dumps(record, ensure_ascii=False) + "\n")
            out.write(json.dumps({"summary": summary}, ensure_ascii=False) + "\n")

    print("%d files: %d ok, %d need a look, %d failed, %d skipped, %d not processed"
          % (files, counts["ok"], counts["review"], counts["failed"], counts["skipped"],
             len(missing)))
    print("%d reports, %d runs%s" % (len(args.reports), runs,
                                     ", unfinished: " + " ".join(map(shown, unfinished))
                                     if unfinished else ""))
    review = [r for r in records.values() if r.get("status") == "review"]
    if review:
        print("need a look%s:" % (" (the first 10)" if len(review) > 10 else ""))
        for record in review[:10]:
            reasons = record.get("reasons") or [""]
            print("  %s: %s" % (shown(record["source"]), shown(reasons[0])))
    failed = [r for r in records.values() if r.get("status") == "failed"]
    if failed:
        print("failed%s:" % (" (the first 10)" if len(failed) > 10 else ""))
        for record in failed[:10]:
            print("  %s: %s" % (shown(record["source"]), shown(first_line(record.get("message")))))
    if missing:
        print("not processed%s:" % (" (the first 10)" if len(missing) > 10 else ""))
        for source in missing[:10]:
            print("  " + shown(source))
    sys.stdout.flush()
    return 0 if complete else 1


if __name__ == "__main__":
    sys.exit(main())
