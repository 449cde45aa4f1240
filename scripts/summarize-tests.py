#!/usr/bin/env python3
"""summarize-tests.py JUNIT [PRESET]: one line for the test command's closing table from the results
ctest wrote (ctest --output-junit JUNIT): the counts of passed, failed and skipped tests,
then what they were: "P F S P tests passed; failed F: name, ...; skipped S: name (reason), ...",
the failed and skipped parts only where there are any. For a Windows preset (win32, win64) the
text begins with the whole runs of the program made: "runs made: Wine and emulated; ...", or
one of them, as a skipped test made none.
A skipped test's reason is the line its output begins with "SKIP:", where it printed one. A
parameterised test's name is given without the "  # GetParam() = ..." that ctest adds to it."""

import sys
import xml.etree.ElementTree as ElementTree

try:
    cases = ElementTree.parse(sys.argv[1]).getroot().iter("testcase")
except (OSError, ElementTree.ParseError) as error:
    print("0 0 0 no test results (%s)" % error)
    sys.exit(0)

passed, failed, skipped = [], [], []
for case in cases:
    name = case.get("name").split("  # GetParam() = ")[0]
    if case.find("skipped") is not None or case.get("status") in ("notrun", "disabled"):
        output = case.findtext("system-out") or ""
        reasons = [line[len("SKIP:"):].strip() for line in output.splitlines()
                   if line.startswith("SKIP:")]
        skipped.append("%s (%s)" % (name, reasons[0] if reasons else "no reason given"))
    elif case.get("status") == "run":
        passed.append(name)
    else:
        failed.append(name)

text = "%d tests passed" % len(passed)
preset = sys.argv[2] if len(sys.argv) > 2 else ""
if preset in ("win32", "win64"):
    runs = [what for what, test in (("Wine", "wine"), ("emulated", "emulated"))
            if "%s_%s_end_to_end" % (preset, test) in passed + failed]
    text = "runs made: %s; %s" % (" and ".join(runs) or "none", text)
if failed:
    text += "; failed %d: %s" % (len(failed), ", ".join(failed))
if skipped:
    text += "; skipped %d: %s" % (len(skipped), ", ".join(skipped))
print(len(passed), len(failed), len(skipped), text)
