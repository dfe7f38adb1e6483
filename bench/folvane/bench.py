#!/usr/bin/env python3
"""Times one folvane pass (renaming, text extraction, merged report, workbook rows) over
generated receipts, and the pypdf peer on the same receipts in the same run.

bench.py --tool vaskit-folvane --gen gen_receipts [--count 200] [--runs 3]
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


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--tool", required=True)
    ap.add_argument("--gen", required=True)
    ap.add_argument("--count", type=int, default=200)
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--peer-runs", type=int, default=2)
    args = ap.parse_args()

    import pypdf  # installed by bench/folvane/run

    with tempfile.TemporaryDirectory(prefix="folvane-bench.") as tmp:
        source = os.path.join(tmp, "receipts")
        subprocess.run([args.gen, source, str(args.count)], check=True)
        pages = sum(page_count(os.path.join(source, n)) for n in os.listdir(source))

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
        for i in range(args.peer_runs):
            work = fresh_copy("peer")
            report = os.path.join(tmp, "peer-report.pdf")
            peer.append(run_measured([sys.executable, os.path.join(HERE, "peer_pypdf.py"), work,
                                      report, "2", "2"], tmp))
            peer_pages = page_count(report)

    best = min(ours, key=lambda r: r[0])
    best_peer = min(peer, key=lambda r: r[0])
    print("folvane bench: %d receipts, %d receipt pages, 2x2 grid on A4" % (args.count, pages))
    print("  vaskit-folvane   %7.3f s  %8.1f receipts/s  peak RSS %6.1f MiB  (best of %d)"
          % (best[0], args.count / best[0], max(r[1] for r in ours), len(ours)))
    print("  pypdf %-10s %7.3f s  %8.1f receipts/s  peak RSS %6.1f MiB  (best of %d)"
          % (pypdf.__version__, best_peer[0], args.count / best_peer[0],
             max(r[1] for r in peer), len(peer)))
    print("  ratio            %7.1fx faster than the pypdf peer" % (best_peer[0] / best[0]))
    if our_pages != peer_pages:
        print("  WARNING: report pages differ: %d here, %d from the peer" % (our_pages, peer_pages))
    else:
        print("  report pages     %d (both)" % our_pages)


if __name__ == "__main__":
    main()
