#!/usr/bin/env python3
"""Checks the make-up of keyreport.exe with objdump: a small console program, PE32 for
Intel 80386 (win32) or PE32+ for x86-64 (win64), entered at RunKeyReport, with no runtime
start-up, no static initialisers and no imports beyond the calls the program makes; the
header a current Windows expects (ASLR with a relocation section, DEP, Terminal Server
aware, a valid checksum) and, on x64, an unwind table entry for every function."""

import argparse
import re
import struct
import subprocess
import sys

from cases import COMPILER_HELPERS, IMPORTS

SIZE_LIMIT = 8 * 1024

# Per build: objdump's name for the file format, the optional header's Magic and the
# DllCharacteristics it must have: DYNAMIC_BASE, NX_COMPAT and TERMINAL_SERVER_AWARE, and on
# x64 HIGH_ENTROPY_VA.
BUILDS = {
    "win32": ("pei-i386", "010b", 0x8140),
    "win64": ("pei-x86-64", "020b", 0x8160),
}
# The x64 unwind table's sections, whose file space the size limit leaves out: every x64
# program carries them, and they do not fit in the 8 KiB with the rest.
UNWIND_SECTIONS = {".pdata", ".xdata"}

# Sections that carry runtime start-up, static initialisers or thread-local data.
START_UP_SECTIONS = {".CRT", ".ctors", ".dtors", ".init", ".fini", ".tls", ".init_array"}

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)


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


def function_starts(link_map):
    """Addresses of the code the link map places in .text: each input section with code,
    one function each (-ffunction-sections)."""
    text = re.search(r"^\.text\s.*?(?=^\S)", link_map, re.MULTILINE | re.DOTALL).group(0)
    return {int(start, 16) for start, size in re.findall(
        r"^ \.text\S*\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+\S", text, re.MULTILINE)
        if int(size, 16)}


def pe_checksum(data):
    """The optional header's CheckSum as Windows computes it: the file's 16-bit words summed
    with end-around carry, the field itself taken as zero, plus the file's length."""
    field = struct.unpack_from("<I", data, 0x3C)[0] + 24 + 64
    data = data[:field] + bytes(4) + data[field + 4:] + bytes(len(data) % 2)
    total = sum(struct.unpack("<%dH" % (len(data) // 2), data))
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return total + len(data) - len(data) % 2


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--build", required=True, choices=sorted(BUILDS))
    parser.add_argument("--objdump", required=True)
    parser.add_argument("--exe", required=True)
    parser.add_argument("--map", required=True, help="the linker's map of keyreport.exe")
    args = parser.parse_args()

    with open(args.exe, "rb") as exe:
        data = exe.read()
    with open(args.map) as text:
        link_map = text.read()
    size = len(data)

    file_format, magic, characteristics = BUILDS[args.build]
    private, headers = (subprocess.run([args.objdump, flag, args.exe], check=True, text=True,
                                       stdout=subprocess.PIPE).stdout for flag in ("-p", "-h"))
    check("file format %s\n" % file_format in private, "not a %s file" % file_format)
    check(header_field(private, "Magic") == magic, "Magic %s, expected %s"
          % (header_field(private, "Magic"), magic))
    check(re.search(r"^Subsystem\s+00000003\s+\(Windows CUI\)", private, re.MULTILINE),
          "not a console program")
    flags = int(header_field(private, "DllCharacteristics"), 16)
    check(flags & characteristics == characteristics, "DllCharacteristics %04X lacks %04X"
          % (flags, characteristics & ~flags))
    check(re.search(r"^Entry 5 0*[1-9a-f][0-9a-f]* 0*[1-9a-f][0-9a-f]* Base Relocation",
                    private, re.MULTILINE) and "relocations stripped" not in private,
          "no base relocations: Windows cannot load it at another base")
    checksum = int(header_field(private, "CheckSum"), 16)
    check(checksum == pe_checksum(data), "CheckSum %08X, the file's is %08X"
          % (checksum, pe_checksum(data)))

    entry = int(header_field(private, "AddressOfEntryPoint"), 16)
    base = int(header_field(private, "ImageBase"), 16)
    found = re.search(r"^\s+0x([0-9a-f]+)\s+_?RunKeyReport\s*$", link_map, re.MULTILINE)
    check(found, "RunKeyReport is not in the link map")
    check(found and entry + base == int(found.group(1), 16), "entry point %08X is not "
          "RunKeyReport (%s)" % (entry + base, found.group(1) if found else "absent"))

    table = imports(private)
    check(set(table) == set(IMPORTS), "imports from %s" % sorted(table))
    for dll, wanted in IMPORTS.items():
        got = table.get(dll, set())
        extra = got - wanted - COMPILER_HELPERS.get(dll, set())
        check(wanted <= got and not extra, "%s imports differ: extra %s, missing %s"
              % (dll, sorted(extra), sorted(wanted - got)))

    sections = set(re.findall(r"^\s*\d+\s+(\S+)", headers, re.MULTILINE))
    check(not sections & START_UP_SECTIONS, "start-up sections %s"
          % sorted(sections & START_UP_SECTIONS))
    check(re.search(r"Entry 9 0+ 0+ Thread Storage", private),
          "has a thread-local storage directory (start-up callbacks)")

    # Each function's unwind entry (BeginAddress EndAddress UnwindData, as objdump reads
    # .pdata); 32-bit Windows has none.
    if args.build == "win64":
        unwound = {int(begin, 16) for begin in re.findall(
            r"^ [0-9a-f]+:\s+([0-9a-f]+) [0-9a-f]+ [0-9a-f]+$", private, re.MULTILINE)}
        bare = sorted(function_starts(link_map) - unwound)
        check(not bare, "code without an unwind table entry at %s" % [hex(a) for a in bare])
    # Their file space: each section's size rounded up to the file alignment.
    unwind_size = sum((int(length, 16) + 511) // 512 * 512 for name, length in re.findall(
        r"^\s*\d+\s+(\S+)\s+([0-9a-f]+)", headers, re.MULTILINE) if name in UNWIND_SECTIONS)
    check(size - unwind_size <= SIZE_LIMIT, "keyreport.exe is %d bytes, %d without its unwind "
          "table, over %d" % (size, size - unwind_size, SIZE_LIMIT))

    print("keyreport.exe: %d bytes, %d of them the unwind table's sections; sections %s; "
          "imports %s" % (size, unwind_size, " ".join(sorted(sections)),
             "; ".join("%s: %s" % (dll, " ".join(sorted(names)))
                       for dll, names in sorted(table.items()))))
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
