"""The end-to-end cases of keyreport.exe, shared by the run under Wine (wine_end_to_end.py)
and the run of its machine code under emulation (emulated_end_to_end.py).

Each case: name, Test.txt contents, what else the case does. The contents are plain ASCII
bytes, or a text with the encoding it is saved in, in which each box must then show the
characters of the value that the reference model cuts from those bytes; None: no file. Boxes
given bytes read them in the ANSI code page 1252, as under Wine. Below them, what both runs
use to read the reference model's output, compare a run's with it, and fail a case.
"""

import os

PROMPT = b"Press any key to exit..."
LINE_BREAK = b"\r\n"

KEY_IN_BOX = "press a key in the console while the last box is open"
PICTURE = "photograph the first box for the documentation (--screenshot)"
HELD_READING = "another program holds Test.txt open for reading, sharing it for reading only"
HELD_WRITING = "another program holds Test.txt open for writing, sharing it"

CASES = [
    ("two values, key pressed while the second box is open", b"str1=hello&str2=world&",
     {KEY_IN_BOX}),
    ("keys in reverse order among other text", b"head str2=beta&mid str1=alpha&tail",
     {KEY_IN_BOX}),
    ("key at the start and key twice", b"str1=&x str2=one&str2=two&", set()),
    ("value of 255 bytes, then one without '&' in reach",
     b"str1=" + b"v" * 250 + b"&str2=" + b"w" * 251 + b"&", {KEY_IN_BOX}),
    ("value without '&': no box, no second key", b"str1=alpha str2=beta", set()),
    ("zero byte inside a value", b"str1=ab\0cd&str2=x&", set()),
    ("second key beyond the 500 bytes read", b"str1=a&".ljust(500, b".") + b"str2=b&", set()),
    ("Test.txt held open by another program for reading only", b"str1=held&str2=still read&",
     {HELD_READING}),
    ("Test.txt open for writing in another program", b"str1=being&str2=edited&",
     {HELD_WRITING}),
    ("no Test.txt", None, set()),
    ("UTF-8 values: 2- and 3-byte characters, the second of 255 bytes",
     ("str1=héllo €&str2=" + "€" * 83 + "!&", "utf-8"), {PICTURE}),
    ("UTF-8 values with 4-byte characters", ("str1=𝄞 clef&str2=😀 é€&", "utf-8"), set()),
    ("Windows-1252 values, the first starting like a 4-byte UTF-8 character",
     ("str1=ðŸ˜&str2=café&", "cp1252"), set()),
    # 255 bytes that are 130 characters: 130 UTF-16 units, 131 with the zero after them.
    ("UTF-8 value of 255 bytes, all 2-byte characters after the key",
     ("str1=" + "é" * 125 + "&str2=é&", "utf-8"), set()),
    # 254 characters: the most UTF-16 units a shown value takes with its zero, 255. Then one of
    # 2-byte characters whose '&' is the last byte read.
    ("UTF-8 value of 255 bytes, ASCII but one 2-byte character; '&' as byte 500",
     ("str1=é" + "a" * 248 + "&str2=" + "é" * 119 + "&", "utf-8"), {KEY_IN_BOX}),
]


class CaseFailure(Exception):
    pass


def expect(condition, message):
    if not condition:
        raise CaseFailure(message)


def read_expected(folder, count):
    """What reference_run wrote into folder for a run of count boxes: the console output, and
    each box's text."""
    def read(name):
        with open(os.path.join(folder, name), "rb") as data:
            return data.read()
    return read("console.bin"), [read("box-%d.bin" % i) for i in range(1, count + 1)]


def file_bytes(contents):
    """The case's Test.txt bytes (None for no file) and the encoding its boxes are read in."""
    if isinstance(contents, tuple):
        text, encoding = contents
        return text.encode(encoding), encoding
    return contents, "ascii"


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
