#!/usr/bin/env python3
"""Times procly on generated order files (200,000 system rows against 200,000 customer rows,
150,000 matches) and pandas doing the same pass, in the same run; then procly on twice the
rows, to show the time grows linearly.

bench.py --tool vaskit-procly --phases bench_procly_phases --gen gen_orders [--rows 200000]
"""
import argparse
import json
import os
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def peak_rss(cmd, cwd):
    """Runs `cmd` and returns (seconds, peak RSS MiB, stdout) via wait4."""
    start = time.perf_counter()
    proc = subprocess.Popen(cmd, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    out = proc.stdout.read()
    _, status, usage = os.wait4(proc.pid, 0)
    proc.stdout.close()
    elapsed = time.perf_counter() - start
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit("failed: %s" % " ".join(cmd))
    return elapsed, usage.ru_maxrss / 1024.0, out.decode()


def phases(text):
    out = {}
    for line in text.splitlines():
        name, _, value = line.partition(" ")
        if name != "matched":
            out[name] = float(value)
    return out


def tool_run(args, tmp, rows):
    folder = os.path.join(tmp, "orders-%d" % rows)
    subprocess.run([args.gen, folder, str(rows), str(rows * 3 // 4)], check=True)
    config = os.path.join(folder, "config.json")
    with open(config, "w", encoding="utf-8") as f:
        json.dump({"config": {"system_data_path": os.path.join(folder, "system_data.csv"),
                              "customer_data_path": os.path.join(folder, "customer_data.xlsx"),
                              "output_dir": os.path.join(folder, "out")}}, f)
    best = None
    for _ in range(args.runs):
        secs, rss, out = peak_rss([args.tool, "-c", config], tmp)
        if not out.startswith("Success: Processed"):
            sys.exit("procly did not succeed: " + out)
        if best is None or secs < best[0]:
            best = (secs, rss)
    return folder, best


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--tool", required=True)
    ap.add_argument("--phases", required=True)
    ap.add_argument("--gen", required=True)
    ap.add_argument("--rows", type=int, default=200000)
    ap.add_argument("--runs", type=int, default=3)
    args = ap.parse_args()

    with tempfile.TemporaryDirectory(prefix="procly-bench.") as tmp:
        folder, ours = tool_run(args, tmp, args.rows)
        ours_phases = phases(peak_rss([args.phases, os.path.join(folder, "system_data.csv"),
                                       os.path.join(folder, "customer_data.xlsx"),
                                       os.path.join(folder, "phases.xlsx")], tmp)[2])
        peer_secs, peer_rss, peer_out = peak_rss(
            [sys.executable, os.path.join(HERE, "peer_pandas.py"),
             os.path.join(folder, "system_data.csv"), os.path.join(folder, "customer_data.xlsx"),
             os.path.join(folder, "peer.xlsx")], tmp)
        peer_phases = phases(peer_out)
        _, double = tool_run(args, tmp, args.rows * 2)

    import pandas
    core = ("dates", "join", "sorts", "summary")
    ours_core = sum(ours_phases[p] for p in core)
    peer_core = sum(peer_phases[p] for p in core)
    print("procly bench: %d system rows against %d customer rows, %d matches"
          % (args.rows, args.rows, args.rows * 3 // 4))
    print("  vaskit-procly      %7.3f s  peak RSS %7.1f MiB  (whole run, best of %d)"
          % (ours[0], ours[1], args.runs))
    print("  pandas %-11s %7.3f s  peak RSS %7.1f MiB  (the same pass, openpyxl reading and"
          " writing the workbooks)" % (pandas.__version__, peer_secs, peer_rss))
    print("  ratio              %7.1fx faster than pandas" % (peer_secs / ours[0]))
    print("  phases (s)         %s" % "  ".join(
        "%s %.3f/%.3f" % (p, ours_phases[p], peer_phases[p]) for p in ours_phases
        if p in peer_phases))
    print("                     (ours/pandas; join, sorts, summary and dates together: "
          "%.3f/%.3f, %.1fx)" % (ours_core, peer_core, peer_core / ours_core))
    print("  twice the rows     %7.3f s  peak RSS %7.1f MiB  time ratio %.2f (linear: <= 2.5)"
          % (double[0], double[1], double[0] / ours[0]))


if __name__ == "__main__":
    main()
