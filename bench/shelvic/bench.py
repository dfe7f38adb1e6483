#!/usr/bin/env python3
"""shelvic benchmark: one whole run (listing, package, re-pointing, configuration rewrite, page)
on a folder of versioned files, at two sizes, to show that the run grows linearly.

Prints files per second, the run's peak memory, and the ratio of the larger run's time to the
smaller one's against the limit (2.5 for twice the files)."""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time
import zipfile

VERSIONS = 5
LIMIT = 2.5


def make_folder(path, families):
    """`families` document families of VERSIONS files each, and a commented configuration that
    names the oldest version of every family."""
    os.makedirs(path)
    body = ("<p>" + "versioned document text " * 40 + "</p>\n").encode()
    for f in range(families):
        for v in range(1, VERSIONS + 1):
            name = f"doc{f:05d}_v1.{v}.html" if v % 2 else f"doc{f:05d}-v1.{v}.html"
            with open(os.path.join(path, name), "wb") as out:
                out.write(body + name.encode())
    lines = ["# Benchmark index", "document_title: Benchmark", "download_link: package.zip", ""]
    for f in range(families):
        n = f + 1
        lines += [f"# document {n}", f"document{n}_title: Document {n}",
                  f"document{n}_file: doc{f:05d}_v1.1.html  # oldest on purpose",
                  f"document{n}_description: Family {f}", ""]
    with open(os.path.join(path, "config.yaml"), "w", encoding="utf-8") as out:
        out.write("\n".join(lines))
    return "\n".join(lines)


def run_once(tool, folder, config_text):
    """Runs the tool once from a fresh state; returns (seconds, peak RSS in MiB)."""
    with open(os.path.join(folder, "config.yaml"), "w", encoding="utf-8") as out:
        out.write(config_text)
    for leftover in ("package.zip", "index.html", ".config.yaml.bak"):
        try:
            os.remove(os.path.join(folder, leftover))
        except FileNotFoundError:
            pass
    start = time.perf_counter()
    proc = subprocess.Popen([tool, "-c", "config.yaml"], cwd=folder, stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(proc.pid, 0)
    seconds = time.perf_counter() - start
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"bench: the run failed in {folder}")
    return seconds, usage.ru_maxrss / 1024.0


def check(folder, families):
    with zipfile.ZipFile(os.path.join(folder, "package.zip")) as z:
        if len(z.namelist()) != families:
            sys.exit(f"bench: package holds {len(z.namelist())} files, expected {families}")
    text = open(os.path.join(folder, "config.yaml"), encoding="utf-8").read()
    if text.count("_v1.5.html\"") != families or text.count("# oldest on purpose") != families:
        sys.exit("bench: the configuration was not re-pointed in place")
    page = open(os.path.join(folder, "index.html"), encoding="utf-8").read()
    if page.count('class="card"') != families:
        sys.exit("bench: the page does not hold one card per document")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--tool", required=True)
    ap.add_argument("--families", type=int, default=2000)
    ap.add_argument("--repeat", type=int, default=3)
    args = ap.parse_args()
    args.tool = os.path.abspath(args.tool)
    work = tempfile.mkdtemp(prefix="shelvic-bench-")
    try:
        results = {}
        for scale in (1, 2):
            families = args.families * scale
            folder = os.path.join(work, f"x{scale}")
            config_text = make_folder(folder, families)
            runs = [run_once(args.tool, folder, config_text) for _ in range(args.repeat)]
            check(folder, families)
            best = min(r[0] for r in runs)
            peak = max(r[1] for r in runs)
            files = families * VERSIONS
            results[scale] = best
            print(f"shelvic: {files} files, {families} documents: {best:.3f} s "
                  f"({files / best:,.0f} files/s), peak memory {peak:.1f} MiB")
        ratio = results[2] / results[1]
        verdict = "ok" if ratio <= LIMIT else "TOO SLOW"
        print(f"shelvic: twice the files took {ratio:.2f}x the time (limit {LIMIT}x): {verdict}")
        sys.exit(0 if ratio <= LIMIT else 1)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
