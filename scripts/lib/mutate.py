"""The mutation sampler behind scripts/mutate.

It copies the tree into build-mutate/src (the working tree itself is never
changed), builds it in build-mutate/build (kept between runs, so a run
rebuilds only what changed), then for each sampled mutant writes the
mutated file into the copy, rebuilds incrementally, runs the unit tests
and, when they pass, the end-to-end tests in parallel, each under a
time-out. A mutant that does not build, or that leaves every binary as it
was (an equivalent mutant), is not counted and the next candidate takes its
place. The copy is restored after each mutant and on Ctrl-C, and brought
back in line with the working tree at every start, so even a run killed
outright leaves nothing behind that matters.
"""

import argparse
import fcntl
import hashlib
import json
import os
import re
import signal
import subprocess
import sys
import time

FOLDERS = ("app", "eventlog", "paging", "runner", "platform", "winformat",
           "tools")
BINARIES = ("sentory_tests", "sentory_e2e_tests", "sentory",
            "sentory-eventlog", "tap-terminal")

# ---------------------------------------------------------------- sampling


class Rng:
    """splitmix64: the same seed gives the same draws on every Python."""

    def __init__(self, seed):
        self.state = seed & 0xFFFFFFFFFFFFFFFF

    def next(self):
        self.state = (self.state + 0x9E3779B97F4A7C15) & 0xFFFFFFFFFFFFFFFF
        z = self.state
        z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & 0xFFFFFFFFFFFFFFFF
        z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & 0xFFFFFFFFFFFFFFFF
        return z ^ (z >> 31)

    def shuffle(self, items):
        for i in range(len(items) - 1, 0, -1):
            j = self.next() % (i + 1)
            items[i], items[j] = items[j], items[i]


PUNCTUATORS = sorted(
    ("<<=", ">>=", "->*", "...", "::", "->", "++", "--", "<<", ">>", "<=",
     ">=", "==", "!=", "&&", "||", "+=", "-=", "*=", "/=", "%=", "&=", "|=",
     "^=", ".*"),
    key=len, reverse=True)


def tokens(text):
    """(kind, text, start, end) for each token outside comments, string and
    character literals and preprocessor lines; kind is id, num or op."""
    out = []
    i, n = 0, len(text)
    line_start = True
    while i < n:
        c = text[i]
        if c == "\n":
            line_start = True
            i += 1
            continue
        if c in " \t\r\f\v":
            i += 1
            continue
        if c == "#" and line_start:
            while i < n and text[i] != "\n":
                i += 2 if text[i] == "\\" else 1
            continue
        line_start = False
        if text.startswith("//", i):
            i = text.find("\n", i)
            i = n if i < 0 else i
            continue
        if text.startswith("/*", i):
            i = text.find("*/", i + 2)
            i = n if i < 0 else i + 2
            continue
        if c.isalpha() or c == "_":
            j = i
            while j < n and (text[j].isalnum() or text[j] == "_"):
                j += 1
            word = text[i:j]
            if j < n and text[j] == '"' and word in ("R", "u8R", "uR", "UR",
                                                     "LR"):
                close = ")" + text[j + 1:text.index("(", j)] + '"'
                i = text.index(close, j) + len(close)
                continue
            if j < n and text[j] in "'\"" and word in ("u8", "u", "U", "L"):
                i = j
                continue
            out.append(("id", word, i, j))
            i = j
            continue
        if c.isdigit() or (c == "." and i + 1 < n and text[i + 1].isdigit()):
            j = i + 1
            while j < n and (text[j].isalnum() or text[j] in "_.'" or
                             (text[j] in "+-" and text[j - 1] in "eEpP")):
                j += 1
            out.append(("num", text[i:j], i, j))
            i = j
            continue
        if c in "'\"":
            j = i + 1
            while j < n and text[j] != c:
                j += 2 if text[j] == "\\" else 1
            i = j + 1
            continue
        for p in PUNCTUATORS:
            if text.startswith(p, i):
                out.append(("op", p, i, i + len(p)))
                i += len(p)
                break
        else:
            out.append(("op", c, i, i + 1))
            i += 1
    return out


FLIP = {"==": "!=", "!=": "==", "<": ">=", ">=": "<", ">": "<=", "<=": ">",
        "&&": "||", "||": "&&"}
BOUNDARY = {"<": "<=", "<=": "<", ">": ">=", ">=": ">"}
DECLARATION_WORDS = {
    "if", "for", "while", "do", "switch", "case", "default", "else", "goto",
    "typedef", "using", "namespace", "template", "static", "const",
    "constexpr", "auto", "int", "char", "bool", "unsigned", "void", "struct",
    "class", "enum", "long", "short", "signed", "double", "float", "extern",
    "friend", "public", "private", "protected", "virtual", "inline",
    "explicit", "operator", "new", "delete", "static_assert", "try", "catch",
    "throw", "volatile", "mutable", "typename", "union", "return"}
ASSIGNING = {"(", ".", "->", "[", "=", "+=", "-=", "*=", "/=", "%=", "&=",
             "|=", "^=", "<<=", ">>=", "++", "--", "<<"}


def integer_value(literal):
    """(value, base, digits prefix, suffix) of an integer literal, or None."""
    m = re.fullmatch(r"(0[xX])([0-9a-fA-F']+)([uUlLzZ]*)", literal)
    if m:
        return int(m.group(2).replace("'", ""), 16), 16, m.group(1), m.group(3)
    m = re.fullmatch(r"([0-9']+)([uUlLzZ]*)", literal)
    if not m:
        return None
    digits = m.group(1).replace("'", "")
    if len(digits) > 1 and digits.startswith("0"):
        return int(digits, 8), 8, "0", m.group(2)
    return int(digits), 10, "", m.group(2)


def spell(value, base, prefix, suffix, upper):
    if base == 16:
        body = format(value, "X" if upper else "x")
    elif base == 8:
        body = format(value, "o")
    else:
        body = str(value)
    return prefix + body + suffix


def candidates(path, text):
    """Every single-token mutation of one file:
    (path, start, end, replacement, line, description, column)."""
    toks = tokens(text)
    found = []

    def add(start, end, replacement, what):
        found.append((path, start, end, replacement,
                      text.count("\n", 0, start) + 1, what,
                      start - text.rfind("\n", 0, start)))

    for k, (kind, word, start, end) in enumerate(toks):
        spaced = (start > 0 and text[start - 1] == " " and end < len(text) and
                  text[end] in " \n")
        if kind == "op" and word in FLIP and spaced:
            add(start, end, FLIP[word], word + " -> " + FLIP[word])
            if word in BOUNDARY:
                add(start, end, BOUNDARY[word], word + " -> " + BOUNDARY[word])
        elif kind == "id" and word in ("true", "false"):
            other = "false" if word == "true" else "true"
            add(start, end, other, word + " -> " + other)
        elif kind == "num":
            parsed = integer_value(word)
            if parsed is None:
                continue
            value, base, prefix, suffix = parsed
            upper = any(ch in "ABCDEF" for ch in word)
            returned = k > 0 and toks[k - 1][1] == "return"
            for changed in (value + 1, value - 1):
                if changed < 0:
                    continue
                new = spell(changed, base, prefix, suffix, upper)
                if returned and value in (0, 1) and changed in (0, 1):
                    add(start, end, new, "return %d -> return %d" %
                        (value, changed))
                else:
                    add(start, end, new, "%s -> %s" % (word, new))
    for span in dropped_statements(toks):
        start, end = toks[span[0]][2], toks[span[1]][3]
        statement = " ".join(text[start:end].split())
        if len(statement) > 60:
            statement = statement[:57] + "..."
        add(start, end, "\n" * text.count("\n", start, end),
            "drop `%s`" % statement)
    return found


def dropped_statements(toks):
    """(first, last) token indexes of the simple statements that can be
    dropped: a call, an assignment, an increment, break, continue or a bare
    return, standing alone after ; { } or a case label."""
    spans = []
    for k in range(1, len(toks)):
        before = toks[k - 1][1]
        if before not in (";", "{", "}", ":"):
            continue
        if before == ":" and not (k >= 3 and toks[k - 3][1] == "case" or
                                  toks[k - 2][1] == "default"):
            continue
        kind, word = toks[k][0], toks[k][1]
        if word in ("break", "continue", "return"):
            if k + 1 < len(toks) and toks[k + 1][1] == ";":
                spans.append((k, k + 1))
            continue
        j = k
        if word in ("++", "--", "*"):
            j += 1
        elif word == "this":
            pass
        elif kind != "id" or word in DECLARATION_WORDS:
            continue
        while j + 2 < len(toks) and toks[j + 1][1] == "::" and toks[j + 2][0] == "id":
            j += 2
        if j + 1 >= len(toks) or toks[j + 1][1] not in ASSIGNING:
            if word not in ("++", "--"):
                continue
        depth = 0
        m = j + 1
        while m < len(toks):
            t = toks[m][1]
            if t in "([":
                depth += 1
            elif t in ")]":
                depth -= 1
                if depth < 0:
                    break
            elif t in "{}":
                break
            elif t == ";" and depth == 0:
                spans.append((k, m))
                break
            m += 1
    return spans


def source_files(root):
    listing = subprocess.run(
        ["git", "ls-files", "-z", "--cached", "--others", "--exclude-standard"],
        cwd=root, stdout=subprocess.PIPE, check=True).stdout.decode()
    files = sorted(f for f in listing.split("\0")
                   if f and os.path.isfile(os.path.join(root, f)))
    return files


def mutable(path):
    if path.split("/")[0] not in FOLDERS:
        return False
    if not (path.endswith(".cc") or path.endswith(".h")):
        return False
    return not re.search(r"(_test|_fuzz|-win32)\.(cc|h)$", path)


def draw_order(root, files, seed):
    """All candidates in the seed's order: lines are drawn uniformly (a
    table line weighs no more than a line of logic), and a line's second
    candidate comes only after every line has given its first."""
    by_line = {}
    for path in files:
        if not mutable(path):
            continue
        with open(os.path.join(root, path), encoding="utf-8",
                  errors="surrogateescape") as f:
            text = f.read()
        for c in candidates(path, text):
            by_line.setdefault((c[0], c[4]), []).append(c)
    rng = Rng(seed)
    lines = sorted(by_line)
    rng.shuffle(lines)
    for key in lines:
        rng.shuffle(by_line[key])
    order, rank = [], 0
    while True:
        taken = [by_line[key][rank] for key in lines if rank < len(by_line[key])]
        if not taken:
            return order
        order.extend(taken)
        rank += 1


# ------------------------------------------------------------------- running

running = []  # process groups to end when the run is interrupted


def stop(proc):
    try:
        os.killpg(proc.pid, signal.SIGKILL)
    except ProcessLookupError:
        pass
    proc.wait()


def start(argv, out_path, env=None):
    out = open(out_path, "wb")
    proc = subprocess.Popen(argv, stdout=out, stderr=subprocess.STDOUT,
                            stdin=subprocess.DEVNULL, env=env,
                            start_new_session=True)
    out.close()
    running.append(proc)
    return proc


def finish(proc, deadline):
    """The exit status, or None when the deadline passed (the group is
    killed)."""
    try:
        status = proc.wait(timeout=max(0.0, deadline - time.monotonic()))
    except subprocess.TimeoutExpired:
        stop(proc)
        status = None
    running.remove(proc)
    return status


def all_failures(out_path):
    """Every test GoogleTest reports as failed in the output, in order; a
    run that died names the test it died in."""
    with open(out_path, "rb") as f:
        text = f.read().decode("utf-8", "replace")
    failed = []
    for name in re.findall(r"^\[  FAILED  \] (\S+) \(\d+ ms\)", text, re.M):
        if name not in failed:
            failed.append(name)
    started = re.findall(r"^\[ RUN      \] (\S+)", text, re.M)
    ended = re.findall(r"^\[(?:       OK |  FAILED  )\] (\S+)", text, re.M)
    if started and started[-1] not in ended:
        failed.append(started[-1] + " (the run died in it)")
    return failed


def first_failure(out_path):
    with open(out_path, "rb") as f:
        text = f.read().decode("utf-8", "replace")
    m = re.search(r"^\[  FAILED  \] (\S+)", text, re.M)
    if m:
        return m.group(1)
    # No verdict: the run died (a crash, an abort) inside the last test.
    started = re.findall(r"^\[ RUN      \] (\S+)", text, re.M)
    ended = re.findall(r"^\[       OK \] (\S+)", text, re.M)
    if started and started[-1] not in ended[-1:]:
        return started[-1] + " (the run died in it)"
    return None


class Runner:
    def __init__(self, args, root):
        self.args = args
        self.root = root
        self.work = os.path.join(root, "build-mutate")
        self.src = os.path.join(self.work, "src")
        self.build = os.path.join(self.work, "build")
        self.logs = os.path.join(self.work, "logs")
        os.makedirs(self.logs, exist_ok=True)
        self.env = dict(os.environ)
        for name in ("SENTORY_EXE", "SENTORY_RUNNER", "SENTORY_SITE_EXE",
                     "SENTORY_RECORD_ARGS_EXE", "WINEPREFIX"):
            self.env.pop(name, None)

    def sync(self, files):
        """Makes the copy match the working tree, rewriting only what
        differs so the build stays incremental."""
        wanted = set(files)
        for path in files:
            with open(os.path.join(self.root, path), "rb") as f:
                data = f.read()
            target = os.path.join(self.src, path)
            try:
                with open(target, "rb") as f:
                    same = f.read() == data
            except OSError:
                same = False
            if not same:
                os.makedirs(os.path.dirname(target), exist_ok=True)
                with open(target, "wb") as f:
                    f.write(data)
            mode = os.stat(os.path.join(self.root, path)).st_mode & 0o7777
            if os.stat(target).st_mode & 0o7777 != mode:
                os.chmod(target, mode)
        for folder, _, names in os.walk(self.src):
            for name in names:
                full = os.path.join(folder, name)
                if os.path.relpath(full, self.src) not in wanted:
                    os.remove(full)

    def compile(self, tag):
        log = os.path.join(self.logs, "build-%s.log" % tag)
        if not os.path.exists(os.path.join(self.build, "build.ninja")):
            status = subprocess.run(
                ["cmake", "-S", self.src, "-B", self.build, "-G", "Ninja"],
                stdout=open(log, "wb"), stderr=subprocess.STDOUT).returncode
            if status != 0:
                return False
        proc = start(["ninja", "-C", self.build] + list(BINARIES), log)
        return finish(proc, float("inf")) == 0

    def binary_hashes(self):
        hashes = []
        for name in BINARIES:
            with open(os.path.join(self.build, name), "rb") as f:
                hashes.append(hashlib.sha256(f.read()).hexdigest())
        return hashes

    def unit(self, timeout):
        """None when the unit tests pass, else what killed the mutant."""
        out = os.path.join(self.logs, "unit.out")
        proc = start([os.path.join(self.build, "sentory_tests"),
                      "--gtest_fail_fast"], out, self.env)
        status = finish(proc, time.monotonic() + timeout)
        if status is None:
            return "unit: time-out"
        if status != 0:
            return "unit: " + (first_failure(out) or "exit status %d" % status)
        return None

    def unit_killers(self, timeout):
        """Every unit test that fails on the mutant (the whole suite runs)."""
        out = os.path.join(self.logs, "unit.out")
        proc = start([os.path.join(self.build, "sentory_tests")], out,
                     self.env)
        status = finish(proc, time.monotonic() + timeout)
        killers = ["unit: " + name for name in all_failures(out)]
        if status is None:
            killers.append("unit: time-out")
        elif status != 0 and not killers:
            killers.append("unit: exit status %d" % status)
        return killers

    def e2e_list(self, binary="sentory_e2e_tests"):
        listing = subprocess.run(
            [os.path.join(self.build, binary),
             "--gtest_list_tests"], stdout=subprocess.PIPE,
            env=self.env, check=True).stdout.decode()
        names, suite = [], ""
        for line in listing.splitlines():
            if not line.strip():
                continue
            if not line.startswith(" "):
                suite = line.split()[0]
            else:
                names.append(suite + line.split()[0])
        return names

    def e2e_killers(self, tests, timeouts, jobs):
        """Every end-to-end test that fails on the mutant, each failure
        confirmed by a run of that test alone."""
        killers, pending = [], list(tests)
        while pending:
            killer, took = self.e2e(pending, timeouts, jobs)
            pending = [t for t in pending if t not in took]
            if killer is None:
                break
            failed = killer[len("e2e: "):].split()[0]
            if failed not in pending and failed not in tests:
                break
            killers.append("e2e: " + failed)
            pending = [t for t in pending if t != failed]
        return killers

    def e2e(self, tests, timeouts, jobs, confirm=True):
        """Runs the end-to-end tests, longest first, `jobs` at a time; stops
        at the first failure. Returns (what killed the mutant or None,
        seconds each passing test took)."""
        pending = sorted(tests, key=lambda t: -timeouts[t])
        active, took = {}, {}
        killer = None
        try:
            while (pending or active) and killer is None:
                while pending and len(active) < jobs:
                    name = pending.pop(0)
                    out = os.path.join(self.logs, "e2e-%s.out" % name)
                    proc = start([os.path.join(self.build, "sentory_e2e_tests"),
                                  "--gtest_filter=" + name], out, self.env)
                    active[name] = (proc, time.monotonic(), out)
                time.sleep(0.1)
                failed = None
                for name, (proc, began, out) in list(active.items()):
                    status = proc.poll()
                    if status is None:
                        if time.monotonic() - began > timeouts[name]:
                            killer = "e2e: %s time-out" % name
                            break
                        continue
                    running.remove(proc)
                    del active[name]
                    took[name] = time.monotonic() - began
                    if status != 0:
                        failed = name
                        break
                if failed is None:
                    continue
                if confirm:
                    # A failure while others run could come from the load:
                    # stop the others and run the test alone once more.
                    for other, (p, _, _) in active.items():
                        stop(p)
                        running.remove(p)
                        pending.insert(0, other)
                    active.clear()
                    again, _ = self.e2e([failed], timeouts, 1, False)
                    if again is None:
                        print("  (%s failed once, then passed alone)" % failed)
                        continue
                killer = "e2e: " + (first_failure(os.path.join(
                    self.logs, "e2e-%s.out" % failed)) or failed)
        finally:
            for proc, _, _ in active.values():
                stop(proc)
                if proc in running:
                    running.remove(proc)
        return killer, took


def apply(src, mutant):
    path, start_at, end, replacement = mutant[:4]
    full = os.path.join(src, path)
    with open(full, "rb") as f:
        data = f.read()
    text = data.decode("utf-8", "surrogateescape")
    mutated = text[:start_at] + replacement + text[end:]
    with open(full, "wb") as f:
        f.write(mutated.encode("utf-8", "surrogateescape"))
    return data


def restore(src, path, data):
    with open(os.path.join(src, path), "wb") as f:
        f.write(data)


def where(m):
    """file:line:column, as compilers print it."""
    return "%s:%d:%d" % (m[0], m[4], m[6])


def place(m):
    return (m[0], m[1])


def main():
    parser = argparse.ArgumentParser(
        prog="scripts/mutate",
        description="Samples single-token mutations of the Linux-built "
        "sources, runs the Linux unit and end-to-end tests on each, and "
        "prints how many the tests kill.")
    parser.add_argument("-n", "--count", type=int, default=150,
                        help="mutants that build to try (default 150)")
    parser.add_argument("--seed", type=int, default=1,
                        help="the sample's seed (default 1)")
    parser.add_argument("--jobs", type=int, default=6,
                        help="end-to-end tests run at once (default 6)")
    parser.add_argument("--only", action="append", default=[],
                        metavar="FILE:LINE[:COLUMN][:TEXT]",
                        help="try only the candidates at that place whose "
                        "description holds TEXT (repeatable)")
    parser.add_argument("--list", action="store_true",
                        help="print the first N candidates and stop")
    parser.add_argument("--recheck", action="store_true",
                        help="run the tests on the unchanged tree even when "
                        "its binaries passed them before")
    parser.add_argument("--all-killers", action="store_true",
                        help="run every test on each mutant, not only up to "
                        "the first failure, and write which tests kill which "
                        "mutants to build-mutate/killers.txt (much slower)")
    parser.add_argument("--unit-only", action="store_true",
                        help="run only the unit tests (minutes, not hours, "
                        "with --all-killers: which unit tests kill what)")
    parser.add_argument("--verbose", action="store_true",
                        help="also print timings and what killed each mutant")
    args = parser.parse_args()

    root = os.getcwd()
    files = source_files(root)
    order = draw_order(root, files, args.seed)
    if args.only:
        chosen = []
        for wanted in args.only:
            parts = wanted.split(":", 2)
            if len(parts) < 2 or not parts[1].isdigit():
                print("scripts/mutate: --only wants FILE:LINE[:COLUMN][:TEXT]"
                      ", not %s" % wanted, file=sys.stderr)
                return 2
            column, text = None, parts[2] if len(parts) > 2 else ""
            m = re.fullmatch(r"(\d+)(?::(.*))?", text, re.S)
            if m:
                column, text = int(m.group(1)), m.group(2) or ""
            hits = [c for c in order if c[0] == parts[0] and
                    c[4] == int(parts[1]) and
                    (column is None or c[6] == column) and text in c[5]]
            if not hits:
                print("scripts/mutate: no candidate matches %s" % wanted,
                      file=sys.stderr)
                return 2
            chosen.extend(hits)
        order = chosen
        args.count = len(chosen)
    print("%d candidates in %d files; seed %d, N %d" %
          (len(order), len({c[0] for c in order}), args.seed, args.count))
    if args.list:
        for m in order[:args.count]:
            print("%s: %s" % (where(m), m[5]))
        return 0

    runner = Runner(args, root)
    lock = open(os.path.join(runner.work, "lock"), "w")
    try:
        fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
    except OSError:
        print("scripts/mutate: another run is using build-mutate/",
              file=sys.stderr)
        return 1
    try:
        return run(args, root, files, order, runner)
    except KeyboardInterrupt:
        print("\nscripts/mutate: interrupted", file=sys.stderr)
        return 130
    finally:
        # Nothing the run started outlives it, whatever ended it.
        for proc in list(running):
            stop(proc)


def baseline(args, runner):
    """Checks that the tests pass on the unchanged tree and returns (tests,
    time-outs, unit time-out). The result is kept in build-mutate/: when
    the binaries are the ones that passed before, the tests are not run
    again (unless --recheck)."""
    saved = os.path.join(runner.work, "baseline.json")
    hashes = runner.binary_hashes()
    tests = [] if args.unit_only else runner.e2e_list()
    try:
        with open(saved) as f:
            known = json.load(f)
    except (OSError, ValueError):
        known = {}
    # A full baseline of these binaries also serves a unit-only run.
    if (not args.recheck and known.get("hashes") == hashes and
            (args.unit_only or
             sorted(known.get("timeouts", {})) == sorted(tests))):
        print("Unchanged tree: these binaries passed the tests before "
              "(unit tests %.1f s, end-to-end tests %.1f s); --recheck runs "
              "them again" % (known["unit_seconds"], known["e2e_seconds"]),
              flush=True)
        return (tests, {} if args.unit_only else known["timeouts"],
                known["unit_timeout"])
    print("Running the tests on the unchanged tree ...", flush=True)
    t = time.monotonic()
    broken = runner.unit(600)
    unit_seconds = time.monotonic() - t
    t = time.monotonic()
    broken = broken or runner.e2e(tests, {n: 900 for n in tests}, args.jobs)[0]
    if broken:
        print("scripts/mutate: the tests fail on the unchanged tree (%s)" %
              broken, file=sys.stderr)
        return None
    e2e_seconds = time.monotonic() - t
    print("Unchanged tree: unit tests %.1f s, end-to-end tests %.1f s "
          "(%d tests, %d at a time)" % (unit_seconds, e2e_seconds,
                                          len(tests), args.jobs), flush=True)
    # Each end-to-end test gets three times its own time and half a minute,
    # at least a minute; the unit tests ten times theirs. A hang is a kill.
    timeouts = {}
    for name in tests:
        log = os.path.join(runner.logs, "e2e-%s.out" % name)
        with open(log, errors="replace") as f:
            m = re.search(r"\((\d+) ms total\)", f.read())
        seconds = int(m.group(1)) / 1000 if m else 60
        timeouts[name] = max(60.0, 3 * seconds + 30)
    unit_timeout = max(60.0, 10 * unit_seconds)
    if args.unit_only:  # keep a full baseline for the runs that need one
        return tests, timeouts, unit_timeout
    with open(saved, "w") as f:
        json.dump({"hashes": hashes, "unit_seconds": unit_seconds,
                   "e2e_seconds": e2e_seconds, "timeouts": timeouts,
                   "unit_timeout": unit_timeout}, f, indent=1)
    return tests, timeouts, unit_timeout


def write_killers(path, results, all_tests):
    """Which tests kill which mutants: for each test, the mutants it kills
    and how many of them no other test kills. A test that is the only killer
    of none adds nothing to this sample's score; whether it catches faults
    outside the sample is for its reader to judge."""
    kills = {}
    for m, outcome, killer, _ in results:
        if outcome != "killed":
            continue
        names = [k.split(": ", 1)[1].split(" (")[0] for k in killer.split(", ")]
        for name in names:
            kills.setdefault(name, []).append((where(m), len(names) == 1))
    with open(path, "w") as f:
        f.write("# test\tmutants killed\tonly killer of\n")
        for name in sorted(kills, key=lambda n: (-sum(o for _, o in kills[n]),
                                                 n)):
            f.write("%s\t%d\t%d\t%s\n" % (
                name, len(kills[name]), sum(o for _, o in kills[name]),
                " ".join(w + ("*" if only else "") for w, only in kills[name])))
        silent = [t for t in all_tests if t not in kills]
        f.write("# tests that kill no sampled mutant: %s\n" %
                (" ".join(silent) or "none"))
    print("Which tests kill which mutants: %s" % path)


def run(args, root, files, order, runner):
    began = time.monotonic()
    runner.sync(files)
    print("Building the copy in build-mutate/ ...", flush=True)
    if not runner.compile("base"):
        print("scripts/mutate: the unchanged tree does not build; see %s" %
              os.path.join(runner.logs, "build-base.log"), file=sys.stderr)
        return 1
    base_hashes = runner.binary_hashes()
    checked = baseline(args, runner)
    if checked is None:
        return 1
    tests, timeouts, unit_timeout = checked

    results = []  # (mutant, outcome, killer, seconds)
    not_compiled, same_binaries = [], []
    queue = list(order)
    current = None  # (path, original bytes) of the file mutated in the copy
    loop_began = time.monotonic()
    interrupted = False
    try:
        while len(results) < args.count and queue:
            # Take the next mutants needed, by file, so that a file is
            # restored and rebuilt once per batch rather than once per mutant.
            need = args.count - len(results)
            batch, queue = queue[:need], queue[need:]
            batch.sort(key=place)
            for m in batch:
                t = time.monotonic()
                if current and current[0] != m[0]:
                    restore(runner.src, *current)
                    current = None
                if current is None:
                    with open(os.path.join(runner.src, m[0]), "rb") as f:
                        current = (m[0], f.read())
                else:
                    restore(runner.src, *current)
                apply(runner.src, m)
                built = runner.compile("mutant")
                build_seconds = time.monotonic() - t
                if not built:
                    not_compiled.append(m)
                    if args.verbose or args.only:
                        print("        %s: %s  (does not build)" %
                              (where(m), m[5]), flush=True)
                    continue
                if runner.binary_hashes() == base_hashes:
                    same_binaries.append(m)
                    if args.verbose or args.only:
                        print("        %s: %s  (same binaries)" %
                              (where(m), m[5]), flush=True)
                    continue
                if args.all_killers:
                    killers = (runner.unit_killers(unit_timeout) +
                               runner.e2e_killers(tests, timeouts, args.jobs))
                    killer = ", ".join(killers) or None
                else:
                    killer = runner.unit(unit_timeout)
                    if killer is None:
                        killer = runner.e2e(tests, timeouts, args.jobs)[0]
                outcome = "killed" if killer else "survived"
                seconds = time.monotonic() - t
                results.append((m, outcome, killer, seconds))
                line = "[%3d/%d] %-8s %s: %s" % (len(results), args.count,
                                                 outcome, where(m), m[5])
                if args.verbose:
                    line += "  (%s; build %.0f s, total %.0f s)" % (
                        killer or "no test failed", build_seconds, seconds)
                print(line, flush=True)
            if args.only:
                break
    except KeyboardInterrupt:
        interrupted = True
        print("\nInterrupted: the results so far.")
    finally:
        for proc in list(running):
            stop(proc)
        if current:
            restore(runner.src, *current)
    loop_seconds = time.monotonic() - loop_began

    killed = [r for r in results if r[1] == "killed"]
    survivors = [r for r in results if r[1] == "survived"]
    report = os.path.join(runner.work, "report.txt")
    with open(report, "w") as f:
        f.write("seed %d, N %d%s\n" % (args.seed, args.count,
                                       ", interrupted" if interrupted else ""))
        for m, outcome, killer, seconds in sorted(results,
                                                  key=lambda r: place(r[0])):
            f.write("%s\t%s\t%s\t%s\t%.0f s\n" % (outcome, where(m), m[5],
                                                  killer or "-", seconds))
        for m in not_compiled:
            f.write("not compiled\t%s\t%s\n" % (where(m), m[5]))
        for m in same_binaries:
            f.write("same binaries\t%s\t%s\n" % (where(m), m[5]))
    if args.all_killers:
        write_killers(os.path.join(runner.work, "killers.txt"), results,
                      runner.e2e_list("sentory_tests") + tests)
    print()
    if survivors:
        print("Survivors:")
        for m, _, _, _ in sorted(survivors, key=lambda r: place(r[0])):
            print("  %s: %s" % (where(m), m[5]))
    print("Replaced by the next candidates: %d that did not build, %d that "
          "left the binaries as they were" % (len(not_compiled),
                                              len(same_binaries)))
    if results:
        print("%.0f s in all; %.1f s per mutant (the replaced ones' time "
              "included); report in %s" % (
                  time.monotonic() - began, loop_seconds / len(results),
                  os.path.relpath(report, root)))
    print("killed %d of %d" % (len(killed), len(results)))
    return 130 if interrupted else 0


if __name__ == "__main__":
    # Ctrl-C, a kill or a closed terminal all end the run the same way:
    # the copy restored and every process it started stopped. SIGINT too,
    # since a shell starts a background job with it ignored.
    for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(sig, signal.default_int_handler)
    sys.exit(main())
