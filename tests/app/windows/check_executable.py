#!/usr/bin/env python3
"""The make-up of keyreport.exe, read with pefile, as docs/windows.md tells: a small console
program (PE32 or PE32+), entered at RunKeyReport, with no runtime start-up and no imports
beyond the calls the program makes, and the header a current Windows expects."""

import argparse
import re
import sys

import pefile

from cases import COMPILER_HELPERS, IMPORTS

SIZE_LIMIT = 8 * 1024

# Per build: the machine, the optional header's Magic and the DllCharacteristics it must have:
# DYNAMIC_BASE, NX_COMPAT and TERMINAL_SERVER_AWARE, and on x64 HIGH_ENTROPY_VA.
BUILDS = {"win32": ("IMAGE_FILE_MACHINE_I386", 0x10B, 0x8140),
          "win64": ("IMAGE_FILE_MACHINE_AMD64", 0x20B, 0x8160)}
# The x64 unwind table's sections, whose file space the size limit leaves out: every x64
# program carries them, and they do not fit in the 8 KiB with the rest.
UNWIND_SECTIONS = {".pdata", ".xdata"}

# Sections that carry runtime start-up, static initialisers or thread-local data.
START_UP_SECTIONS = {".CRT", ".ctors", ".dtors", ".init", ".fini", ".tls", ".init_array"}

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)


def function_starts(link_map):
    """Addresses of the code the link map places in .text: each input section with code,
    one function each (-ffunction-sections)."""
    text = re.search(r"^\.text\s.*?(?=^\S)", link_map, re.MULTILINE | re.DOTALL).group(0)
    return {int(start, 16) for start, size in re.findall(
        r"^ \.text\S*\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+\S", text, re.MULTILINE)
        if int(size, 16)}


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--build", required=True, choices=sorted(BUILDS))
    parser.add_argument("--exe", required=True)
    parser.add_argument("--map", required=True, help="the linker's map of keyreport.exe")
    args = parser.parse_args()
    pe = pefile.PE(args.exe)
    with open(args.map) as text:
        link_map = text.read()
    size = len(pe.__data__)
    header, directories = pe.OPTIONAL_HEADER, pe.OPTIONAL_HEADER.DATA_DIRECTORY

    machine, magic, characteristics = BUILDS[args.build]
    check(pe.FILE_HEADER.Machine == pefile.MACHINE_TYPE[machine], "not for %s" % machine)
    check(header.Magic == magic, "Magic %#x, expected %#x" % (header.Magic, magic))
    check(header.Subsystem == pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_CUI"],
          "not a console program")
    flags = header.DllCharacteristics
    check(flags & characteristics == characteristics, "DllCharacteristics %04X lacks %04X"
          % (flags, characteristics & ~flags))
    relocations = directories[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_BASERELOC"]]
    check(relocations.VirtualAddress and relocations.Size
          and not pe.FILE_HEADER.IMAGE_FILE_RELOCS_STRIPPED,
          "no base relocations: Windows cannot load it at another base")
    # pefile computes it as Windows does: the 16-bit words summed with end-around carry, the
    # field itself taken as zero, plus the file's length.
    check(header.CheckSum == pe.generate_checksum(), "CheckSum %08X, the file's is %08X"
          % (header.CheckSum, pe.generate_checksum()))

    entry = header.ImageBase + header.AddressOfEntryPoint
    found = re.search(r"^\s+0x([0-9a-f]+)\s+_?RunKeyReport\s*$", link_map, re.MULTILINE)
    check(found, "RunKeyReport is not in the link map")
    check(found and entry == int(found.group(1), 16), "entry point %08X is not RunKeyReport "
          "(%s)" % (entry, found.group(1) if found else "absent"))

    table = {entry.dll.decode().lower(): {i.name.decode() if i.name else "#%d" % i.ordinal
                                          for i in entry.imports}
             for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])}
    check(set(table) == set(IMPORTS), "imports from %s" % sorted(table))
    for dll, wanted in IMPORTS.items():
        got = table.get(dll, set())
        extra = got - wanted - COMPILER_HELPERS.get(dll, set())
        check(wanted <= got and not extra, "%s imports differ: extra %s, missing %s"
              % (dll, sorted(extra), sorted(wanted - got)))

    sections = {section.Name.rstrip(b"\0").decode(): section for section in pe.sections}
    check(not set(sections) & START_UP_SECTIONS, "start-up sections %s"
          % sorted(set(sections) & START_UP_SECTIONS))
    tls = directories[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_TLS"]]
    check(tls.VirtualAddress == 0 and tls.Size == 0,
          "has a thread-local storage directory (start-up callbacks)")

    # Each function's unwind entry in .pdata; 32-bit Windows has none.
    if args.build == "win64":
        unwound = {header.ImageBase + function.struct.BeginAddress
                   for function in getattr(pe, "DIRECTORY_ENTRY_EXCEPTION", [])}
        bare = sorted(function_starts(link_map) - unwound)
        check(not bare, "code without an unwind table entry at %s" % [hex(a) for a in bare])
    unwind_size = sum(sections[name].SizeOfRawData for name in UNWIND_SECTIONS & set(sections))
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
