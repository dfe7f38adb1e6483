#!/usr/bin/env python3
"""Interrupts each tool at random moments and checks what the interrupt leaves behind.

For every run: a fresh working folder with realistic inputs, the tool started in a session of its
own with a TMPDIR of its own (and, as root, a private /tmp), a random delay within the tool's
normal run time, then SIGKILL or SIGTERM to the tool alone, or SIGINT to its process group as a
terminal sends it. Then:
  - no process of the run is alive after a short grace period (the tool's environment carries
    VASKIT_KILLLOOP_RUN=<id>; what inherits it, its sessions and their descendants are the run's
    processes, found in /proc whoever their parent is now), and no file changes after the tool
    has ended;
  - no temporary file is left: in the working folder every new file is an output of the tool and
    whole, no new folder is empty, TMPDIR and /tmp hold nothing new; after SIGKILL such leftovers
    count only when the next normal run of the tool does not remove them;
  - every input file is whole: unchanged, or, where the tool moves or rewrites it, its content
    still present (moved, renamed, backed up) or the rewritten file whole.
Exits 1 on any finding.

killloop.py --bin BUILD/bin --gens DIR [--runs 50] [--tools a,b] [--seed N] [--grace 2] [--keep]
"""
import argparse
import collections
import ctypes
import hashlib
import importlib.util
import json
import os
import random
import re
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
BENCH = os.path.dirname(HERE)
SIGNALS = [signal.SIGKILL, signal.SIGTERM, signal.SIGINT]
LIBC = ctypes.CDLL(None, use_errno=True)
# Names the tools and their helpers give temporaries in /tmp, watched when /tmp cannot be private.
TMP_NAMES = re.compile(r"vaskit|puppeteer|chromium|chrome|lu\w+\.tmp|\.postrel|\.part|OSL_PIPE")


def bench_module(tool):
    """The bench.py of another benchmark, for its input generators."""
    sys.dont_write_bytecode = True  # nothing written into the source tree
    path = os.path.join(BENCH, tool, "bench.py")
    spec = importlib.util.spec_from_file_location(tool + "_bench", path)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def write(path, data):
    os.makedirs(os.path.dirname(path) or ".", exist_ok=True)
    with open(path, "wb" if isinstance(data, bytes) else "w") as f:
        f.write(data)


# --- the tools: inputs, command line, outputs ----------------------------------------------------

AGENT = r"""#!/bin/sh
# A slow AI agent: thinks for 1.5 s, then writes <stem>_ai.md from --file in ten pieces, 0.15 s
# apart.
while [ $# -gt 0 ]; do [ "$1" = --file ] && file=$2; shift 2; done
sleep 1.5
out="${file%.md}_ai.md"
size=$(wc -c < "$file"); step=$((size / 10 + 1)); off=0
: > "$out"
while [ $off -lt "$size" ]; do
  tail -c +$((off + 1)) "$file" | head -c $step >> "$out"; off=$((off + step)); sleep 0.15
done
"""


def prep_prosett(w, a):
    b = bench_module("prosett")
    write(os.path.join(w, "notes.md"), b.notion_export(15_000_000, seed=1))
    write(os.path.join(w, "img", "pic one.png"), b.PIXEL_PNG)
    write(os.path.join(w, "config.yaml"), 'config:\n  input_path: "./"\n  output_path: "./out"\n'
          '  embed_images: true\n  watermark_enable: true\n  watermark_text: "CONFIDENTIAL"\n')


def prep_folvane(w, a):
    subprocess.run([os.path.join(a.gens, "bench_gen_receipts"), os.path.join(w, "receipts"), "200"],
                   check=True, stdout=subprocess.DEVNULL)
    write(os.path.join(w, "config.json"),
          '{"config": {"input_folder": "receipts", "output_folder": "report"}}\n')
    # The expense workbook the user keeps adding to: the one a first pass made.
    with tempfile.TemporaryDirectory(dir=a.root) as first:
        shutil.copytree(w, first, dirs_exist_ok=True)
        subprocess.run([os.path.join(a.bin, "vaskit-folvane"), "-c", "config.json"], cwd=first,
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        write(os.path.join(w, "report", "payList_tool.xlsm"),
              open(os.path.join(first, "report", "payList_tool.xlsm"), "rb").read())


def prep_postrel(w, a):
    write(os.path.join(w, "report.md"), bench_module("postrel").markdown_body(30 * 1024))
    chunk = random.Random(5).randbytes(1 << 20)
    for i in range(2):
        write(os.path.join(w, f"att{i}.bin"), chunk * 30)
    write(os.path.join(w, "agent.sh"), AGENT)
    os.chmod(os.path.join(w, "agent.sh"), 0o755)


def prep_shelvic(w, a):
    os.rmdir(w)
    bench_module("shelvic").make_folder(w, 300)
    rnd = random.Random(3)
    # The newest version of each document is large enough that packing takes a while.
    for f in range(300):
        with open(os.path.join(w, f"doc{f:05d}_v1.5.html"), "a") as out:
            out.write("".join(rnd.choices("abcdefghijklmnopqrstuvwxyz <>/", k=100_000)))


def prep_chartwyn(w, a):
    for i in range(1, 4):
        write(os.path.join(w, "in", f"diagram_{i}.mmd"),
              f"graph TD\n  A{i}[Start {i}] --> B{i}{{Check {i}}}\n  B{i} -->|yes| C{i}[Done]\n"
              f"  B{i} -->|no| D{i}[Retry] --> A{i}\n")
        write(os.path.join(w, "in", f"doc_{i}.md"),
              f"# Document {i}\n\n" + "Paragraph with `code` and *emphasis*.\n\n" * 50)
    write(os.path.join(w, "cfg.json"),
          '{"config": {"input_folder": "in", "output_folder": "out"}}\n')


def prep_slidra(w, a):
    subprocess.run([os.path.join(a.gens, "bench_make_deck"), os.path.join(w, "deck.pptx"), "6"],
                   check=True)
    write(os.path.join(w, "config.yaml"), 'config:\n  target_slides: "all"\n  scale_width: 2400\n')


def prep_procly(w, a):
    subprocess.run([os.path.join(a.gens, "bench_gen_orders"), os.path.join(w, "orders"), "30000",
                    "22000"], check=True)
    os.remove(os.path.join(w, "orders", "customer_data.csv"))  # the peer's copy
    write(os.path.join(w, "config.json"), json.dumps({"config": {
        "system_data_path": "orders/system_data.csv",
        "customer_data_path": "orders/customer_data.xlsx", "output_dir": "out"}}))


def prep_ledgrin(w, a):
    subprocess.run([os.path.join(a.gens, "bench_gen_books"), os.path.join(w, "books"), "500"],
                   check=True)
    write(os.path.join(w, "config.json"), json.dumps({
        "config": {"path": "books", "dry_run": False},
        "excel_in": {"name_cell": "D6", "amount_cell": "P56"}}))


# args; outputs (globs of files a run may leave); copies (outputs that are byte copies of an
# input); moved (inputs whose content may move elsewhere); rewritten (input -> "whole": any whole
# file, "same": the old text or the text a finished run writes); env; stdin.
TOOLS = {
    "prosett": dict(prep=prep_prosett, args=["-f", "notes.md", "-c", "config.yaml"],
                    outputs=["out/*.html"]),
    "folvane": dict(prep=prep_folvane, args=["-c", "config.json"],
                    outputs=["receipts/*.pdf", "report/taxi_receipt.pdf"],
                    copies=["receipts/*.pdf"], moved=["receipts/*.pdf"],
                    rewritten={"report/payList_tool.xlsm": "whole"}),
    "postrel": dict(prep=prep_postrel, outputs=["report_ai.md", "report.eml"],
                    args=["-f", "report.md", "-g", "empty", "-a", "att0.bin", "-a", "att1.bin"],
                    env={"VASKIT_AGENT": "{w}/agent.sh", "VASKIT_MAIL_OPENER": "none"},
                    stdin=b"2\n"),
    "shelvic": dict(prep=prep_shelvic, args=["-c", "config.yaml"],
                    outputs=["index.html", "package.zip", ".config.yaml.bak"],
                    copies=[".config.yaml.bak"], rewritten={"config.yaml": "same"}),
    "chartwyn": dict(prep=prep_chartwyn, args=["-c", "cfg.json"],
                     outputs=["out/*.svg", "out/*.html"]),
    "slidra": dict(prep=prep_slidra, args=["-c", "config.yaml"],
                   outputs=["img/*.gif", "img_preview.md"]),
    "procly": dict(prep=prep_procly, args=["-c", "config.json"], outputs=["out/result.xlsx"]),
    "ledgrin": dict(prep=prep_ledgrin, args=["-c", "config.json"],
                    outputs=["books/results/*.xlsx", "books/backup/*.xlsx"],
                    copies=["books/results/*.xlsx", "books/backup/*.xlsx"],
                    moved=["books/*.xlsx"]),
}


# --- looking at files ----------------------------------------------------------------------------

def match(rel, globs):
    # fnmatch's "*" crosses "/"; a pattern's folder must be the file's folder.
    return any(os.path.dirname(rel) == os.path.dirname(g) and
               re.fullmatch(re.escape(os.path.basename(g)).replace(r"\*", r"[^/]*"),
                            os.path.basename(rel)) for g in globs)


def digest(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        while block := f.read(1 << 20):
            h.update(block)
    return h.hexdigest()


def snapshot(folder):
    """Relative path -> sha256 for files, None for folders (symbolic links as files)."""
    seen = {}
    for top, dirs, files in os.walk(folder):
        rel = os.path.relpath(top, folder)
        for d in dirs:
            seen[os.path.normpath(os.path.join(rel, d))] = None
        for f in files:
            path = os.path.join(top, f)
            seen[os.path.normpath(os.path.join(rel, f))] = (
                digest(path) if os.path.isfile(path) and not os.path.islink(path) else "link")
    return seen


def whole(path):
    """False when the file is visibly cut short for its kind."""
    ext = os.path.splitext(path)[1].lower()
    try:
        with open(path, "rb") as f:
            head = f.read(65536)
            f.seek(max(0, os.path.getsize(path) - 4096))
            tail = f.read().rstrip()
        if ext == ".pdf":
            return b"%%EOF" in tail[-1024:]
        if ext in (".xlsx", ".xlsm", ".zip", ".pptx"):
            with zipfile.ZipFile(path) as z:
                return z.testzip() is None
        if ext == ".gif":
            return tail.endswith(b";")
        if ext in (".html", ".svg"):
            return tail.lower().endswith(b"</html>" if ext == ".html" else b"</svg>")
        if ext == ".eml":
            m = re.search(rb'boundary="?([^";\r\n]+)', head)
            return bool(m) and tail.endswith(b"--" + m.group(1) + b"--")
        return True
    except Exception:
        return False


def size_text(path):
    total = 0
    for top, _, files in os.walk(path) if os.path.isdir(path) else [("", [], [path])]:
        for f in files:
            try:
                total += os.lstat(os.path.join(top, f)).st_size
            except OSError:
                pass
    return f"{total / 1e6:.1f} MB" if total >= 100_000 else f"{total} bytes"


def written_later(w, after, ended):
    """Files changed after the tool had ended: some process of the run outlived it."""
    return [("written after the tool ended", rel) for rel, sha in after.items()
            if sha and os.lstat(os.path.join(w, rel)).st_mtime > ended + 0.01]


def leftovers(tool, before, after, w, tmpdir, private_tmp, tmp_before):
    """(kind, path) of what the run left that it should not have."""
    found = []
    for rel, sha in after.items():
        if rel in before and (before[rel] is None) == (sha is None):
            continue
        path = os.path.join(w, rel)
        if sha is None:
            if not os.listdir(path):
                found.append(("empty folder", rel + "/"))
        elif not match(rel, tool["outputs"]):
            found.append(("leftover", f"{rel} ({size_text(path)})"))
    for name in sorted(os.listdir(tmpdir)):
        found.append(("leftover in TMPDIR", f"{name} ({size_text(os.path.join(tmpdir, name))})"))
    if private_tmp:
        for name in sorted(os.listdir(private_tmp)):
            found.append(("leftover in /tmp, outside TMPDIR",
                          f"{name} ({size_text(os.path.join(private_tmp, name))})"))
    else:
        for name in sorted(set(os.listdir("/tmp")) - tmp_before):
            if TMP_NAMES.search(name):
                found.append(("leftover in /tmp, outside TMPDIR", "/tmp/" + name))
    return found


def damage(tool, before, after, w, finished):
    """(kind, path) of inputs not whole and outputs cut short."""
    found = []
    contents = {sha for sha in after.values() if sha}
    inputs = {sha for sha in before.values() if sha}
    for rel, sha in before.items():
        if sha is None:
            continue
        now = after.get(rel)
        mode = tool.get("rewritten", {}).get(rel)
        if match(rel, tool.get("moved", [])):
            if sha not in contents:
                found.append(("input lost", rel))
        elif now == sha:
            continue
        elif now is None:
            found.append(("input missing", rel))
        elif mode == "whole" and whole(os.path.join(w, rel)):
            continue
        elif mode == "same" and now in finished.get(rel, ()) and whole(os.path.join(w, rel)):
            continue
        else:
            found.append(("input changed" if mode is None else "input damaged", rel))
    for rel, sha in after.items():
        if not sha or before.get(rel) == sha or not match(rel, tool["outputs"]):
            continue
        if match(rel, tool.get("copies", [])):
            if sha not in inputs:
                found.append(("partial output (no whole copy of an input)", rel))
        elif not whole(os.path.join(w, rel)):
            found.append(("partial output", rel))
    return found


# --- processes -----------------------------------------------------------------------------------

def marked(run_id):
    """Pids of the live processes of a run: those whose environment carries its mark, the
    members of their sessions and their descendants (a browser starts its helpers with an
    environment of their own)."""
    key = b"\0VASKIT_KILLLOOP_RUN=" + run_id.encode() + b"\0"
    procs, runs = {}, set()
    for pid in map(int, filter(str.isdigit, os.listdir("/proc"))):
        try:
            with open(f"/proc/{pid}/stat") as f:
                state, ppid, _, sid = f.read().rsplit(")", 1)[1].split()[:4]
            with open(f"/proc/{pid}/environ", "rb") as f:
                mark = key in b"\0" + f.read()
        except (OSError, ValueError):
            continue
        if state != "Z":
            procs[pid] = (int(ppid), int(sid))
            if mark:
                runs.add(pid)
    sessions = {procs[pid][1] for pid in runs}
    runs |= {pid for pid, (_, sid) in procs.items() if sid in sessions}
    while more := {pid for pid, (ppid, _) in procs.items() if ppid in runs} - runs:
        runs |= more
    return sorted(runs)


def describe(pid):
    try:
        with open(f"/proc/{pid}/cmdline", "rb") as f:
            cmd = f.read().replace(b"\0", b" ").decode(errors="replace").strip()
        with open(f"/proc/{pid}/stat") as f:
            ppid = f.read().rsplit(")", 1)[1].split()[1]
        return f"pid {pid} (parent {ppid}): {cmd[:80]}"
    except OSError:
        return f"pid {pid}"


def survivors(run_id, grace):
    """Processes of the run still alive `grace` seconds after the tool ended, which are killed
    then, and the seconds the others took to end (0 when some are left)."""
    began = time.monotonic()
    while (pids := marked(run_id)) and time.monotonic() < began + grace:
        time.sleep(0.05)
    took = 0.0 if pids else time.monotonic() - began
    found = []
    if pids:
        names = collections.Counter()
        for pid in pids:
            try:
                names[open(f"/proc/{pid}/comm").read().strip()] += 1
            except OSError:
                pass
        found.append(("processes alive", ", ".join(f"{k} x{v}" for k, v in names.items())
                      + f" — {describe(pids[0])}"))
    for pid in pids:
        try:
            os.kill(pid, signal.SIGKILL)
        except OSError:
            pass
    end = time.monotonic() + 5
    while marked(run_id) and time.monotonic() < end:
        time.sleep(0.1)
    return found, took


def isolate(private_tmp):
    """For the child: a session of its own and, when private_tmp is given, its own /tmp."""
    def pre():
        os.setsid()
        if private_tmp and (LIBC.unshare(0x00020000) != 0 or  # CLONE_NEWNS
                            LIBC.mount(b"none", b"/", None, 0x4000 | 0x40000, None) != 0 or
                            LIBC.mount(private_tmp.encode(), b"/tmp", None, 0x1000, None) != 0):
            os._exit(125)
    return pre


def start(a, name, tool, rdir, run_id, log):
    w = os.path.join(rdir, "w")
    env = {k: v for k, v in os.environ.items() if k not in ("DAVUZ_DEBUG", "VASKIT_DRAFTS_DIR")}
    env.update({k: v.replace("{w}", w) for k, v in tool.get("env", {}).items()})
    env.update(TMPDIR=os.path.join(rdir, "tmp"), VASKIT_KILLLOOP_RUN=run_id)
    with open(os.path.join(rdir, log + ".in"), "wb") as f:
        f.write(tool.get("stdin", b""))
    with open(os.path.join(rdir, log + ".in"), "rb") as stdin, \
            open(os.path.join(rdir, log + ".out"), "wb") as out:
        return subprocess.Popen([os.path.join(a.bin, "vaskit-" + name)] + tool["args"], cwd=w,
                                env=env, stdin=stdin, stdout=out, stderr=subprocess.STDOUT,
                                preexec_fn=isolate(a.private and os.path.join(rdir, "slash-tmp")))


def wait_end(proc, seconds):
    try:
        return proc.wait(timeout=seconds)
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, signal.SIGKILL)
        proc.wait()
        return None


def log_tail(rdir, log):
    with open(os.path.join(rdir, log + ".out"), "rb") as f:
        lines = f.read().decode(errors="replace").strip().splitlines()
    return " | ".join(lines[-3:])


# --- one run -------------------------------------------------------------------------------------

def one_run(a, name, tool, n, sig, delay, finished, learn=False):
    """Returns (signal sent or None, seconds the tool ran, findings, seconds its other processes
    took to end). A run that `learn`s is a normal one whose rewritten inputs show what a finished
    run writes."""
    rdir = os.path.join(a.root, f"{name}-{n:03d}")
    w = os.path.join(rdir, "w")
    shutil.copytree(tool["template"], w, symlinks=True)
    for sub in ("tmp", "slash-tmp"):
        os.makedirs(os.path.join(rdir, sub))
    os.chmod(os.path.join(rdir, "slash-tmp"), 0o1777)
    before = tool["before"]
    tmp_before = set(os.listdir("/tmp"))
    run_id = f"{a.tag}-{name}-{n}"
    began = time.monotonic()
    proc = start(a, name, tool, rdir, run_id, "run")
    sent = None
    try:
        proc.wait(timeout=delay)
    except subprocess.TimeoutExpired:
        sent = sig
        if sig == signal.SIGINT:
            os.killpg(proc.pid, sig)  # as Ctrl-C in a terminal
        else:
            os.kill(proc.pid, sig)
    findings = []
    status = wait_end(proc, 300 if sent is None else 30)
    ran = time.monotonic() - began
    ended = time.time()
    if status is None:
        findings.append(("tool still running", f"{30 if sent else 300} s after "
                         + (signal.Signals(sent).name if sent else "its start")))
    elif sent is None and status != 0:
        findings.append(("normal run failed", f"status {status}: {log_tail(rdir, 'run')}"))
    alive, took = survivors(run_id, a.grace)
    findings += alive
    private = a.private and os.path.join(rdir, "slash-tmp")
    after = snapshot(w)
    if learn and status == 0:
        for rel in tool.get("rewritten", {}):
            finished.setdefault(rel, set()).add(after.get(rel))
    findings += written_later(w, after, ended)
    findings += damage(tool, before, after, w, finished)
    left = leftovers(tool, before, after, w, os.path.join(rdir, "tmp"), private, tmp_before)
    if sent == signal.SIGKILL:
        # What a kill -9 leaves is the next run's to remove.
        proc = start(a, name, tool, rdir, run_id + "-next", "next")
        status = wait_end(proc, max(300, 10 * tool["seconds"]))
        if status != 0:
            findings.append(("next run after kill -9 failed",
                             f"status {status}: {log_tail(rdir, 'next')}"))
        findings += survivors(run_id + "-next", a.grace)[0]
        after = snapshot(w)
        findings += damage(tool, before, after, w, finished)
        kept = leftovers(tool, before, after, w, os.path.join(rdir, "tmp"), private, tmp_before)
        bare = lambda what: re.sub(r" \(.*\)$", "", what)
        earlier = {bare(what) for _, what in left}
        left = [(kind + (", not removed by the next run" if bare(what) in earlier
                         else ", by the next run"), what) for kind, what in kept]
    findings = list(dict.fromkeys(findings + left))  # checked twice after a kill -9
    if not (a.keep and findings):
        shutil.rmtree(rdir, ignore_errors=True)
    return sent, ran, findings, took


def shape(text):
    """A finding with its numbers and random name parts blurred, to group repeats."""
    text = re.sub(r" (\([^()]*\)|— .*)$", "", text)
    text = re.sub(r"(?<=[.\-_])[A-Za-z0-9]{6}\b", "XXXXXX", text)
    return re.sub(r"[A-Za-z0-9]*\d[A-Za-z0-9]*", "N", text)


def loop(a, name, rng):
    tool = TOOLS[name]
    template = os.path.join(a.root, name + "-template")
    os.makedirs(template)
    tool["prep"](template, a)
    tool["template"] = template
    tool["before"] = snapshot(template)
    finished = {}
    # The normal run time, over two runs that are checked like the others.
    runs, slowest = [], 0.0
    for i in (1, 2):
        sent, ran, findings, took = one_run(a, name, tool, i - 3, None, 1e9, finished, True)
        runs.append((f"normal run {i}", "normal run", ran, findings))
        slowest = max(slowest, took)
    tool["seconds"] = statistics.median(r[2] for r in runs)
    for n in range(1, a.runs + 1):
        delay = rng.uniform(0, tool["seconds"])
        sent, _, findings, took = one_run(a, name, tool, n, rng.choice(SIGNALS), delay, finished)
        slowest = max(slowest, took)
        how = signal.Signals(sent).name if sent else "ended before the signal"
        runs.append((f"run {n}, {how} at {delay:.2f} s", how, delay, findings))
        print(f"  {name} {runs[-1][0]}: {len(findings)} finding(s)"
              + "".join(f"\n      {k}: {p}" for k, p in findings), flush=True)
    groups = collections.OrderedDict()
    for label, how, _, findings in runs:
        for kind, what in findings:
            g = groups.setdefault((kind, shape(what)), [collections.Counter(), f"{label}: {what}"])
            g[0][how] += 1
    kills = collections.Counter(how for _, how, _, _ in runs[2:])
    print(f"{name}: {a.runs} runs, a normal run takes {tool['seconds']:.1f} s ("
          + ", ".join(f"{k} {v}" for k, v in sorted(kills.items()))
          + f"), {sum(sum(g[0].values()) for g in groups.values())} finding(s); its other "
          f"processes ended at most {slowest:.1f} s after it")
    for (kind, _), (by, example) in groups.items():
        signals = ", ".join(f"{k} {v}" for k, v in sorted(by.items()))
        print(f"  {sum(by.values())}x {kind} [{signals}]\n      e.g. {example}")
    return bool(groups)


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--bin", required=True, type=os.path.abspath, help="folder of vaskit-<tool>")
    ap.add_argument("--gens", required=True, type=os.path.abspath, help="folder of the generators")
    ap.add_argument("--runs", type=int, default=50, help="interrupted runs per tool")
    ap.add_argument("--tools", default=",".join(TOOLS), help="comma-separated tool names")
    ap.add_argument("--seed", type=int, default=random.randrange(1 << 32))
    ap.add_argument("--keep", action="store_true", help="keep the folders of runs with findings")
    ap.add_argument("--grace", type=float, default=2.0,
                    help="seconds the other processes of a run get to end after the tool")
    a = ap.parse_args()
    names = a.tools.split(",")
    if unknown := [t for t in names if t not in TOOLS]:
        sys.exit(f"killloop: unknown tool(s): {', '.join(unknown)}")
    # Not under /tmp, which each run replaces with a private one.
    a.root = tempfile.mkdtemp(prefix="vaskit-killloop.", dir="/var/tmp")
    a.tag = os.path.basename(a.root)
    probe = os.path.join(a.root, "probe")
    os.makedirs(probe)
    a.private = subprocess.run(["true"], preexec_fn=isolate(probe)).returncode == 0
    print(f"killloop: seed {a.seed}, {a.runs} runs per tool, work in {a.root}"
          + ("" if a.private else "; /tmp is shared (not root): only known names are watched"),
          flush=True)
    rng = random.Random(a.seed)
    failed = False
    try:
        for name in names:
            failed |= loop(a, name, rng)
    finally:
        if not a.keep:
            shutil.rmtree(a.root, ignore_errors=True)
    print("killloop: " + ("FINDINGS" if failed else "no findings"))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
