"""What the tests of keyreport.exe share: the report cases (tests/report/cases.txt) for the runs
under Wine (wine_end_to_end.py) and emulated (emulated_end_to_end.py), their command line, case
loop and comparison with the reference model's output, and the imports the program may make.

Each case: name, Test.txt bytes (None: no file), and the set of its notes.
"""

import argparse
import os
import re
import subprocess
import time

PROMPT = b"Press any key to exit..."
LINE_BREAK = b"\r\n"

KEY_IN_BOX = "key-in-box"
PICTURE = "picture"
HELD_READING = "held-reading"
HELD_WRITING = "held-writing"

TABLE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "report", "cases.txt")


def contents(text):
    """The bytes a table's contents field (bytes) stands for: \\xHH, \\\\, {N*text}, {HH-HH}."""
    def expand(match):
        byte, escaped, count, piece, first, last = match.groups()
        if byte or escaped:
            return bytes([int(byte, 16)]) if byte else escaped
        if count:
            return contents(piece) * int(count)
        first, last = int(first, 16), int(last, 16)
        step = -1 if first > last else 1
        return bytes(range(first, last + step, step))
    return re.sub(rb"\\x(..)|\\(.)|\{(\d+)\*([^}]*)\}|\{(..)-(..)\}", expand, text)


def read_cases():
    cases = []
    with open(TABLE, "rb") as table:
        for line in table:
            if line.strip() and not line.startswith(b"#"):
                name, notes, *text = line.rstrip(b"\n").split(None, 2)
                notes = set(notes.decode().split(","))
                cases.append((name.decode(), None if "no-file" in notes else
                              contents(b"".join(text)), notes))
    return cases


CASES = read_cases()

# The functions keyreport.exe imports, by DLL; from msvcrt, the compiler may also call its own
# helpers for block moves and fills.
IMPORTS = {
    "kernel32.dll": {"CreateFileA", "ReadFile", "lstrcpyA", "ExitProcess", "GetProcessHeap",
                     "HeapAlloc", "GetStdHandle", "WriteFile", "FlushConsoleInputBuffer",
                     "Sleep", "MultiByteToWideChar"},
    "user32.dll": {"MessageBoxA", "MessageBoxW"},
    "msvcrt.dll": {"_kbhit", "_getch"},
}
COMPILER_HELPERS = {"msvcrt.dll": {"memcpy", "memmove", "memset", "memcmp"}}


def ansi_text(data):
    """Bytes as a box given them shows them in the ANSI code page 1252; the five bytes that
    code page leaves undefined show as the control characters of the same number."""
    return "".join(bytes([b]).decode("cp1252", errors="ignore") or chr(b) for b in data)


def box_text(value):
    """The characters the program's box shows for a value's bytes: valid UTF-8 in its own
    characters, any other text as ansi_text."""
    try:
        return value.decode("utf-8")
    except UnicodeDecodeError:
        return ansi_text(value)


class CaseFailure(Exception):
    pass


def expect(condition, message):
    if not condition:
        raise CaseFailure(message)


def case_folder(root, number, contents):
    """A new folder for case number in root, holding its Test.txt (none for a case without)."""
    folder = os.path.join(root, "case-%d" % number)
    os.makedirs(folder)
    if contents is not None:
        with open(os.path.join(folder, "Test.txt"), "wb") as out:
            out.write(contents)
    return folder


def read_expected(printed):
    """What reference_run printed: the console output, each box's text, the output when each
    box opens (at the end of a dump's empty line) and the output while the run waits for its
    key."""
    console, *boxes = [bytes.fromhex(line.decode()) for line in printed.split()]
    ends, at = [], 0
    while True:
        found = console.find(b"\r\n\r\n", at)
        if found < 0 or console.startswith(PROMPT, at):
            break
        at = found + 4
        ends.append(at)
    return console, boxes, [console[:end] for end in ends], console[:-len(LINE_BREAK)]


def shown(data, limit=160):
    text = repr(bytes(data))
    return text if len(text) <= limit else text[:limit] + "..."


def expect_output(what, actual, expected):
    """The output a run gave is the one expected, else the case fails where the two part."""
    at = 0
    while at < min(len(actual), len(expected)) and actual[at] == expected[at]:
        at += 1
    start = max(0, at - 16)
    expect(actual == expected, "%s: %d bytes, expected %d; they part at byte %d: %s against %s"
           % (what, len(actual), len(expected), at, shown(actual[start:at + 48]),
              shown(expected[start:at + 48])))


def expect_run(expected, texts, at_boxes, waiting, output, code, note=""):
    """A run as read_expected's reference has it: each box's text (the characters shown) and
    the output when it opened, the output while the run waited for its key and at its end, and
    exit code 0; note follows a box's text that differs."""
    console, boxes, stages, before_key = expected
    expect(len(texts) == len(boxes), "%d boxes shown, expected %d: %r"
           % (len(texts), len(boxes), texts))
    for index, (text, at_box, wanted) in enumerate(zip(texts, at_boxes, boxes)):
        expect(text == box_text(wanted), "box %d shows %r, expected %r%s"
               % (index + 1, text, box_text(wanted), note))
        expect_output("output when box %d opened" % (index + 1), at_box, stages[index])
    expect_output("output while waiting for a key", waiting, before_key)
    expect_output("output at the end", output, console)
    expect(str(code) == "0", "exit code %s" % code)


def parse_arguments(doc, builds, files, options):
    """The command line: --build, the files given ({option: help}, made absolute), the other
    options given, and --only."""
    parser = argparse.ArgumentParser(description=doc,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", choices=sorted(builds), default="win32",
                        help="which Windows build: win32 (PE32) or win64 (PE32+)")
    for name, what in files.items():
        parser.add_argument("--" + name, required=True, help=what)
    for name, what in options.items():
        parser.add_argument("--" + name, help=what)
    parser.add_argument("--only", type=int, help="run this case only (numbered from 1)")
    args = parser.parse_args()
    for name in files:
        name = name.replace("-", "_")
        setattr(args, name, os.path.abspath(getattr(args, name)))
    return args


def run_cases(only, run_case, summary=lambda: ""):
    """Runs each case, or case number only, as run_case(number, contents, notes), which returns
    what the PASS line tells of it; prints a line a case and how many failed, with what
    summary() adds. Returns the exit code."""
    failures = 0
    for number, (name, contents, notes) in enumerate(CASES, start=1):
        if only and number != only:
            continue
        started = time.monotonic()
        try:
            told = run_case(number, contents, notes)
            print("PASS %d %s (%s, %.2f s)" % (number, name, told, time.monotonic() - started),
                  flush=True)
        except (CaseFailure, RuntimeError, OSError, subprocess.SubprocessError) as failure:
            failures += 1
            print("FAIL %d %s: %s" % (number, name, failure), flush=True)
    print("%d of %d cases failed%s" % (failures, 1 if only else len(CASES), summary()))
    return 1 if failures else 0
