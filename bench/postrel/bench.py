"""postrel benchmark: see bench/postrel/run."""
import argparse
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

PEER = r'''
import sys
from email.message import EmailMessage
src, out, *atts = sys.argv[1:]
body = open(src, encoding='utf-8').read()
m = EmailMessage()
m['X-Unsent'] = '1'
m['To'] = 'a@example.com'
m['Subject'] = 'bench'
m.set_content(body)
m.add_alternative('<html><body><pre>' + body + '</pre></body></html>', subtype='html')
for a in atts:
    m.add_attachment(open(a, 'rb').read(), maintype='application', subtype='octet-stream',
                     filename=a.rsplit('/', 1)[-1])
open(out, 'wb').write(bytes(m))
'''


def markdown_body(size):
    rnd = random.Random(7)
    parts = ['subject: 週報 benchmark\n\n']
    n = 0
    total = 0
    while total < size:
        n += 1
        block = (f'## 第 {n} 節\n本週完成項目 {n}，狀態良好。\n第二行說明 **重點** 與 `code`。\n\n'
                 f'| 項目 | 數量 |\n|---|---|\n| a{n} | {rnd.randint(1, 999)} |\n\n'
                 f'```\nvalue = {n}\n```\n\n')
        parts.append(block)
        total += len(block.encode())
    return ''.join(parts)


def measured(argv, cwd, env):
    """Runs argv; returns (seconds, peak resident MB of that one child)."""
    with tempfile.TemporaryFile() as err:
        start = time.perf_counter()
        proc = subprocess.Popen(argv, cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=err)
        _, status, usage = os.wait4(proc.pid, 0)
        elapsed = time.perf_counter() - start
        proc.returncode = os.waitstatus_to_exitcode(status)
        if proc.returncode != 0:
            err.seek(0)
            sys.exit(f'bench: {argv[0]} failed ({proc.returncode}): {err.read().decode()[-500:]}')
    return elapsed, usage.ru_maxrss / 1024.0


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--tool', required=True)
    ap.add_argument('--attach-mb', type=int, default=200)
    args = ap.parse_args()
    args.tool = os.path.abspath(args.tool)
    env = dict(os.environ, VASKIT_MAIL_OPENER='none')
    env.pop('VASKIT_DRAFTS_DIR', None)
    work = tempfile.mkdtemp(prefix='postrel-bench.')
    try:
        # Small: 30 KB body, no attachments, whole process, best of 20 and median.
        with open(os.path.join(work, 'small.md'), 'w', encoding='utf-8') as f:
            f.write(markdown_body(30 * 1024))
        times = []
        for _ in range(20):
            t, _ = measured([args.tool, '-f', 'small.md', '--no-ai', '-g', 'empty'], work, env)
            times.append(t)
        small_ms = statistics.median(times) * 1000

        # Large: 1 MB body, attachments of random bytes in four files.
        with open(os.path.join(work, 'big.md'), 'w', encoding='utf-8') as f:
            f.write(markdown_body(1024 * 1024))
        atts = []
        chunk = os.urandom(1 << 20)
        per = args.attach_mb // 4
        for i in range(4):
            name = f'att{i}.bin'
            with open(os.path.join(work, name), 'wb') as f:
                for _ in range(per):
                    f.write(chunk)
            atts.append(name)
        argv = [args.tool, '-f', 'big.md', '--no-ai', '-g', 'empty']
        for a in atts:
            argv += ['-a', a]
        tool_s, tool_mb = measured(argv, work, env)
        draft = os.path.join(work, 'big.eml')
        draft_mb = os.path.getsize(draft) / (1 << 20)

        peer_s, peer_mb = measured([sys.executable, '-c', PEER, 'big.md', 'peer.eml'] + atts,
                                   work, env)
        input_mb = 1 + per * 4
        print(f'postrel: 30 KB body, no attachments: {small_ms:.1f} ms per run (median of 20; '
              f'limit 20 ms) {"OK" if small_ms < 20 else "OVER"}')
        print(f'postrel: 1 MB body + {per * 4} MB attachments -> {draft_mb:.0f} MB draft in '
              f'{tool_s:.2f} s ({input_mb / tool_s:.0f} MB/s), peak memory {tool_mb:.1f} MB '
              f'(limit 100 MB) {"OK" if tool_mb < 100 else "OVER"}')
        print(f'peer (Python email package, same message): {peer_s:.2f} s, peak memory '
              f'{peer_mb:.0f} MB')
        print(f'ratio: postrel is {peer_s / tool_s:.1f}x as fast, with '
              f'{tool_mb / peer_mb:.2f}x the peak memory')
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == '__main__':
    main()
