#!/usr/bin/env python3
"""Refreshes tests/test-times.txt from the last runs of the suite.

Each test's time limit is a few times its usual run in the build at hand
(tests/CMakeLists.txt reads the table), so a hung test fails the suite fast.
Run `make test`, `make asan` and `make tsan` first: ctest keeps each test's
average time in build/<preset>/Testing/Temporary/CTestCostData.txt (tests
that left the suite stay in it, so the suite's own list decides). A build
that was not run keeps its column.
"""

import math
import re
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
TABLE = ROOT / "tests" / "test-times.txt"
COLUMNS = ("default", "asan", "tsan")
HEADER = """\
# Seconds each test usually takes (rounded up), in the plain build, under
# AddressSanitizer and under ThreadSanitizer, measured on a loaded 2-core
# machine. A test's time limit is five times its time in the build at hand and
# at least KQ_TEST_TIME_FLOOR (30 s); a test missing here gets the floor.
# Refresh with scripts/test-times.py after make test, make asan and make tsan.
# test{pad} default asan tsan
"""


def measured(preset):
    """test name -> seconds, from ctest's record of the preset's runs."""
    path = ROOT / "build" / preset / "Testing" / "Temporary" / "CTestCostData.txt"
    times = {}
    if not path.exists():
        return None
    for line in path.read_text().splitlines():
        if line.startswith("---"):
            break  # the failed tests of the last run follow
        parts = line.split()
        if len(parts) == 3:
            times[parts[0]] = max(1, math.ceil(float(parts[2])))
    return times


def current_tests():
    """The names of the suite's tests, from the first build that has one."""
    for preset in COLUMNS:
        out = ROOT / "build" / preset
        if (out / "CTestTestfile.cmake").exists():
            listing = subprocess.run(["ctest", "--test-dir", str(out), "-N"], capture_output=True, text=True).stdout
            return set(re.findall(r"Test\s+#\d+: (\S+)", listing))
    sys.exit("test-times: no build of the suite yet")


def main():
    table = {}
    if TABLE.exists():
        for line in TABLE.read_text().splitlines():
            if line.strip() and not line.startswith("#"):
                name, *cols = line.split()
                table[name] = [int(c) for c in cols]
    runs = [measured(p) for p in COLUMNS]
    if all(r is None for r in runs):
        sys.exit("test-times: no build has run the suite yet")
    suite = current_tests()
    for col, run in enumerate(runs):
        for name, seconds in (run or {}).items():
            table.setdefault(name, [1] * len(COLUMNS))[col] = seconds
    table = {name: cols for name, cols in table.items() if name in suite}
    width = max(len(n) for n in table)
    text = HEADER.format(pad=" " * (width - 6))
    for name in sorted(table):
        text += "%-*s %7d %4d %4d\n" % (width, name, *table[name])
    TABLE.write_text(text)
    print("test-times: %d tests in %s" % (len(table), TABLE.relative_to(ROOT)))


if __name__ == "__main__":
    main()
