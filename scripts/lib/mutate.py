"""The mutation sampler behind scripts/mutate.

It copies the tree into build-mutate/src (the working tree itself is never
changed), builds it once in build-mutate/build, then for each sampled
mutant writes the mutated file into the copy, rebuilds incrementally, runs
the unit tests and, when they pass, the end-to-end tests in parallel, each
under a time-out. The copy is brought back in line with the working tree at
every start, so a run cut short leaves nothing behind that matters.
"""

import argparse
import hashlib
import os
import re
import signal
import subprocess
import sys
import time

FOLDERS = ("app", "eventlog", "paging", "runner", "platform", "tools")
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
    (path, start, end, replacement, line, description)."""
    toks = tokens(text)
    found = []

    def add(start, end, replacement, what):
        found.append((path, start, end, replacement,
                      text.count("\n", 0, start) + 1, what))

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


def first_failure(out_path):
    with open(out_path, "rb") as f:
        text = f.read().decode("utf-8", "replace")
    m = re.search(r"^\[  FAILED  \] (\S+)", text, re.M)
    return m.group(1) if m else None


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

    def e2e_list(self):
        listing = subprocess.run(
            [os.path.join(self.build, "sentory_e2e_tests"),
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

    def e2e(self, tests, timeouts, jobs, confirm=True):
        """Runs the end-to-end tests, longest first, `jobs` at a time; stops
        at the first failure. Returns (what killed the mutant or None,
        seconds each test took)."""
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
                for name, (proc, began, out) in list(active.items()):
                    status = proc.poll()
                    if status is None and time.monotonic() - began > timeouts[name]:
                        stop(proc)
                        killer = "e2e: %s time-out" % name
                    if status is None:
                        continue
                    running.remove(proc)
                    del active[name]
                    took[name] = time.monotonic() - began
                    if status == 0:
                        continue
                    if confirm:
                        # A failure while others run could come from the
                        # load: run the test alone once more.
                        for other, (p, _, _) in active.items():
                            stop(p)
                            running.remove(p)
                            pending.insert(0, other)
                        active.clear()
                        again, _ = self.e2e([name], timeouts, 1, False)
                        if again is None:
                            print("  (%s failed once, then passed alone)" % name)
                            continue
                    killer = "e2e: " + name
                    break
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
    return "%s:%d" % (m[0], m[4])


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
                        metavar="FILE:LINE[:TEXT]",
                        help="try only the candidates on that line whose "
                        "description holds TEXT (repeatable)")
    parser.add_argument("--list", action="store_true",
                        help="print the first N candidates and stop")
    parser.add_argument("--verbose", action="store_true",
                        help="also print timings and what killed each mutant")
    args = parser.parse_args()

    root = os.getcwd()
    files = source_files(root)
    order = draw_order(root, files, args.seed)
    if args.only:
        chosen = []
        for spec in args.only:
            parts = spec.split(":", 2)
            if len(parts) < 2 or not parts[1].isdigit():
                print("scripts/mutate: --only wants FILE:LINE[:TEXT], not %s"
                      % spec, file=sys.stderr)
                return 2
            hits = [c for c in order if c[0] == parts[0] and
                    c[4] == int(parts[1]) and
                    (len(parts) < 3 or parts[2] in c[5])]
            if not hits:
                print("scripts/mutate: no candidate matches %s" % spec,
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
    began = time.monotonic()
    runner.sync(files)
    print("Building the copy in build-mutate/ ...", flush=True)
    if not runner.compile("base"):
        print("scripts/mutate: the unchanged tree does not build; see %s" %
              os.path.join(runner.logs, "build-base.log"), file=sys.stderr)
        return 1
    base_hashes = runner.binary_hashes()
    t = time.monotonic()
    broken = runner.unit(600)
    unit_seconds = time.monotonic() - t
    tests = runner.e2e_list()
    t = time.monotonic()
    broken = broken or runner.e2e(tests, {n: 900 for n in tests}, args.jobs)[0]
    if broken:
        print("scripts/mutate: the tests fail on the unchanged tree (%s)" %
              broken, file=sys.stderr)
        return 1
    e2e_seconds = time.monotonic() - t
    print("Unchanged tree: unit tests %.1f s, end-to-end tests %.1f s "
          "(%d tests, %d at a time)" % (unit_seconds, e2e_seconds,
                                          len(tests), args.jobs), flush=True)
    # Each end-to-end test gets three times its own time, and at least a
    # minute; the unit tests ten times theirs. A hang counts as a kill.
    timeouts = {}
    for name in tests:
        log = os.path.join(runner.logs, "e2e-%s.out" % name)
        m = re.search(r"\((\d+) ms total\)", open(log, errors="replace").read())
        seconds = int(m.group(1)) / 1000 if m else 60
        timeouts[name] = max(60.0, 3 * seconds + 30)
    unit_timeout = max(60.0, 10 * unit_seconds)

    results = []  # (mutant, outcome, killer, seconds)
    not_compiled = []
    queue = list(order)
    current = None  # (path, original bytes) of the file mutated in the copy
    try:
        while len(results) < args.count and queue:
            # Take the next mutants needed, by file, so that a file is
            # restored and rebuilt once per batch rather than once per mutant.
            need = args.count - len(results)
            batch, queue = queue[:need], queue[need:]
            batch.sort(key=lambda m: (m[0], m[4], m[1]))
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
                    if args.verbose:
                        print("        %s: %s  does not build" % (where(m), m[5]))
                    continue
                if runner.binary_hashes() == base_hashes:
                    outcome, killer = "survived", "binaries unchanged"
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
        print("\nInterrupted.")
    finally:
        for proc in list(running):
            stop(proc)
        if current:
            restore(runner.src, *current)

    killed = [r for r in results if r[1] == "killed"]
    survivors = [r for r in results if r[1] == "survived"]
    total = time.monotonic() - began
    report = os.path.join(runner.work, "report.txt")
    with open(report, "w") as f:
        f.write("seed %d, N %d\n" % (args.seed, args.count))
        for m, outcome, killer, seconds in sorted(results,
                                                  key=lambda r: where(r[0])):
            f.write("%s\t%s\t%s\t%s\t%.0f s\n" % (outcome, where(m), m[5],
                                                  killer or "-", seconds))
        for m in not_compiled:
            f.write("not compiled\t%s\t%s\n" % (where(m), m[5]))
    print()
    if survivors:
        print("Survivors:")
        for m, _, killer, _ in sorted(survivors, key=lambda r: where(r[0])):
            note = "  (binaries unchanged)" if killer else ""
            print("  %s: %s%s" % (where(m), m[5], note))
    print("%d did not build (replaced by the next candidates)" %
          len(not_compiled))
    if results:
        print("%.0f s in all, %.1f s per mutant tried; report in %s" %
              (total, sum(r[3] for r in results) / len(results),
               os.path.relpath(report, root)))
    print("killed %d of %d" % (len(killed), len(results)))
    return 0


if __name__ == "__main__":
    signal.signal(signal.SIGTERM, lambda *_: (_ for _ in ()).throw(
        KeyboardInterrupt()))
    sys.exit(main())
