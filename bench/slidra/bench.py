#!/usr/bin/env python3
"""slidra benchmark: one whole run on a generated deck (30 slides, two keyword shapes each, all
slides chosen, 4800 pixels wide), timed stage by stage from the run's own log lines as they
arrive: the export (LibreOffice's PDF conversion plus rendering the pages) and the cropping.

Prints the time of each stage, the export of one slide against the export of all of them (the
conversion runs once per run, so thirty slides must not cost thirty conversions), the cropping
time per region against the limit of 50 ms, and the run's peak memory."""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

CROP_LIMIT_MS = 50.0


def run(tool, folder, target):
    """One run; returns (export seconds, crop seconds, regions, peak RSS MiB, total seconds)."""
    for leftover in ("img", "img_preview.md"):
        path = os.path.join(folder, leftover)
        if os.path.isdir(path):
            shutil.rmtree(path)
        elif os.path.exists(path):
            os.remove(path)
    with open(os.path.join(folder, "config.yaml"), "w", encoding="utf-8") as out:
        out.write(f'config:\n  target_slides: "{target}"\n  scale_width: 4800\n  padding: -40\n')
    marks = {}
    regions = 0
    start = time.perf_counter()
    proc = subprocess.Popen([tool, "-c", "config.yaml"], cwd=folder, stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    for raw in proc.stderr:
        now = time.perf_counter()
        line = raw.decode("utf-8", "replace")
        if "預計處理投影片頁碼" in line:
            marks["export_start"] = now
        elif "簡報匯出為高解析度全圖" in line:
            marks["export_end"] = now
        elif "正在處理第" in line and "crop_start" not in marks:
            marks["crop_start"] = now
        elif "裁切成功" in line:
            regions += 1
        elif "Slidra executed successfully" in line:
            marks["crop_end"] = now
    _, status, usage = os.wait4(proc.pid, 0)
    total = time.perf_counter() - start
    if os.waitstatus_to_exitcode(status) != 0 or len(marks) != 4:
        sys.exit(f"bench: the run failed in {folder}")
    return (marks["export_end"] - marks["export_start"], marks["crop_end"] - marks["crop_start"],
            regions, usage.ru_maxrss / 1024.0, total)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--tool", required=True, type=os.path.abspath)
    ap.add_argument("--gen", required=True, type=os.path.abspath)
    ap.add_argument("--slides", type=int, default=30)
    args = ap.parse_args()
    with tempfile.TemporaryDirectory(prefix="slidra-bench.") as folder:
        subprocess.run([args.gen, os.path.join(folder, "deck.pptx"), str(args.slides)], check=True)
        one = run(args.tool, folder, "1")
        full = run(args.tool, folder, "all")
    export, crop, regions, peak, total = full
    if regions != 2 * args.slides:
        sys.exit(f"bench: {regions} regions cropped, expected {2 * args.slides}")
    per_region = crop * 1000.0 / regions
    print(f"slidra: {args.slides} slides, {regions} regions at 4800 pixels, whole run {total:.2f} s")
    print(f"  export (LibreOffice + rendering): {export:.2f} s for {args.slides} slides, "
          f"{one[0]:.2f} s for 1 slide (ratio {export / one[0]:.2f}: one conversion per run)")
    print(f"  cropping: {crop:.2f} s, {per_region:.1f} ms per region "
          f"(limit {CROP_LIMIT_MS:.0f} ms, ratio {per_region / CROP_LIMIT_MS:.2f})")
    print(f"  peak memory: {peak:.0f} MiB (the larger of slidra and the LibreOffice it starts)")
    if per_region > CROP_LIMIT_MS:
        sys.exit("bench: cropping is over its limit")


if __name__ == "__main__":
    main()
