#!/usr/bin/python3
"""Throughput of vaskit-prosett on Notion-style exports, against Python-Markdown.

Generates a 30 KB page and 1 MB and 10 MB exports (headings, properties, Chinese prose, inline
code and formulas, fenced code in lists and quotes, Mermaid, display math, alerts, collapsible
sections, tables, local images), converts each with the built vaskit-prosett as a whole process
(`vaskit-prosett -f file.md -c config.yaml` in a temporary folder) and, in the same run, with
Python-Markdown and the same six extensions (Debian's python3-markdown, installed when missing),
also as a whole process. Prints seconds, MB/s, peak resident memory and the ratio, and fails
when the 10 MB input takes more than 12 times the 1 MB input.

Usage: bench/prosett/bench.py [--binary PATH] [--runs N] [--full]
Without --binary, vaskit-prosett is built (Release) in build-bench/ of the repository.
Python-Markdown needs minutes for the 10 MB input (it grows faster than linearly), so it is
measured there only with --full.
"""
import argparse
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
EXTENSIONS = ["fenced_code", "tables", "toc", "md_in_html", "sane_lists", "nl2br"]
LINEAR_LIMIT = 12.0

# A 1x1 PNG.
PIXEL_PNG = bytes.fromhex(
    "89504e470d0a1a0a0000000d49484452000000010000000108060000001f15c489"
    "0000000d49444154789c6360000002000154a24f5d0000000049454e44ae426082")

WORDS = ["系統", "設計", "文件", "流程", "測試", "部署", "版本", "需求", "使用者", "資料",
         "module", "config", "pipeline", "render", "export", "token", "cache", "page"]


def section(rng, n):
    words = lambda k: " ".join(rng.choice(WORDS) for _ in range(k))
    parts = [
        f"## 第 {n} 章 {words(3)}\n",
        f"這是一段關於{words(8)}的說明，包含 `inline_{n}()` 與公式 $E_{n}=mc^2$，"
        f"價格介於 $5 與 $10 之間。{words(20)}\n",
        f"- 項目 {words(4)}\n- 子項目 `x{n}`\n  ```python\n  def f_{n}(x):\n"
        f"      return x * {n}  # a < b & c\n  ```\n- 最後一項 $a_{n}<b$\n",
        f"1. 步驟一 {words(5)}\n2. 步驟二 {words(5)}\n",
        f"$$\n\\int_0^{n} x^2 \\, dx = \\frac{{{n}^3}}{{3}}\n$$\n",
        f"> [!NOTE]\n> 注意：{words(10)}\n",
        f"<details>\n<summary>展開細節 {n}</summary>\n\n{words(30)}\n\n</details>\n",
        f"| 欄位 | 值 | 說明 |\n|---|---|---|\n| a{n} | `b` | {words(4)} |\n| c | $d$ | {words(4)} |\n",
        f"```mermaid\ngraph TD\n  A{n}-->B{n}\n  B{n}-->C{n}\n```\n",
        f"> ```js\n> const v{n} = {n};\n> ```\n",
        f"![圖 {n}](img/pic%20one.png)\n",
        f"{words(40)}\n",
    ]
    return "\n".join(parts) + "\n"


def notion_export(size, seed):
    rng = random.Random(seed)
    head = ("# 專案規劃\n\nCreated: 2024年3月1日 10:00\nTags: 規劃, 設計\nStatus: Done\n"
            "**Author:** 王小明\n**Version:** 1.2.0\n\n")
    chunks = [head]
    total = len(head.encode())
    n = 0
    while total < size:
        n += 1
        s = section(rng, n)
        chunks.append(s)
        total += len(s.encode())
    return "".join(chunks)


def ensure_python_markdown():
    try:
        subprocess.run(["/usr/bin/python3", "-c", "import markdown"], check=True,
                       stderr=subprocess.DEVNULL)
        return
    except subprocess.CalledProcessError:
        pass
    sudo = [] if os.geteuid() == 0 else ["sudo"]
    print("bench: installing python3-markdown", file=sys.stderr)
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    subprocess.run(sudo + ["apt-get", "install", "-y", "-qq", "python3-markdown"], check=True,
                   env=env, stdout=subprocess.DEVNULL)


def build_binary():
    build = os.path.join(REPO, "build-bench")
    subprocess.run(["cmake", "-S", REPO, "-B", build, "-DCMAKE_BUILD_TYPE=Release",
                    "-DVASKIT_TESTS=OFF"], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", build, "-j", str(os.cpu_count() or 2), "--target",
                    "vaskit-prosett"], check=True, stdout=subprocess.DEVNULL)
    return os.path.join(build, "bin", "vaskit-prosett")


def run_process(argv, cwd):
    """Seconds and peak resident size (KiB) of one child process."""
    start = time.perf_counter()
    proc = subprocess.Popen(argv, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                            stdin=subprocess.DEVNULL)
    _, status, usage = os.wait4(proc.pid, 0)
    elapsed = time.perf_counter() - start
    if os.waitstatus_to_exitcode(status) != 0:
        raise SystemExit(f"bench: {' '.join(argv)} failed with status {status}")
    return elapsed, usage.ru_maxrss


def measure(argv, cwd, runs):
    results = [run_process(argv, cwd) for _ in range(runs)]
    return statistics.median(r[0] for r in results), max(r[1] for r in results)


PEER = ("import markdown, sys\n"
        "text = open(sys.argv[1], encoding='utf-8').read()\n"
        "html = markdown.markdown(text, extensions=%r)\n"
        "open(sys.argv[2], 'w', encoding='utf-8').write(html)\n" % EXTENSIONS)


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--binary", help="vaskit-prosett to measure (default: build it)")
    ap.add_argument("--runs", type=int, default=5, help="runs per large input (median)")
    ap.add_argument("--full", action="store_true",
                    help="also run Python-Markdown on the 10 MB input (several minutes)")
    args = ap.parse_args()

    ensure_python_markdown()
    binary = os.path.abspath(args.binary) if args.binary else build_binary()
    if not os.access(binary, os.X_OK):
        raise SystemExit(f"bench: no executable at {binary}")

    work = tempfile.mkdtemp(prefix="prosett-bench-")
    try:
        os.makedirs(os.path.join(work, "img"))
        with open(os.path.join(work, "img", "pic one.png"), "wb") as f:
            f.write(PIXEL_PNG)
        with open(os.path.join(work, "config.yaml"), "w", encoding="utf-8") as f:
            f.write('config:\n  input_path: "./"\n  output_path: "./out"\n  embed_images: true\n'
                    '  watermark_enable: true\n  watermark_text: "CONFIDENTIAL"\n')
        inputs = [("page 30 KB", 30_000, max(20, args.runs)), ("1 MB", 1_000_000, args.runs),
                  ("10 MB", 10_000_000, args.runs)]
        rows = []
        for label, size, runs in inputs:
            name = label.replace(" ", "_") + ".md"
            text = notion_export(size, seed=size)
            path = os.path.join(work, name)
            with open(path, "w", encoding="utf-8") as f:
                f.write(text)
            nbytes = len(text.encode())
            ours, ours_rss = measure([binary, "-f", name, "-c", "config.yaml"], work, runs)
            peer = peer_rss = None
            if size < 5_000_000 or args.full:
                peer, peer_rss = measure(
                    ["/usr/bin/python3", "-c", PEER, name, name + ".peer.html"], work,
                    runs if size < 5_000_000 else 1)
            rows.append((label, nbytes, ours, ours_rss, peer, peer_rss))

        print(f"{'input':<11}{'bytes':>11}{'vaskit s':>10}{'MB/s':>8}{'peak MiB':>10}"
              f"{'py-md s':>10}{'peak MiB':>10}{'speed-up':>10}")
        for label, nbytes, ours, ours_rss, peer, peer_rss in rows:
            line = (f"{label:<11}{nbytes:>11}{ours:>10.3f}{nbytes / 1e6 / ours:>8.1f}"
                    f"{ours_rss / 1024:>10.1f}")
            if peer is None:
                line += f"{'(--full)':>10}{'':>10}{'':>10}"
            else:
                line += f"{peer:>10.3f}{peer_rss / 1024:>10.1f}{peer / ours:>9.1f}x"
            print(line)
        print(f"time per 30 KB page (whole process): vaskit {rows[0][2] * 1000:.1f} ms, "
              f"Python-Markdown {rows[0][4] * 1000:.1f} ms")
        growth = rows[2][2] / rows[1][2]
        verdict = "ok" if growth <= LINEAR_LIMIT else "TOO SLOW"
        print(f"10 MB / 1 MB time: {growth:.2f} (limit {LINEAR_LIMIT:g}): {verdict}")
        return 0 if growth <= LINEAR_LIMIT else 1
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
