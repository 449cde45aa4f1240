#!/usr/bin/env python3
"""Checks the make-up of keyreport.exe with objdump: a small console program, PE32 for
Intel 80386 (win32) or PE32+ for x86-64 (win64), entered at RunKeyReport, with no runtime
start-up, no static initialisers and no imports beyond the calls the program makes."""

import argparse
import os
import re
import subprocess
import sys

SIZE_LIMIT = 8 * 1024

# Per build: objdump's name for the file format and the optional header's Magic.
BUILDS = {
    "win32": ("pei-i386", "010b"),
    "win64": ("pei-x86-64", "020b"),
}

KERNEL32 = {
    "CreateFileA", "ReadFile", "lstrcpyA", "ExitProcess", "GetProcessHeap", "HeapAlloc",
    "GetStdHandle", "WriteFile", "FlushConsoleInputBuffer", "Sleep", "MultiByteToWideChar",
}
USER32 = {"MessageBoxA", "MessageBoxW"}
MSVCRT = {"_kbhit", "_getch"}
# What the compiler may call on its own for block moves and fills.
MSVCRT_COMPILER_HELPERS = {"memcpy", "memmove", "memset", "memcmp"}

# Sections that carry runtime start-up, static initialisers or thread-local data.
START_UP_SECTIONS = {".CRT", ".ctors", ".dtors", ".init", ".fini", ".tls", ".init_array"}

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)


def objdump(objdump_tool, flag, exe):
    return subprocess.run([objdump_tool, flag, exe], check=True, stdout=subprocess.PIPE,
                          universal_newlines=True).stdout


def header_field(dump, name):
    found = re.search(r"^%s\s+(\S+)" % re.escape(name), dump, re.MULTILINE)
    return found.group(1) if found else None


def imports(dump):
    """{dll name in lower case: set of imported names}"""
    table = {}
    current = None
    for line in dump.splitlines():
        dll = re.match(r"\s*DLL Name: (\S+)", line)
        if dll:
            current = table.setdefault(dll.group(1).lower(), set())
            continue
        entry = re.match(r"\s*[0-9a-f]+\s+\d+\s+(\S+)\s*$", line)
        if entry and current is not None:
            current.add(entry.group(1))
    return table


def entry_symbol_address(map_file):
    with open(map_file) as text:
        found = re.search(r"^\s+0x([0-9a-f]+)\s+_?RunKeyReport\s*$", text.read(), re.MULTILINE)
    return int(found.group(1), 16) if found else None


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--build", required=True, choices=sorted(BUILDS))
    parser.add_argument("--objdump", required=True)
    parser.add_argument("--exe", required=True)
    parser.add_argument("--map", required=True, help="the linker's map of keyreport.exe")
    args = parser.parse_args()

    size = os.path.getsize(args.exe)
    check(size <= SIZE_LIMIT, "keyreport.exe is %d bytes, over %d" % (size, SIZE_LIMIT))

    file_format, magic = BUILDS[args.build]
    private = objdump(args.objdump, "-p", args.exe)
    check("file format %s\n" % file_format in private, "not a %s file" % file_format)
    check(header_field(private, "Magic") == magic, "Magic %s, expected %s"
          % (header_field(private, "Magic"), magic))
    check(re.search(r"^Subsystem\s+00000003\s+\(Windows CUI\)", private, re.MULTILINE),
          "not a console program")

    entry = int(header_field(private, "AddressOfEntryPoint"), 16)
    base = int(header_field(private, "ImageBase"), 16)
    run_key_report = entry_symbol_address(args.map)
    check(run_key_report is not None, "RunKeyReport is not in the link map")
    check(entry + base == run_key_report, "entry point %08X is not RunKeyReport (%s)"
          % (entry + base, "%08X" % run_key_report if run_key_report else "absent"))

    table = imports(private)
    check(set(table) == {"kernel32.dll", "user32.dll", "msvcrt.dll"},
          "imports from %s" % sorted(table))
    check(table.get("kernel32.dll") == KERNEL32,
          "kernel32 imports differ: extra %s, missing %s"
          % (sorted(table.get("kernel32.dll", set()) - KERNEL32),
             sorted(KERNEL32 - table.get("kernel32.dll", set()))))
    check(table.get("user32.dll") == USER32, "user32 imports %s"
          % sorted(table.get("user32.dll", set())))
    msvcrt = table.get("msvcrt.dll", set())
    check(MSVCRT <= msvcrt, "msvcrt lacks %s" % sorted(MSVCRT - msvcrt))
    check(msvcrt <= MSVCRT | MSVCRT_COMPILER_HELPERS,
          "msvcrt imports beyond the key functions: %s"
          % sorted(msvcrt - MSVCRT - MSVCRT_COMPILER_HELPERS))

    headers = objdump(args.objdump, "-h", args.exe)
    sections = set(re.findall(r"^\s*\d+\s+(\S+)", headers, re.MULTILINE))
    check(not sections & START_UP_SECTIONS, "start-up sections %s"
          % sorted(sections & START_UP_SECTIONS))
    check(re.search(r"Entry 9 0+ 0+ Thread Storage", private),
          "has a thread-local storage directory (start-up callbacks)")

    print("keyreport.exe: %d bytes; sections %s; imports %s"
          % (size, " ".join(sorted(sections)),
             "; ".join("%s: %s" % (dll, " ".join(sorted(names)))
                       for dll, names in sorted(table.items()))))
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
