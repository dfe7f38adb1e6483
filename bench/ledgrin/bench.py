#!/usr/bin/env python3
"""Times one ledgrin pass over generated expense workbooks (two cells read from each, renamed
into results/ with a backup copy), against the 5 ms per workbook limit and an openpyxl peer doing
the same pass, in the same run.

bench.py --tool vaskit-ledgrin --gen gen_books [--count 2000] [--runs 3]
"""
import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
LIMIT_MS = 5.0


def run_measured(cmd, cwd):
    """Wall time (s) and peak resident size of the child itself (MiB)."""
    start = time.perf_counter()
    proc = subprocess.Popen(cmd, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    err = proc.stderr.read()
    _, status, usage = os.wait4(proc.pid, 0)
    proc.stderr.close()
    elapsed = time.perf_counter() - start
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit("failed: %s\n%s" % (" ".join(cmd), err.decode(errors="replace")))
    return elapsed, usage.ru_maxrss / 1024.0, err


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--tool", required=True)
    ap.add_argument("--gen", required=True)
    ap.add_argument("--count", type=int, default=2000)
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--peer-runs", type=int, default=1)
    args = ap.parse_args()

    with tempfile.TemporaryDirectory(prefix="ledgrin-bench.") as tmp:
        source = os.path.join(tmp, "books")
        subprocess.run([args.gen, source, str(args.count)], check=True)
        size = sum(os.path.getsize(os.path.join(source, n)) for n in os.listdir(source))

        def fresh_copy(name):
            work = os.path.join(tmp, name)
            shutil.rmtree(work, ignore_errors=True)
            shutil.copytree(source, work)
            return work

        ours = []
        for _ in range(args.runs):
            work = fresh_copy("ours")
            config = os.path.join(tmp, "config.json")
            with open(config, "w", encoding="utf-8") as f:
                json.dump({"config": {"path": work, "dry_run": False},
                           "excel_in": {"name_cell": "D6", "amount_cell": "P56"}}, f)
            ours.append(run_measured([args.tool, "-c", config], tmp))
            moved = len(os.listdir(os.path.join(work, "results")))
            if moved != args.count:
                sys.exit("only %d of %d workbooks were moved:\n%s"
                         % (moved, args.count, ours[-1][2].decode(errors="replace")[-2000:]))

        # A dry run reads the two cells of every workbook and moves nothing: the reading cost.
        config = os.path.join(tmp, "dry.json")
        with open(config, "w", encoding="utf-8") as f:
            json.dump({"config": {"path": source, "dry_run": True}}, f)
        dry = min((run_measured([args.tool, "-c", config], tmp) for _ in range(args.runs)),
                  key=lambda r: r[0])

        peer = []
        for _ in range(args.peer_runs):
            work = fresh_copy("peer")
            peer.append(run_measured([sys.executable, os.path.join(HERE, "peer_openpyxl.py"),
                                      work], tmp))

    best = min(ours, key=lambda r: r[0])
    best_peer = min(peer, key=lambda r: r[0])
    per_book = best[0] * 1000.0 / args.count
    print("ledgrin bench: %d workbooks, 3 sheets each, %.1f KB on average"
          % (args.count, size / 1024.0 / args.count))
    print("  vaskit-ledgrin   %7.3f s  %8.1f workbooks/s  %6.3f ms each  peak RSS %6.1f MiB"
          "  (best of %d)" % (best[0], args.count / best[0], per_book,
                              max(r[1] for r in ours), len(ours)))
    print("  dry run (reading only) %7.3f s  %6.3f ms each  peak RSS %6.1f MiB"
          % (dry[0], dry[0] * 1000.0 / args.count, dry[1]))
    print("  openpyxl peer    %7.3f s  %8.1f workbooks/s  %6.3f ms each  peak RSS %6.1f MiB"
          % (best_peer[0], args.count / best_peer[0], best_peer[0] * 1000.0 / args.count,
             max(r[1] for r in peer)))
    print("  against the limit  %.2f of %.0f ms per workbook (%s)"
          % (per_book, LIMIT_MS, "within" if per_book < LIMIT_MS else "OVER"))
    print("  ratio            %7.1fx faster than the openpyxl peer" % (best_peer[0] / best[0]))


if __name__ == "__main__":
    main()
