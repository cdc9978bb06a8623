#!/usr/bin/env python3
"""Every line the library and its tools print is explained on docs/messages.md.

    messages_test.py [--list] [ROOT]   check (or list) the texts of ROOT/src and ROOT/tools
    messages_test.py --self-test       check the extraction itself on a sample

The texts are taken from the C++ sources, comments left out, wherever a line
leaves the program:
  - calls of the console sink (consoleError, consoleOutput), of printf,
    fprintf, fputs, puts and perror, of BG_LOG and of a logger's log();
  - std::cerr, std::cout and std::clog streams;
  - thrown exceptions, whose what() the callers print;
  - helpers: a function that passes one of its text parameters to any of the
    above (or streams it into what it throws) makes its callers' texts count
    at that parameter, and the texts streamed in its body count too;
  - a constant of the same file named instead of a literal (fputs(kUsage, ...)).
Adjacent literals are joined. A text counts when it holds a word of two
letters or more once its printf conversions are taken out; it must appear on
the page, whitespace runs read as one space (so a multi-line usage text may be
shown as it prints). A new subsystem or tool under src/ or tools/ is read as
it comes: documenting its lines means editing docs/messages.md only.
"""
import os
import re
import sys

EMITTERS = r"consoleError|consoleOutput|printf|fprintf|vfprintf|fputs|puts|perror|BG_LOG"
CALL = re.compile(r"(?<![\w.>])(?:[\w:]*::)?(" + EMITTERS + r")\s*\(|(?:->|\.)\s*(log)\s*\(|\bthrow\s+([\w:<>]+)\s*\(")
STREAM = re.compile(r"\bstd::(?:cerr|cout|clog)\s*<<")
CHAIN = re.compile(r"<<")
STRING = re.compile(r'(?:\b(?:u8|u|U|L)?R"([^(\s]*)\((.*?)\)\1"|(?:\b(?:u8|u|U|L))?"((?:[^"\\\n]|\\.)*)")', re.S)
CONSTANT = re.compile(
    r"\b(?:const|constexpr)\s+(?:const\s+)?(?:char|std::string)\s*(?:\*\s*(?:const\s+)?)?(\w+)\s*(?:\[\s*\])?\s*=\s*"
    r"((?:\"(?:[^\"\\\n]|\\.)*\"\s*)+);")
FUNCTION = re.compile(r"(?<![\w:])([A-Za-z_]\w*)\s*\(([^()]*)\)\s*(?:const\s*)?(?:noexcept\s*)?\{")
TEXT_PARAM = re.compile(r"(?:char\s*\*|std::string\s*&?|string\s*&?|string_view)\s*(\w+)\s*$")
CONVERSION = re.compile(r"%[-+ #0']*(?:\*|\d+)?(?:\.(?:\*|\d+))?(?:hh|h|ll|l|L|z|j|t|I64)?[diouxXeEfFgGaAcspn%]")
WORD = re.compile(r"[A-Za-z]{2,}")
ESCAPE = re.compile(r"\\(x[0-9a-fA-F]+|[0-7]{1,3}|.)", re.S)
SIMPLE_ESCAPES = {"n": "\n", "t": "\t", "r": "\r", "a": "\a", "b": "\b", "f": "\f", "v": "\v", "0": "\0"}


def strip_comments(code):
    """`code` with every comment blanked (newlines kept), literals untouched."""
    out, i, n = [], 0, len(code)
    while i < n:
        c = code[i]
        if code.startswith("//", i):
            j = code.find("\n", i)
            j = n if j < 0 else j
            out.append(" " * (j - i))
            i = j
        elif code.startswith("/*", i):
            j = code.find("*/", i + 2)
            j = n if j < 0 else j + 2
            out.append(re.sub(r"[^\n]", " ", code[i:j]))
            i = j
        elif c in "\"'":
            m = STRING.match(code, i) if c == '"' else re.compile(r"'(?:[^'\\\n]|\\.)*'").match(code, i)
            j = m.end() if m else i + 1
            out.append(code[i:j])
            i = j
        elif c == "R" and code.startswith('R"', i) and not (i and (code[i - 1].isalnum() or code[i - 1] == "_")):
            m = STRING.match(code, i)
            j = m.end() if m else i + 1
            out.append(code[i:j])
            i = j
        else:
            out.append(c)
            i += 1
    return "".join(out)


def unescape(body):
    def one(m):
        e = m.group(1)
        if e[0] == "x":
            return chr(int(e[1:], 16) & 0xFF)
        if e[0] in "01234567":
            return chr(int(e, 8) & 0xFF)
        return SIMPLE_ESCAPES.get(e, e)
    return ESCAPE.sub(one, body)


def literal_runs(expr):
    """The texts of `expr`: each run of adjacent string literals, joined."""
    runs, last_end, current = [], None, None
    for m in STRING.finditer(expr):
        text = m.group(2) if m.group(2) is not None else unescape(m.group(3))
        if current is not None and expr[last_end:m.start()].strip() == "":
            current += text
        else:
            if current is not None:
                runs.append(current)
            current = text
        last_end = m.end()
    if current is not None:
        runs.append(current)
    return runs


def closing(code, open_at):
    """Index of the bracket closing the one at `open_at` (literals skipped)."""
    pairs = {"(": ")", "{": "}", "[": "]"}
    depth, i = 0, open_at
    while i < len(code):
        c = code[i]
        if c == '"':
            m = STRING.match(code, i)
            i = m.end() if m else i + 1
            continue
        if c == "'":
            m = re.compile(r"'(?:[^'\\\n]|\\.)*'").match(code, i)
            i = m.end() if m else i + 1
            continue
        if c in pairs:
            depth += 1
        elif c in pairs.values():
            depth -= 1
            if depth == 0:
                return i
        i += 1
    return len(code) - 1


def split_args(inner):
    """The top-level, comma-separated arguments of a call's inside."""
    args, depth, start, i = [], 0, 0, 0
    while i < len(inner):
        c = inner[i]
        if c == '"':
            m = STRING.match(inner, i)
            i = m.end() if m else i + 1
            continue
        if c in "([{":
            depth += 1
        elif c in ")]}":
            depth -= 1
        elif c == "," and depth == 0:
            args.append(inner[start:i])
            start = i + 1
        i += 1
    args.append(inner[start:])
    return args


def statement_end(code, at):
    depth, i = 0, at
    while i < len(code):
        c = code[i]
        if c == '"':
            m = STRING.match(code, i)
            i = m.end() if m else i + 1
            continue
        if c in "([{":
            depth += 1
        elif c in ")]}":
            depth -= 1
        elif c == ";" and depth <= 0:
            return i
        i += 1
    return len(code)


def emit_points(code):
    """(position, argument texts) of every place a line leaves the program."""
    points = []
    for m in CALL.finditer(code):
        open_at = code.index("(", m.end() - 1)
        inner = code[open_at + 1:closing(code, open_at)]
        points.append((m.start(), split_args(inner)))
    for m in STREAM.finditer(code):
        points.append((m.start(), [code[m.end():statement_end(code, m.end())]]))
    return points


def functions(code):
    """(name, text parameters, body start, body end) of each function defined in `code`."""
    found = []
    for m in FUNCTION.finditer(code):
        if m.group(1) in ("if", "for", "while", "switch", "catch", "return", "sizeof"):
            continue
        params = []
        for index, p in enumerate(split_args(m.group(2))):
            t = TEXT_PARAM.search(p.split("=")[0].strip())
            if t:
                params.append((index, t.group(1)))
        body = m.end() - 1
        found.append((m.group(1), params, body, closing(code, body)))
    return found


def helpers_of_file(code):
    """{function name: indexes of its text parameters that reach a printed line}."""
    code = strip_comments(code)
    points = emit_points(code)
    found = {}
    for name, params, start, end in functions(code):
        inside = [args for pos, args in points if start < pos < end]
        if not inside:
            continue
        body = code[start:end]
        used = " ".join(" ".join(args) for args in inside) + " " + " ".join(
            body[c.end():statement_end(body, c.end())] for c in CHAIN.finditer(body))
        for index, param in params:
            if re.search(r"\b" + re.escape(param) + r"\b", used):
                found.setdefault(name, set()).add(index)
    return found


def texts_of_file(code, helpers=None):
    """(line number, text) of every printed line of one source file; `helpers`
    are those of the whole tree (this file's own when not given)."""
    code = strip_comments(code)
    helpers = helpers_of_file(code) if helpers is None else helpers
    constants = {m.group(1): "".join(literal_runs(m.group(2))) for m in CONSTANT.finditer(code)}
    line_of = lambda pos: code.count("\n", 0, pos) + 1
    texts = []

    def take(pos, expr):
        name = expr.strip()
        runs = literal_runs(expr) + ([constants[name]] if name in constants else [])
        for run in runs:
            texts.extend((line_of(pos), line) for line in run.split("\n"))

    points = emit_points(code)
    for pos, args in points:
        for a in args:
            take(pos, a)
    definitions = []
    for name, params, start, end in functions(code):
        definitions.append((start, end))
        if not any(start < pos < end for pos, _ in points):
            continue
        body = code[start:end]
        for c in CHAIN.finditer(body):
            take(start + c.start(), body[c.end():statement_end(body, c.end())].split("<<")[0])
    for name, indexes in helpers.items():
        for call in re.finditer(r"(?<![\w:.>])" + re.escape(name) + r"\s*\(", code):
            if any(start - 300 < call.start() < start for start, _ in definitions):
                continue  # a definition, not a call
            open_at = code.index("(", call.end() - 1)
            args = split_args(code[open_at + 1:closing(code, open_at)])
            for index in indexes:
                if index < len(args):
                    take(call.start(), args[index])
    return [(line, t) for line, t in texts if WORD.search(CONVERSION.sub("", t))]


def squeeze(text):
    return " ".join(text.split())


def sources(root):
    for top in ("src", "tools"):
        for folder, _, files in os.walk(os.path.join(root, top)):
            for f in sorted(files):
                if f.endswith((".cpp", ".h")):
                    yield os.path.join(folder, f)


def check(root, listing):
    page = squeeze(open(os.path.join(root, "docs", "messages.md"), encoding="utf-8").read())
    missing, count = [], 0
    files = {path: open(path, encoding="utf-8").read() for path in sources(root)}
    helpers = {}
    for code in files.values():
        for name, indexes in helpers_of_file(code).items():
            helpers.setdefault(name, set()).update(indexes)
    for path, code in files.items():
        rel = os.path.relpath(path, root)
        for line, text in texts_of_file(code, helpers):
            count += 1
            if listing:
                print(f"{rel}:{line}: {squeeze(text)}")
            elif squeeze(text) not in page:
                missing.append(f"{rel}:{line}: {squeeze(text)}")
    if listing:
        return 0
    for m in missing:
        print(f"not on docs/messages.md: {m}")
    print(f"messages: {count} printed texts read, {len(missing)} missing from docs/messages.md")
    return 1 if missing or count == 0 else 0


SAMPLE = r'''
const char kUsage[] = "usage: tool A\n"
                      "  and more\n";
void complain(const char* message) { platform::consoleError("%s", message); }
[[noreturn]] void fail(const char* what) {
  std::ostringstream os;
  os << what << ", code=" << 3;
  throw std::runtime_error(os.str());
}
int f(bool flag, const char* s) {
  // consoleError("in a line comment");
  /* printf("in a block comment"); */
  platform::consoleError("plain %s line\n", s);
  BG_LOG(ERROR, "log %d " "joined", 3);
  fprintf(stderr,
          "multi %-20s\n", flag ? "yes please" : "no");
  complain("helper text\n");
  fail("thrown by helper");
  throw std::out_of_range("direct throw");
  std::cerr << "streamed " << 4 << " items\n";
  fputs(kUsage, stdout);
  printf("%s: %d\n", s, 1);
  m_logger->log(2, "method log %s\n", s);
  std::string t = "not printed";
  return snprintf(buf, 4, "formatted, not printed");
}
'''
OTHER_FILE = r'''
void g() { complain("from another file"); }
'''
SAMPLE_TEXTS = {"usage: tool A", "and more", "plain %s line", "log %d joined", "multi %-20s", "yes please", "no",
                "helper text", "thrown by helper", ", code=", "direct throw", "streamed", "items",
                "method log %s"}


def self_test():
    got = {squeeze(t) for _, t in texts_of_file(SAMPLE)}
    got |= {squeeze(t) for _, t in texts_of_file(OTHER_FILE, helpers_of_file(SAMPLE))}
    if got == SAMPLE_TEXTS | {"from another file"}:
        print(f"messages extraction: the {len(got)} sample texts found, nothing else")
        return 0
    want = SAMPLE_TEXTS | {"from another file"}
    print("messages extraction: missed", sorted(want - got), "; took", sorted(got - want))
    return 1


def main(argv):
    if "--self-test" in argv:
        return self_test()
    rest = [a for a in argv if not a.startswith("--")]
    root = rest[0] if rest else os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    return check(root, "--list" in argv)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
