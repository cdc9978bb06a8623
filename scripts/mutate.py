#!/usr/bin/env python3
"""How many plausible one-line faults in src/ does the test suite catch?

Samples MUTANTS one-line mutants (a flipped comparison, a dropped `!`, an
off-by-one, a removed close/unlock/free, a changed error number, ...) with a
fixed SEED over the code lines of src/ that the Linux build compiles, spread
over the subsystems (src/<dir>) in proportion to their code lines. Each one is
applied to a scratch copy of the tree (build/mutate/tree; the working tree is
never written), built incrementally and run against the suite; the first test
that fails or hangs catches it. A mutant that does not compile is discarded
and replaced by the next sample of its subsystem, so a run reports MUTANTS
mutants that build. Mutants listed in tests/mutants-equivalent.txt change no
behaviour: they are shown with their reason and left out of the score.

The scratch build links the tests against one shared internal library
(-DKQ_SHARED_INTERNAL=ON), so a mutant recompiles one file and relinks two
libraries; a test may take five times its usual run, at least --floor
seconds (20), and a test that runs out of time has caught the mutant.
A survivor of a removed free/close/unlock, a moved bound, a flipped
comparison for equality or a swapped && / || runs again in a second scratch
build under AddressSanitizer and UBSan, as `make asan` would run it: leaks
and overruns show only there.

  scripts/mutate.py --mutants 100 --seed 1
  scripts/mutate.py --list                  # the sample, without building
  scripts/mutate.py --survivors             # the last run's survivors again
  scripts/mutate.py --only 'src/utils/'     # sample these files only
  scripts/mutate.py --every-test            # no stop at the first failure:
                                            # how many mutants each test catches
"""

import argparse
import hashlib
import json
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
EQUIVALENTS = ROOT / "tests" / "mutants-equivalent.txt"

# ---------------------------------------------------------------------------
# Reading the sources

def mask(text):
    """`text` with comments and the insides of string and character literals
    blanked, same length and line breaks, so operators are found only in code."""
    out = list(text)
    n = len(text)

    def blank(a, b):
        for k in range(a, b):
            if out[k] != "\n":
                out[k] = " "

    i = 0
    while i < n:
        if text.startswith("//", i):
            j = text.find("\n", i)
            j = n if j < 0 else j
            blank(i, j)
            i = j
        elif text.startswith("/*", i):
            j = text.find("*/", i + 2)
            j = n if j < 0 else j + 2
            blank(i, j)
            i = j
        elif text.startswith('R"', i) and (i == 0 or not (text[i - 1].isalnum() or text[i - 1] == "_")):
            mo = re.match(r'R"([^()\\\s]{0,16})\(', text[i:])
            if not mo:
                i += 1
                continue
            close = ")" + mo.group(1) + '"'
            j = text.find(close, i + mo.end())
            j = n if j < 0 else j
            blank(i + mo.end(), j)
            i = j + len(close)
        elif text[i] in "\"'":
            if text[i] == "'" and i > 0 and text[i - 1].isalnum() and text[i - 1] not in "uUL8":
                i += 1  # a digit separator
                continue
            q = text[i]
            j = i + 1
            while j < n and text[j] != q and text[j] != "\n":
                j += 2 if text[j] == "\\" else 1
            blank(i + 1, min(j, n))
            i = j + 1
        else:
            i += 1
    return "".join(out)


def code_lines(text):
    """(line number, line, masked line) of every line that holds code the
    compiler sees: no comments, no preprocessor lines, nothing under a
    conditional directive other than the include guard, no static_assert."""
    raw = text.split("\n")
    masked = mask(text).split("\n")
    result = []
    depth = 0
    guard = None
    continued = False
    for idx, (line, m) in enumerate(zip(raw, masked)):
        s = m.strip()
        if continued or s.startswith("#"):
            continued = s.endswith("\\")
            d = re.match(r"#\s*(\w+)\s*(\w*)", s)
            if d and not continued:
                word, name = d.group(1), d.group(2)
                if word == "ifndef" and guard is None and depth == 0 and idx + 1 < len(raw) and \
                        re.match(r"\s*#\s*define\s+" + re.escape(name) + r"\b", raw[idx + 1]):
                    guard = name
                elif word in ("if", "ifdef", "ifndef"):
                    depth += 1
                elif word == "endif" and depth > 0:
                    depth -= 1
            continue
        if not s or depth > 0 or s.startswith("static_assert"):
            continue
        result.append((idx + 1, line, m))
    return result


# ---------------------------------------------------------------------------
# The mutation operators. Each finds (start, end, replacement) spans in the
# masked line; the replacement applies to the same span of the real line.

NEGATE = {"<": ">=", "<=": ">", ">": "<=", ">=": "<"}
BOUNDARY = {"<": "<=", "<=": "<", ">": ">=", ">=": ">"}
RELEASES = (r"close\w*|\w*[cC]lose|unlock\w*|\w*[uU]nlock|free\w*|\w*[fF]ree|delete\w*|\w*[dD]elete\w*|reset\w*|"
            r"notify\w*|\w*[nN]otify\w*|"
            r"wake\w*|\w*[wW]ake|release\w*|\w*[rR]elease|destroy\w*|\w*[dD]estroy\w*|unlink|unmap\w*|munmap|"
            r"\w*[uU]nmap|clear|erase|join|pthread_cond_signal|pthread_cond_broadcast")
CHAIN = r"(?:::)?(?:[A-Za-z_]\w*(?:\[[^\]]*\])*(?:::|\.|->))*"
RELEASE_STMT = re.compile(r"^(?:delete(?:\[\])?\s.+|" + CHAIN + r"(?:" + RELEASES + r")\s*\(.*\))\s*;$")
CALL_STMT = re.compile(r"^" + CHAIN + r"[A-Za-z_]\w*\s*\(.*\)\s*;$")
# Diagnostics only: which lines a program prints is checked where users parse
# them, not at every message, so dropping one tells nothing about the suite.
PRINT_STMT = re.compile(r"^(?:std::|(?:bg::)?platform::)?(?:f?printf|fputs|puts|perror|fflush|BG_LOG|"
                        r"console(?:Error|Output|Write))\s*\(")
ASSIGN_STMT = re.compile(r"^\*?" + CHAIN + r"[A-Za-z_]\w*(?:\[[^\]]*\])*\s*(?:[-+*/%|&^]|<<|>>)?=\s.*;$|"
                         r"^(?:\+\+|--)" + CHAIN + r"\w+\s*;$|^" + CHAIN + r"\w+(?:\+\+|--)\s*;$")
KEYWORDS = {"return", "break", "continue", "goto", "throw", "case", "default", "using", "typedef", "namespace",
            "template", "public", "private", "protected", "else", "do", "if", "for", "while", "switch", "try",
            "catch", "static_assert", "friend", "enum", "struct", "class", "union", "extern"}
ERRNOS = ("NOENT ACCES PERM EXIST INTR AGAIN WOULDBLOCK BADF NOMEM INVAL PIPE CONNRESET CONNREFUSED NOTCONN "
          "ADDRINUSE TIMEDOUT RANGE NOTDIR ISDIR NOSPC NOTEMPTY BUSY NOEXEC NAMETOOLONG FBIG OVERFLOW IO DQUOT "
          "LOOP XDEV ROFS TXTBSY NOSYS OPNOTSUPP NOTSUP MFILE NFILE CONNABORTED").split()
ERRNO_RE = re.compile(r"\bE(?:" + "|".join(ERRNOS) + r")\b")


def spaced(m, pattern):
    """Binary operators written with a space on each side (the project's
    format), which tells `a < b` from templates, shifts and pointers."""
    return re.finditer(r"(?<= )(?:" + pattern + r")(?= )", m)


def neighbours(m, a, b):
    """The characters next to the operand on each side of m[a:b]."""
    left = m[:a].rstrip()
    right = m[b:].lstrip()
    return (left[-1:] if left else ""), (right[:1] if right else "")


def matching_paren(m, i):
    depth = 0
    for k in range(i, len(m)):
        if m[k] == "(":
            depth += 1
        elif m[k] == ")":
            depth -= 1
            if depth == 0:
                return k
    return None


def statements(m):
    """The one statement a line ends with, alone or after `if (...)`, `for
    (...)`, `while (...)` or `else`: (start, end) spans, end after its `;`."""
    start = len(m) - len(m.lstrip())
    mo = re.match(r"\s*(?:\}\s*)?(?:else\s+)?(?:if|for|while)\s*\(", m)
    if mo:
        close = matching_paren(m, mo.end() - 1)
        if close is None:
            return []
        start = close + 1
    else:
        mo = re.match(r"\s*(?:\}\s*)?else\b", m)
        if mo:
            start = mo.end()
    while start < len(m) and m[start] == " ":
        start += 1
    if start >= len(m) or m[start] in "{}":
        return []
    depth = 0
    for k in range(start, len(m)):
        c = m[k]
        if c in "([{":
            depth += 1
        elif c in ")]}":
            depth -= 1
            if depth < 0:
                return []
        elif c == ";" and depth == 0:
            return [(start, k + 1)] if m[k + 1:].strip() == "" else []
    return []


def mutations(m):
    """Every mutation of one masked code line: (operator, start, end, replacement)."""
    found = []
    for mo in spaced(m, r"==|!="):
        found.append(("eq", mo.start(), mo.end(), "!=" if mo.group() == "==" else "=="))
    for mo in spaced(m, r"<=|>=|<|>"):
        found.append(("negate", mo.start(), mo.end(), NEGATE[mo.group()]))
        found.append(("boundary", mo.start(), mo.end(), BOUNDARY[mo.group()]))
    for mo in re.finditer(r"(?<![!\w])!(?!=)", m):
        if not m[:mo.start()].rstrip().endswith("operator"):
            found.append(("not", mo.start(), mo.end(), ""))
    for mo in spaced(m, r"&&|\|\|"):
        found.append(("logic", mo.start(), mo.end(), "||" if mo.group() == "&&" else "&&"))
    for mo in re.finditer(r" [-+] 1[uUlL]*(?![\w.'])", m):
        found.append(("off-by-one", mo.start(), mo.end(), ""))
    for mo in spaced(m, r"[-+]"):
        left, right = neighbours(m, mo.start(), mo.end())
        if "'" in (left, right) or '"' in (left, right) or re.match(r" 1[uUlL]*(?![\w.'])", m[mo.end():]):
            continue
        found.append(("arith", mo.start(), mo.end(), "-" if mo.group() == "+" else "+"))
    for mo in spaced(m, r"\+=|-="):
        if neighbours(m, mo.start(), mo.end())[1] not in "'\"":
            found.append(("compound", mo.start(), mo.end(), "-=" if mo.group() == "+=" else "+="))
    for a, b in statements(m):
        stmt = m[a:b]
        first = re.match(r"[A-Za-z_]\w*", stmt)
        if first and first.group() in KEYWORDS:
            continue
        if PRINT_STMT.match(stmt):
            continue
        if RELEASE_STMT.match(stmt):
            found.append(("release", a, b, "{}"))
        elif CALL_STMT.match(stmt) or ASSIGN_STMT.match(stmt):
            found.append(("statement", a, b, "{}"))
    for mo in re.finditer(r"\bkErr[A-Z]\w*( = (\d+))?", m):
        if mo.group(1):  # the number itself, where the table defines it
            found.append(("error", mo.start(2), mo.end(2), str(int(mo.group(2)) + 1)))
        else:
            found.append(("error", mo.start(), mo.end(),
                          "kErrAccessDenied" if mo.group() == "kErrGenFailure" else "kErrGenFailure"))
    for mo in ERRNO_RE.finditer(m):
        # EDOM is used nowhere, so a mutated case label stays unique.
        found.append(("error", mo.start(), mo.end(), "EDOM"))
    for mo in re.finditer(r"\breturn -(\d+);", m):
        found.append(("error", mo.start(1) - 1, mo.end(1), "-%d" % (int(mo.group(1)) + 1)))
    for mo in re.finditer(r"\b(true|false)\b", m):
        found.append(("bool", mo.start(), mo.end(), "false" if mo.group() == "true" else "true"))
    return found


def squeeze(s):
    return " ".join(s.split())


class Mutant:
    def __init__(self, file, line, col, end, new, op, text, context):
        self.file, self.line, self.col, self.end, self.new, self.op = file, line, col, end, new, op
        self.text, self.context = text, context
        self.outcome = None  # 'caught', 'survived', 'equivalent'
        self.killers = []
        self.detail = ""
        self.seconds = 0.0

    @property
    def subsystem(self):
        return self.file.split("/")[1]

    @property
    def mutated_line(self):
        return self.text[:self.col] + self.new + self.text[self.end:]

    @property
    def key(self):
        """Names the mutant across runs while the code around it stays: its
        file, the line before (with its rank where that pair of lines comes
        again in the file), the line and the mutated line, not numbers."""
        h = hashlib.sha1("\n".join([self.context, squeeze(self.text), squeeze(self.mutated_line)]).encode())
        return "%s %s" % (self.file, h.hexdigest()[:8])

    def shown(self):
        """The line with the change marked: `if (a [<->=] b)`."""
        t = self.text
        return squeeze(t[:self.col]) + (" " if t[:self.col].endswith(" ") else "") + \
            "[%s -> %s]" % (t[self.col:self.end], self.new or "''") + t[self.end:].rstrip()

    def record(self):
        return {k: getattr(self, k) for k in ("file", "line", "col", "end", "new", "op", "text", "context",
                                               "outcome", "detail", "seconds", "killers")}


def candidates(root, files):
    """Per subsystem: its code-line count and its lines with their mutations."""
    subsystems = {}
    for rel in files:
        text = (root / rel).read_text(encoding="utf-8", errors="surrogateescape")
        sub = subsystems.setdefault(rel.split("/")[1], {"lines": 0, "sites": []})
        context = ""
        seen = {}
        for lineno, line, m in code_lines(text):
            sub["lines"] += 1
            found = mutations(m)
            if found:
                # The same line after the same line again in one file (two
                # loops alike) is told apart by its rank among them.
                pair = (context, squeeze(line))
                seen[pair] = seen.get(pair, 0) + 1
                where = context if seen[pair] == 1 else "%s #%d" % (context, seen[pair])
                sub["sites"].append((rel, lineno, line, where, found))
            context = squeeze(line)
    return subsystems


def quotas(subsystems, total):
    """`total` spread over the subsystems in proportion to their code lines
    (largest remainders get the rounding)."""
    lines = sum(s["lines"] for s in subsystems.values())
    exact = {name: total * s["lines"] / lines for name, s in subsystems.items()}
    share = {name: int(x) for name, x in exact.items()}
    for name in sorted(exact, key=lambda k: (share[k] - exact[k], k))[:total - sum(share.values())]:
        share[name] += 1
    return share


def sample_streams(subsystems, seed):
    """Per subsystem, the order in which its lines are tried, each with the one
    mutation drawn for it: fixed by the seed and the code."""
    rng = random.Random(seed)
    streams = {}
    for name in sorted(subsystems):
        sites = sorted(subsystems[name]["sites"], key=lambda s: (s[0], s[1]))
        rng.shuffle(sites)
        stream = []
        for rel, lineno, line, context, found in sites:
            op, a, b, new = random.Random("%s/%s/%d/%s" % (seed, rel, lineno, line)).choice(found)
            stream.append(Mutant(rel, lineno, a, b, new, op, line, context))
        streams[name] = stream
    return streams


def read_equivalents():
    """Keys of tests/mutants-equivalent.txt with their reasons: an entry is a
    line `<file> <hash> <the change>` followed by an indented reason."""
    known = {}
    if not EQUIVALENTS.exists():
        return known
    last = None
    for line in EQUIVALENTS.read_text().splitlines():
        if not line.strip() or line.startswith("#"):
            continue
        mo = re.match(r"(\S+) ([0-9a-f]{8})\s", line + " ")
        if mo and not line[0].isspace():
            last = "%s %s" % (mo.group(1), mo.group(2))
            known[last] = ""
        elif last is not None:
            known[last] = (known[last] + " " + line.strip()).strip()
    return known


# ---------------------------------------------------------------------------
# The scratch copy and its build

class Interrupted(Exception):
    pass


SANITIZE = "-O1 -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all"
SANITIZER_ENV = {"ASAN_OPTIONS": "abort_on_error=0:halt_on_error=1:detect_leaks=1:strict_string_checks=1",
                 "UBSAN_OPTIONS": "halt_on_error=1:print_stacktrace=1"}
# What the plain build cannot see but `make asan` does: a missing free is a
# leak, a bound one off an overrun, a flipped null check or guard a leak or
# a bad access. Such survivors run again under ASan.
MEMORY_OPS = {"release", "off-by-one", "boundary", "eq", "logic"}


class Build:
    """One build directory of the scratch tree: its CMake settings and the
    environment its tests run in."""

    def __init__(self, runner, name, settings, env):
        self.runner, self.out, self.settings, self.env = runner, runner.scratch / name, settings, env

    def configure(self, again=False):
        """Configures the build once; `again` runs CMake anyway, so that
        files added, renamed or removed since are in its file lists."""
        cache = self.out / "CMakeCache.txt"
        floor = "KQ_TEST_TIME_FLOOR:STRING=%d\n" % self.runner.floor
        if not again and (self.out / "build.ninja").exists() and floor in cache.read_text():
            return
        rc, log = self.runner.run(["cmake", "-S", str(self.runner.tree), "-B", str(self.out), "-G", "Ninja",
                                   "-DKQ_SHARED_INTERNAL=ON", "-DKQ_TEST_TIME_FLOOR=%d" % self.runner.floor]
                                  + self.settings)
        if rc != 0:
            sys.exit("mutate: the scratch build does not configure:\n" + log[-4000:])

    def build(self):
        self.configure()
        return self.runner.run(["cmake", "--build", str(self.out), "-j", str(self.runner.jobs)])

    def suite(self):
        """Runs the suite, stopping at the first failure unless every test is
        wanted: (failed tests with how they failed, the log)."""
        rc, log = self.runner.run(["ctest", "--test-dir", str(self.out), "-j", str(self.runner.jobs)]
                                  + ([] if self.runner.every_test else ["--stop-on-failure"]), env=self.env)
        failed = re.findall(r"^\s*\d+ - (\S+) \(([^)]*)\)", log.split("The following tests FAILED:")[-1], re.M) \
            if "The following tests FAILED:" in log else []
        if rc != 0 and not failed:
            failed = [("ctest", "exit %d" % rc)]
        return failed, log


class Runner:
    def __init__(self, scratch, jobs, floor, every_test=False):
        self.every_test = every_test
        self.scratch = scratch
        self.tree = scratch / "tree"
        self.jobs = jobs
        self.floor = floor
        self.child = None
        self.plain = Build(self, "out", ["-DCMAKE_BUILD_TYPE=RelWithDebInfo"], None)
        flags = ["-DCMAKE_%s_FLAGS=-fsanitize=address,undefined" % kind for kind in ("EXE_LINKER", "SHARED_LINKER",
                                                                                     "MODULE_LINKER")]
        self.asan = Build(self, "asan-out", ["-DCMAKE_BUILD_TYPE=Debug", "-DCMAKE_CXX_FLAGS=" + SANITIZE,
                                             "-DCMAKE_C_FLAGS=" + SANITIZE] + flags,
                          dict(os.environ, **SANITIZER_ENV))

    def run(self, args, env=None):
        """Runs a command in its own session, so that an interrupt reaches us
        first and we end it and everything it started."""
        self.child = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                      start_new_session=True, env=env)
        try:
            out, _ = self.child.communicate()
            return self.child.returncode, out.decode(errors="replace")
        except BaseException:
            self.stop_child()
            raise
        finally:
            self.child = None

    def stop_child(self):
        child = self.child
        if child is None or child.poll() is not None:
            return
        for sig, wait in ((signal.SIGTERM, 5), (signal.SIGKILL, 5)):
            try:
                os.killpg(child.pid, sig)
            except ProcessLookupError:
                return
            try:
                child.wait(wait)
                return
            except subprocess.TimeoutExpired:
                pass

    def sync(self):
        """Makes the scratch tree a copy of the working tree (tracked and new
        files, as they are on disk); only changed files are written."""
        listed = subprocess.run(["git", "ls-files", "-z", "--cached", "--others", "--exclude-standard"], cwd=ROOT,
                                check=True, capture_output=True).stdout.decode().split("\0")
        wanted = {f for f in listed if f and (ROOT / f).is_file()}
        for rel in sorted(wanted):
            src, dst = ROOT / rel, self.tree / rel
            if dst.is_file() and dst.read_bytes() == src.read_bytes():
                continue
            dst.parent.mkdir(parents=True, exist_ok=True)
            shutil.copyfile(src, dst)
            shutil.copymode(src, dst)
        for path in sorted(self.tree.rglob("*"), reverse=True):
            rel = path.relative_to(self.tree).as_posix()
            if path.is_file() and rel not in wanted:
                path.unlink()
            elif path.is_dir() and not any(path.iterdir()):
                path.rmdir()

    def compiled_sources(self):
        """src/ files the build compiles (sources from the compile database,
        the headers beside them), as paths relative to the tree."""
        self.plain.configure(again=True)
        db = json.loads((self.plain.out / "compile_commands.json").read_text())
        files = set()
        for entry in db:
            path = Path(entry["file"])
            try:
                rel = path.resolve().relative_to(self.tree.resolve()).as_posix()
            except ValueError:
                continue
            if rel.startswith("src/"):
                files.add(rel)
        files.update(p.relative_to(self.tree).as_posix() for p in (self.tree / "src").rglob("*.h"))
        return sorted(files)


def survivors(last_run, tree):
    """The survivors recorded by the last run, found again in the tree."""
    fields = ("file", "line", "col", "end", "new", "op", "text", "context")
    found = [Mutant(**{k: r[k] for k in fields})
             for r in json.loads(last_run.read_text())["mutants"] if r["outcome"] == "survived"]
    return [m for m in found if relocate(tree, m)]


def relocate(tree, m):
    """Finds a survivor of an earlier run again: its line may have moved."""
    lines = (tree / m.file).read_text(errors="surrogateescape").split("\n") if (tree / m.file).exists() else []
    moved = [k + 1 for k, line in enumerate(lines) if line == m.text]
    if not moved:
        print("%s:%d: the line is gone: %s" % (m.file, m.line, m.text.strip()))
        return False
    m.line = min(moved, key=lambda k: abs(k - m.line))
    return True


def try_build(build, m):
    """Builds the mutant and runs the suite on it: False when it does not
    build, else whether some test caught it (recorded in `m`)."""
    rc, log = build.build()
    if rc != 0:
        if re.search(r"error:|undefined reference", log):
            return False
        m.detail = "the build (%s)" % log.strip().splitlines()[-1][:60]
        return True
    failed, _ = build.suite()
    m.killers = [name for name, _ in failed]
    if not failed:
        return None
    m.detail = "%s (%s)" % failed[0] + ("" if len(failed) == 1 else " +%d" % (len(failed) - 1))
    return True


def run_mutant(runner, m, asan):
    """Applies `m` in the scratch tree, builds and runs the suite, puts the
    file back. Returns False when the mutant does not build."""
    path = runner.tree / m.file
    original = path.read_bytes()
    lines = original.decode(errors="surrogateescape").split("\n")
    if m.line > len(lines) or lines[m.line - 1] != m.text:
        raise RuntimeError("%s:%d is not the sampled line" % (m.file, m.line))
    lines[m.line - 1] = m.mutated_line
    start = time.monotonic()
    try:
        path.write_bytes("\n".join(lines).encode(errors="surrogateescape"))
        caught = try_build(runner.plain, m)
        if caught is False:
            return False
        if caught is None and asan and m.op in MEMORY_OPS:
            caught = try_build(runner.asan, m)
            if caught:
                m.detail = "ASan: " + m.detail
        m.outcome = "caught" if caught else "survived"
        return True
    finally:
        path.write_bytes(original)
        m.seconds = time.monotonic() - start


# ---------------------------------------------------------------------------
# Report

def line_for(index, total, m):
    width = len(str(total))
    head = "[%*d/%d] %s:%d %s: %s" % (width, index, total, m.file, m.line, m.op, m.shown().strip())
    if m.outcome == "equivalent":
        return "%s\n    equivalent: %s" % (head, m.detail)
    if m.outcome == "caught":
        return "%s\n    caught by %s, %.0f s" % (head, m.detail, m.seconds)
    return "%s\n    SURVIVED, %.0f s   key: %s" % (head, m.seconds, m.key)


def summary(done, discarded, started):
    rows = {}
    for m in done:
        r = rows.setdefault(m.subsystem, [0, 0, 0])
        r[0] += 1
        r[1] += m.outcome == "equivalent"
        r[2] += m.outcome == "caught"
    print("\n%-12s %7s %10s %8s %6s" % ("subsystem", "mutants", "equivalent", "caught", "score"))
    total = [0, 0, 0]
    for name in sorted(rows):
        r = rows[name]
        total = [a + b for a, b in zip(total, r)]
        scored = r[0] - r[1]
        print("%-12s %7d %10d %8s %6s" % (name, r[0], r[1], "%d/%d" % (r[2], scored),
                                          "%d %%" % round(100 * r[2] / scored) if scored else "-"))
    scored = total[0] - total[1]
    print("%-12s %7d %10d %8s %6s" % ("overall", total[0], total[1], "%d/%d" % (total[2], scored),
                                      "%d %%" % round(100 * total[2] / scored) if scored else "-"))
    elapsed = time.monotonic() - started
    ran = [m for m in done if m.outcome != "equivalent"]
    print("\n%d mutants in %d min %d s (%.0f s per mutant run); %d did not compile and were replaced"
          % (len(done), elapsed // 60, elapsed % 60, sum(m.seconds for m in ran) / max(1, len(ran)), discarded))
    survivors = [m for m in done if m.outcome == "survived"]
    if survivors:
        print("A survivor that changes no behaviour goes into tests/mutants-equivalent.txt: its key, the change,"
              " and an indented line saying why.")


def catches(runner, done):
    """How many mutants each test caught; the tests that caught none first."""
    _, listing = runner.run(["ctest", "--test-dir", str(runner.plain.out), "-N"])
    counts = {name: 0 for name in re.findall(r"Test\s+#\d+: (\S+)", listing)}
    for m in done:
        for name in set(m.killers):
            counts[name] = counts.get(name, 0) + 1
    print("\nmutants caught per test (whole suite on each mutant):")
    for name, n in sorted(counts.items(), key=lambda kv: (kv[1], kv[0])):
        print("%4d  %s" % (n, name))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--mutants", type=int, default=int(os.environ.get("MUTANTS", 100)))
    parser.add_argument("--seed", default=os.environ.get("SEED", "1"))
    parser.add_argument("--jobs", type=int, default=2, help="build and test jobs (default 2)")
    parser.add_argument("--floor", type=int, default=20, help="shortest per-test time limit in seconds (default 20)")
    parser.add_argument("--scratch", type=Path, default=ROOT / "build" / "mutate")
    parser.add_argument("--only", metavar="REGEX", help="sample only the src/ files whose path matches")
    parser.add_argument("--no-asan", dest="asan", action="store_false",
                        help="do not run memory-related survivors again under AddressSanitizer")
    parser.add_argument("--every-test", action="store_true",
                        help="run the whole suite on each mutant and count what each test catches")
    parser.add_argument("--list", action="store_true", help="print the sample without building")
    parser.add_argument("--survivors", action="store_true", help="run the last run's survivors again")
    args = parser.parse_args()

    def interrupted(signum, frame):
        raise Interrupted()

    for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(sig, interrupted)

    runner = Runner(args.scratch.resolve(), args.jobs, args.floor, args.every_test)
    inside = ROOT == runner.tree or ROOT in runner.tree.parents
    if inside and (ROOT / "build") not in runner.tree.parents:
        sys.exit("mutate: the scratch copy must live under build/ or outside the working tree")
    started = time.monotonic()
    done, discarded = [], 0
    try:
        runner.tree.mkdir(parents=True, exist_ok=True)
        runner.sync()
        equivalents = read_equivalents()
        last_run = args.scratch / "last-run.json"
        if args.survivors:
            queue = {"survivors": survivors(last_run, runner.tree)}
            share = {"survivors": len(queue["survivors"])}
        else:
            files = [f for f in runner.compiled_sources() if not args.only or re.search(args.only, f)]
            subsystems = candidates(runner.tree, files)
            share = quotas(subsystems, args.mutants)
            queue = sample_streams(subsystems, args.seed)
        total = sum(share.values())
        if args.list:
            for name in sorted(queue):
                for m in queue[name][:share[name]]:
                    print("%s:%d %s: %s" % (m.file, m.line, m.op, m.shown().strip()))
            return 0
        if args.survivors:
            print("mutate: the last run's %d survivors again" % total, flush=True)
        else:
            print("mutate: seed %s, %d mutants over %s" % (args.seed, total,
                  ", ".join("%s %d" % (k, v) for k, v in sorted(share.items()) if v)), flush=True)
        rc, log = runner.plain.build()
        if rc != 0:
            sys.exit("mutate: the tree does not build:\n" + log[-4000:])
        failed, log = runner.plain.suite()
        if failed:
            sys.exit("mutate: the suite fails without any mutant: %s" % ", ".join("%s (%s)" % f for f in failed))
        if args.asan and any(m.op in MEMORY_OPS for name in queue for m in queue[name][:share[name]]):
            print("mutate: building the tree under ASan for memory-related survivors", flush=True)
            rc, log = runner.asan.build()
            failed, log = runner.asan.suite() if rc == 0 else ([("the build", "failed")], log)
            if failed:
                sys.exit("mutate: the suite fails under ASan without any mutant: %s"
                         % ", ".join("%s (%s)" % f for f in failed))
        for name in sorted(queue):
            stream = queue[name]
            picked = sorted(stream[:share[name]], key=lambda m: (m.file, m.line))
            spare = iter(stream[share[name]:])
            while picked:
                m = picked.pop(0)
                if m.key in equivalents:
                    m.outcome, m.detail = "equivalent", equivalents[m.key]
                elif not run_mutant(runner, m, args.asan):
                    discarded += 1
                    nxt = next(spare, None)
                    if nxt is not None:
                        picked.insert(0, nxt)
                    continue
                done.append(m)
                print(line_for(len(done), total, m), flush=True)
        last_run.write_text(json.dumps({"seed": args.seed, "mutants": [m.record() for m in done]}, indent=1))
    except Interrupted:
        runner.stop_child()
        print("\nmutate: interrupted; the scratch copy is restored, the working tree was never touched")
        if done:
            summary(done, discarded, started)
        return 130
    summary(done, discarded, started)
    if args.every_test:
        catches(runner, done)
    return 0


if __name__ == "__main__":
    sys.exit(main())
