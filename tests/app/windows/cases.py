"""The report cases (tests/report/cases.txt) for the runs of keyreport.exe under Wine
(wine_end_to_end.py) and of its machine code under emulation (emulated_end_to_end.py), and what
both runs use to read the reference model's output, compare a run's with it, and fail a case.

Each case: name, Test.txt bytes (None: no file), and the set of its notes.
"""

import os
import re

PROMPT = b"Press any key to exit..."
LINE_BREAK = b"\r\n"

KEY_IN_BOX = "key-in-box"
PICTURE = "picture"
HELD_READING = "held-reading"
HELD_WRITING = "held-writing"

TABLE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "report",
                     "cases.txt")


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


def box_text(value):
    """The characters a box shows for a value's bytes: valid UTF-8 in its own characters, any
    other text in the ANSI code page 1252, whose five undefined bytes show as the control
    characters of the same number."""
    try:
        return value.decode("utf-8")
    except UnicodeDecodeError:
        return "".join(bytes([b]).decode("cp1252", errors="ignore") or chr(b) for b in value)


class CaseFailure(Exception):
    pass


def expect(condition, message):
    if not condition:
        raise CaseFailure(message)


def read_expected(printed):
    """What reference_run printed: the console output, and each box's text."""
    console, *boxes = [bytes.fromhex(line.decode()) for line in printed.split()]
    return console, boxes


def shown(data, limit=160):
    text = repr(bytes(data))
    return text if len(text) <= limit else text[:limit] + "..."


def difference(actual, expected):
    """Where two outputs part, with a little of each from there."""
    at = 0
    while at < min(len(actual), len(expected)) and actual[at] == expected[at]:
        at += 1
    start = max(0, at - 16)
    return "%d bytes, expected %d; they part at byte %d: %s against %s" % (
        len(actual), len(expected), at, shown(actual[start:at + 48]),
        shown(expected[start:at + 48]))


def dump_stage_ends(console):
    """Where the output stands each time a box opens: the end of each dump's empty line."""
    ends = []
    at = 0
    while True:
        found = console.find(b"\r\n\r\n", at)
        if found < 0 or console.startswith(PROMPT, at):
            break
        at = found + 4
        ends.append(at)
    return ends
