#!/usr/bin/env python3
"""Times one folvane pass (renaming, text extraction, merged report, workbook rows) over
generated receipts, and in the same run the pypdf peer and a plain `qpdf --empty --pages` merge
of the same receipts (the limit for the PDF side). Then the same over four times as many
receipts, for the growth. Prints receipts per second, peak memory and the ratios, and fails when
a target is missed: at least 400 receipts/s, at least 8 times the peer, four times the receipts
in at most 4.2 times the time.

bench.py --tool vaskit-folvane --gen gen_receipts [--count 200] [--runs 3] [--no-growth]
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


def run_measured(cmd, cwd):
    """Wall time (s), peak resident size of the child itself (MiB) and standard output."""
    start = time.perf_counter()
    proc = subprocess.Popen(cmd, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    out = proc.stdout.read()
    _, status, usage = os.wait4(proc.pid, 0)
    proc.returncode = os.waitstatus_to_exitcode(status)
    proc.stdout.close()
    elapsed = time.perf_counter() - start
    if proc.returncode != 0:
        sys.exit("failed (status %d): %s" % (proc.returncode, " ".join(cmd)))
    return elapsed, usage.ru_maxrss / 1024.0, out


def page_count(pdf):
    out = subprocess.run(["qpdf", "--show-npages", pdf], check=True, capture_output=True)
    return int(out.stdout)


def measure(args, count, peer_runs):
    """(ours, peer, qpdf merge) best runs over `count` fresh receipts; report pages checked."""
    import pypdf  # installed by bench/folvane/run

    with tempfile.TemporaryDirectory(prefix="folvane-bench.") as tmp:
        source = os.path.join(tmp, "receipts")
        subprocess.run([args.gen, source, str(count)], check=True, stdout=subprocess.DEVNULL)
        names = sorted(os.listdir(source))
        pages = sum(page_count(os.path.join(source, n)) for n in names)

        def fresh_copy(name):
            work = os.path.join(tmp, name)
            shutil.rmtree(work, ignore_errors=True)
            shutil.copytree(source, work)
            return work

        ours = []
        for i in range(args.runs):
            work = fresh_copy("ours")
            out_dir = os.path.join(tmp, "ours-out")
            config = os.path.join(tmp, "config.json")
            with open(config, "w", encoding="utf-8") as f:
                json.dump({"config": {"input_folder": work, "output_folder": out_dir,
                                      "layout": {"cols": 2, "rows": 2, "landscape": False},
                                      "margin": 20, "debug_grid": False}}, f)
            ours.append(run_measured([args.tool, "-c", config], tmp))
            our_pages = page_count(os.path.join(out_dir, "taxi_receipt.pdf"))

        peer = []
        for i in range(peer_runs):
            work = fresh_copy("peer")
            report = os.path.join(tmp, "peer-report.pdf")
            peer.append(run_measured([sys.executable, os.path.join(HERE, "peer_pypdf.py"), work,
                                      report, "2", "2"], tmp))
            peer_pages = page_count(report)

        merged = os.path.join(tmp, "merged.pdf")
        limit = [run_measured(["qpdf", "--empty", "--pages"] +
                              [os.path.join(source, n) for n in names] + ["--", merged], tmp)
                 for _ in range(args.runs)]

    best = min(ours, key=lambda r: r[0])
    best_peer = min(peer, key=lambda r: r[0])
    best_limit = min(limit, key=lambda r: r[0])
    print("folvane bench: %d receipts, %d receipt pages, 2x2 grid on A4" % (count, pages))
    print("  vaskit-folvane   %7.3f s  %8.1f receipts/s  peak RSS %6.1f MiB  (best of %d)"
          % (best[0], count / best[0], max(r[1] for r in ours), len(ours)))
    print("  pypdf %-10s %7.3f s  %8.1f receipts/s  peak RSS %6.1f MiB  (best of %d)"
          % (pypdf.__version__, best_peer[0], count / best_peer[0],
             max(r[1] for r in peer), len(peer)))
    print("  qpdf merge       %7.3f s  %8.1f receipts/s  peak RSS %6.1f MiB  (best of %d)"
          % (best_limit[0], count / best_limit[0], max(r[1] for r in limit), len(limit)))
    print("  ratio            %7.1fx faster than the pypdf peer, %.1fx the time of a plain merge"
          % (best_peer[0] / best[0], best[0] / best_limit[0]))
    if our_pages != peer_pages:
        print("  WARNING: report pages differ: %d here, %d from the peer" % (our_pages, peer_pages))
    else:
        print("  report pages     %d (both)" % our_pages)
    return best[0], best_peer[0]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--tool", required=True)
    ap.add_argument("--gen", required=True)
    ap.add_argument("--count", type=int, default=200)
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--peer-runs", type=int, default=2)
    ap.add_argument("--no-growth", action="store_true",
                    help="skip the run over four times as many receipts")
    args = ap.parse_args()

    ours, peer = measure(args, args.count, args.peer_runs)
    checks = [("receipts per second", args.count / ours, 400, True),
              ("times faster than pypdf", peer / ours, 8, True)]
    if not args.no_growth:
        ours4, _ = measure(args, 4 * args.count, 1)
        checks.append(("4x receipts / time", ours4 / ours, 4.2, False))
    failed = 0
    for what, value, target, at_least in checks:
        ok = value >= target if at_least else value <= target
        failed += not ok
        print("%-24s %8.2f (target %s %g): %s"
              % (what, value, ">=" if at_least else "<=", target, "ok" if ok else "MISSED"))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
