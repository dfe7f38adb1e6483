#!/usr/bin/python3
"""Throughput of vaskit-prosett on Notion-style exports, against Python-Markdown.

Generates a 30 KB page and 1, 10 and 40 MB exports (headings, properties, Chinese prose, inline
code and formulas, fenced code in lists and quotes, Mermaid, display math, alerts, collapsible
sections, tables, local images), converts each with the built vaskit-prosett as a whole process
(`vaskit-prosett -f file.md -c config.yaml` in a temporary folder) and, in the same run, with
Python-Markdown and the same six extensions (Debian's python3-markdown, installed when missing)
and with bare `cmark-gfm -e table --unsafe --hardbreaks` (the renderer alone, the limit), all as
whole processes. A 40 MB export shows how time and memory grow. Prints seconds, MB/s, peak
resident memory (also per input byte) and the ratios, and fails when a target is missed: at most
2.5 times cmark-gfm for the page, 2 times at 1 MB and 10 MB, 40 MB at most 4.4 times the 10 MB
time, peak memory at most 8 times the input at 10 MB and 40 MB.

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


def cmark_gfm():
    """The bare renderer with the extensions prosett asks of its own (the limit)."""
    path = shutil.which("cmark-gfm")
    if path:
        return path
    sudo = [] if os.geteuid() == 0 else ["sudo"]
    print("bench: installing cmark-gfm", file=sys.stderr)
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    subprocess.run(sudo + ["apt-get", "install", "-y", "-qq", "cmark-gfm"], check=True, env=env,
                   stdout=subprocess.DEVNULL)
    return shutil.which("cmark-gfm")


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--binary", help="vaskit-prosett to measure (default: build it)")
    ap.add_argument("--runs", type=int, default=5, help="runs per large input (median)")
    ap.add_argument("--full", action="store_true",
                    help="also run Python-Markdown on the 10 MB input (several minutes)")
    args = ap.parse_args()

    ensure_python_markdown()
    cmark = cmark_gfm()
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
                  ("10 MB", 10_000_000, args.runs), ("40 MB", 40_000_000, max(1, args.runs // 2))]
        rows = []
        for label, size, runs in inputs:
            name = label.replace(" ", "_") + ".md"
            text = notion_export(size, seed=size)
            path = os.path.join(work, name)
            with open(path, "w", encoding="utf-8") as f:
                f.write(text)
            nbytes = len(text.encode())
            ours, ours_rss = measure([binary, "-f", name, "-c", "config.yaml"], work, runs)
            limit, limit_rss = measure(
                ["/bin/sh", "-c", f'exec "{cmark}" -e table --unsafe --hardbreaks "{name}" '
                 f'> "{name}.cmark.html"'], work, runs)
            peer = peer_rss = None
            if size < 5_000_000 or (args.full and size < 20_000_000):
                peer, peer_rss = measure(
                    ["/usr/bin/python3", "-c", PEER, name, name + ".peer.html"], work,
                    runs if size < 5_000_000 else 1)
            rows.append((label, nbytes, ours, ours_rss, limit, peer, peer_rss))
            os.remove(path)

        print(f"{'input':<11}{'bytes':>11}{'vaskit s':>10}{'MB/s':>8}{'peak MiB':>10}"
              f"{'x input':>8}{'cmark s':>9}{'/cmark':>8}{'py-md s':>9}{'peak MiB':>10}"
              f"{'speed-up':>10}")
        for label, nbytes, ours, ours_rss, limit, peer, peer_rss in rows:
            line = (f"{label:<11}{nbytes:>11}{ours:>10.3f}{nbytes / 1e6 / ours:>8.1f}"
                    f"{ours_rss / 1024:>10.1f}{ours_rss * 1024 / nbytes:>8.1f}"
                    f"{limit:>9.3f}{ours / limit:>7.2f}x")
            if peer is None:
                line += f"{'(--full)':>9}{'':>10}{'':>10}"
            else:
                line += f"{peer:>9.3f}{peer_rss / 1024:>10.1f}{peer / ours:>9.1f}x"
            print(line)
        print(f"time per 30 KB page (whole process): vaskit {rows[0][2] * 1000:.1f} ms, "
              f"cmark-gfm {rows[0][4] * 1000:.1f} ms, Python-Markdown {rows[0][5] * 1000:.1f} ms")
        checks = [
            ("30 KB page / cmark-gfm", rows[0][2] / rows[0][4], 2.5),
            ("1 MB / cmark-gfm", rows[1][2] / rows[1][4], 2.0),
            ("10 MB / cmark-gfm", rows[2][2] / rows[2][4], 2.0),
            ("10 MB / 1 MB time", rows[2][2] / rows[1][2], LINEAR_LIMIT),
            ("40 MB / 10 MB time", rows[3][2] / rows[2][2], 4.4),
            ("10 MB peak / input", rows[2][3] * 1024 / rows[2][1], 8.0),
            ("40 MB peak / input", rows[3][3] * 1024 / rows[3][1], 8.0),
        ]
        failed = 0
        for what, value, limit in checks:
            verdict = "ok" if value <= limit else "OVER"
            failed += value > limit
            print(f"{what:<24}{value:>7.2f} (target {limit:g}): {verdict}")
        return 1 if failed else 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
