"""chartwyn benchmark: see bench/chartwyn/run."""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time

# Twenty diagrams, two of each kind.
DIAGRAMS = {
    'flow_build': '''flowchart TD
  A[Start] --> B{Is it working?}
  B -->|Yes| C[Ship it]
  B -->|No| D[Debug]
  D --> B
''',
    'flow_pipeline': '''graph LR
  subgraph Build
    s1[Checkout] --> s2[Compile] --> s3[Test]
  end
  subgraph Deploy
    d1[Stage] --> d2[Prod]
  end
  s3 --> d1
''',
    'seq_login': '''sequenceDiagram
  participant U as User
  participant S as Server
  U->>S: Login request
  S-->>U: Token
  U->>S: Fetch data
  S-->>U: Data
''',
    'seq_health': '''sequenceDiagram
  autonumber
  Alice->>Bob: Hello Bob, how are you?
  loop Healthcheck
    Bob->>Bob: Fight against hypochondria
  end
  Note right of Bob: Rational thoughts!
  Bob-->>Alice: Great!
  alt is sick
    Bob->>Alice: Not so good
  else is well
    Bob->>Alice: Feeling fresh
  end
''',
    'class_animals': '''classDiagram
  Animal <|-- Duck
  Animal <|-- Fish
  Animal : +int age
  Animal : +String gender
  Animal: +isMammal()
  class Duck{
    +String beakColor
    +swim()
    +quack()
  }
  class Fish{
    -int sizeInFeet
    -canEat()
  }
''',
    'class_orders': '''classDiagram
  class Order {
    +id: int
    +total() float
  }
  class Line {
    +qty: int
  }
  Order "1" *-- "many" Line : contains
  Order ..> Customer : uses
''',
    'state_motion': '''stateDiagram-v2
  [*] --> Still
  Still --> [*]
  Still --> Moving
  Moving --> Still
  Moving --> Crash
  Crash --> [*]
''',
    'state_worker': '''stateDiagram-v2
  [*] --> Active
  state Active {
    [*] --> Idle
    Idle --> Busy : job
    Busy --> Idle : done
  }
  Active --> Off : shutdown
  Off --> [*]
''',
    'gantt_basic': '''gantt
  title A Gantt Diagram
  dateFormat YYYY-MM-DD
  section Section
    A task          :a1, 2024-01-01, 30d
    Another task    :after a1, 20d
  section Another
    Task in sec     :2024-01-12, 12d
    another task    :24d
''',
    'gantt_release': '''gantt
  title Release plan
  dateFormat YYYY-MM-DD
  excludes weekends
  section Design
    Spec      :done, des1, 2024-03-01, 5d
    Review    :active, des2, after des1, 3d
  section Build
    Code      :crit, b1, after des2, 10d
    Test      :b2, after b1, 4d
''',
    'pie_pets': '''pie title Pets adopted by volunteers
  "Dogs" : 386
  "Cats" : 85
  "Rats" : 15
''',
    'pie_minerals': '''pie showData
  title Key elements in Product X
  "Calcium" : 42.96
  "Potassium" : 50.05
  "Magnesium" : 10.01
  "Iron" :  5
''',
    'git_develop': '''gitGraph
  commit
  commit
  branch develop
  checkout develop
  commit
  commit
  checkout main
  merge develop
  commit
''',
    'git_hotfix': '''gitGraph
  commit id: "init"
  branch feature
  checkout feature
  commit id: "f1"
  checkout main
  commit id: "m1"
  branch hotfix
  commit id: "h1"
  checkout main
  merge hotfix
  merge feature
''',
    'mind_mindmaps': '''mindmap
  root((mindmap))
    Origins
      Long history
      Popularisation
    Research
      On effectiveness
      On Automatic creation
    Tools
      Pen and paper
      Mermaid
''',
    'mind_project': '''mindmap
  Project
    Goals
      Fast
      Small
    Risks
      Time
      Cost
''',
    'time_social': '''timeline
  title History of Social Media Platform
  2002 : LinkedIn
  2004 : Facebook
       : Google
  2005 : YouTube
  2006 : Twitter
''',
    'time_releases': '''timeline
  title Release history
  section 2023
    Q1 : Alpha
    Q3 : Beta
  section 2024
    Q1 : 1.0
    Q4 : 2.0
''',
    'er_orders': '''erDiagram
  CUSTOMER ||--o{ ORDER : places
  ORDER ||--|{ LINE-ITEM : contains
  CUSTOMER }|..|{ DELIVERY-ADDRESS : uses
''',
    'er_cars': '''erDiagram
  CAR ||--o{ NAMED-DRIVER : allows
  CAR {
    string registrationNumber PK
    string make
    string model
  }
  PERSON ||--o{ NAMED-DRIVER : is
  PERSON {
    string firstName
    string lastName
    int age
  }
''',
}

PAGE = os.sysconf('SC_PAGE_SIZE')


def tree_memory(root):
    """(proportional set size, resident set size) summed over `root` and its descendants, in
    bytes. PSS counts each shared page once across the processes; the RSS sum counts the shared
    libraries of every browser process again and is an upper bound."""
    children = {}
    for name in os.listdir('/proc'):
        if not name.isdigit():
            continue
        try:
            with open(f'/proc/{name}/stat') as f:
                stat = f.read()
        except OSError:
            continue
        ppid = int(stat[stat.rindex(')') + 2:].split()[1])
        children.setdefault(ppid, []).append(int(name))
    pss = rss = 0
    stack = [root]
    while stack:
        pid = stack.pop()
        stack.extend(children.get(pid, []))
        try:
            with open(f'/proc/{pid}/smaps_rollup') as f:
                text = f.read()
            pss += int(re.search(r'^Pss:\s+(\d+)', text, re.M).group(1)) * 1024
            rss += int(re.search(r'^Rss:\s+(\d+)', text, re.M).group(1)) * 1024
        except (OSError, AttributeError):
            continue
    return pss, rss


def measured(argv, cwd, env):
    """Runs argv; returns (seconds, peak PSS, peak RSS sum) of it and everything it starts,
    sampled every 50 ms."""
    peak = [0, 0]
    start = time.perf_counter()
    proc = subprocess.Popen(argv, cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    err = []
    reader = threading.Thread(target=lambda: err.append(proc.stderr.read()))
    reader.start()
    while proc.poll() is None:
        pss, rss = tree_memory(proc.pid)
        peak[0] = max(peak[0], pss)
        peak[1] = max(peak[1], rss)
        time.sleep(0.05)
    elapsed = time.perf_counter() - start
    reader.join()
    return elapsed, peak[0], peak[1], proc.returncode, b''.join(err).decode(errors='replace')


COMMIT_ID = re.compile(r'\b\d+-[0-9a-f]{7}\b')
NUMBER = re.compile(r'-?\d+(?:\.\d+)?(?:e-?\d+)?')
LEVELS = ('identical', 'ids', 'shape', 'different')


def normalise_ids(svg):
    """The SVG with its generated ids normalised: gitGraph's random commit ids, and every
    element id renamed by its first appearance (Mermaid numbers some ids with counters that go
    on across the diagrams drawn in one page: a sequence diagram's "actor3"), wherever it is
    named."""
    svg = COMMIT_ID.sub('COMMIT', svg)
    names = {}
    for i in re.findall(r'\bid="([^"]+)"', svg):
        names.setdefault(i, f'ID{len(names)}')
    if not names:
        return svg
    token = re.compile(r'(?<![\w-])(' + '|'.join(
        re.escape(k) for k in sorted(names, key=len, reverse=True)) + r')(?![\w-])')
    return token.sub(lambda m: names[m.group(1)], svg)


def sameness(a, b):
    """How alike two SVG files are: 'identical' bytes; 'ids' once generated ids are normalised;
    'shape' once also every number is masked (the hand-drawn curves of class and ER boxes take
    random control points, and a random commit id's width moves its label); 'different'
    otherwise."""
    if a == b:
        return 'identical'
    a, b = normalise_ids(a), normalise_ids(b)
    if a == b:
        return 'ids'
    if NUMBER.sub('#', a) == NUMBER.sub('#', b):
        return 'shape'
    return 'different'


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--tool', required=True)
    args = ap.parse_args()
    tool = os.path.abspath(args.tool)
    env = dict(os.environ)
    work = tempfile.mkdtemp(prefix='chartwyn-bench.')
    try:
        os.makedirs(os.path.join(work, 'in'))
        for name, text in DIAGRAMS.items():
            with open(os.path.join(work, 'in', name + '.mmd'), 'w', encoding='utf-8') as f:
                f.write(text)
        names = [n[:-4] for n in os.listdir(os.path.join(work, 'in'))]
        os.makedirs(os.path.join(work, 'old'))
        with open(os.path.join(work, 'cfg.json'), 'w') as f:
            f.write('{"config": {"input_folder": "in", "output_folder": "new"}}\n')

        # Today's way: one renderer run per diagram, one after the other, as the site pass ran
        # them (same arguments, listing order).
        loop = 'for n in "$@"; do mmdc -i "in/$n.mmd" -o "old/$n.svg" || exit 1; done'
        old_s, old_pss, old_rss, rc, err = measured(['sh', '-c', loop, 'sh'] + names, work, env)
        if rc != 0:
            sys.exit(f'bench: the renderer failed: {err[-800:]}')
        new_s, new_pss, new_rss, rc, err = measured([tool, '-c', 'cfg.json'], work, env)
        if rc != 0 or err.count('Failed') or len(os.listdir(os.path.join(work, 'new'))) < 41:
            sys.exit(f'bench: chartwyn failed ({rc}): {err[-800:]}')

        # The same diagrams as today's? Each diagram is drawn once more today's way: where today's
        # way differs from itself, the renderer draws at random, and chartwyn's diagram may differ
        # from today's as much as that; otherwise only in its generated ids.
        levels = {}
        worse = []
        for n in sorted(names):
            old = open(os.path.join(work, 'old', n + '.svg'), encoding='utf-8').read()
            new = open(os.path.join(work, 'new', n + '.svg'), encoding='utf-8').read()
            level = sameness(old, new)
            levels.setdefault(level, []).append(n)
            if level != 'identical':
                again = os.path.join(work, 'again.svg')
                subprocess.run(['mmdc', '-i', f'in/{n}.mmd', '-o', again], cwd=work,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
                itself = sameness(old, open(again, encoding='utf-8').read())
                allowed = max(LEVELS.index('ids'), LEVELS.index(itself))
                if LEVELS.index(level) > allowed:
                    worse.append(n)
                elif itself != 'identical':
                    levels.setdefault(f"{level}, as today's way differs from itself",
                                      []).append(n)

        mb = 1 << 20
        n = len(names)
        print(f'chartwyn bench: {n} diagrams (flowchart, sequence, class, state, gantt, pie, '
              f'git graph, mindmap, timeline, ER; two of each), {os.cpu_count()} processors')
        print(f"today's way, one renderer per diagram in turn: {old_s:6.2f} s "
              f'({old_s / n * 1000:.0f} ms per diagram), peak memory of all its processes '
              f'{old_pss / mb:.0f} MB PSS ({old_rss / mb:.0f} MB as a sum of RSS)')
        print(f'chartwyn now:                                  {new_s:6.2f} s '
              f'({new_s / n * 1000:.0f} ms per diagram), peak memory of all its processes '
              f'{new_pss / mb:.0f} MB PSS ({new_rss / mb:.0f} MB as a sum of RSS)')
        ratio = old_s / new_s
        limit = 1536 * mb
        print(f'ratio: {ratio:.1f}x as fast (target 4x: {"met" if ratio >= 4 else "NOT met"}); '
              f'peak memory {new_pss / mb:.0f} MB PSS, {new_rss / mb:.0f} MB as a sum of RSS '
              f'(limit 1536 MB: {"met" if new_pss < limit and new_rss < limit else "NOT met"})')
        for level in LEVELS:
            if level in levels:
                print(f'SVGs {level}: {len(levels[level])} ({", ".join(levels[level])})')
        for level, which in levels.items():
            if level not in LEVELS:
                print(f'  of these {level}: {", ".join(which)}')
        if worse:
            sys.exit(f"bench: these diagrams differ from today's: {', '.join(worse)}")
        print("the same diagrams as today's: yes")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == '__main__':
    main()
