#!/usr/bin/env python3
"""Makes the zip with cpack and checks what it holds: keyreport.exe as built, the example
Test.txt and the how-to, all at the top, the texts with Windows line breaks."""

import argparse
import os
import shutil
import subprocess
import sys
import zipfile

EXPECTED = {"keyreport.exe", "Test.txt", "ReadMe.txt"}


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--build", required=True, help="the win32 build folder")
    parser.add_argument("--work", required=True, help="folder for cpack's output")
    parser.add_argument("--name", required=True,
                        help="the zip's file name, as the documentation gives it")
    args = parser.parse_args()

    shutil.rmtree(args.work, ignore_errors=True)
    subprocess.run(["cpack", "--config", os.path.join(args.build, "CPackConfig.cmake"),
                    "-B", args.work], check=True, stdout=subprocess.DEVNULL)
    zips = [name for name in os.listdir(args.work) if name.endswith(".zip")]
    if zips != [args.name]:
        print("FAIL: cpack made %s, not %s" % (zips, args.name))
        return 1

    failures = []
    with zipfile.ZipFile(os.path.join(args.work, zips[0])) as package:
        names = set(package.namelist())
        if names != EXPECTED:
            failures.append("zip holds %s" % sorted(names))
        else:
            with open(os.path.join(args.build, "keyreport.exe"), "rb") as exe:
                if package.read("keyreport.exe") != exe.read():
                    failures.append("keyreport.exe in the zip is not the one built")
            source = os.path.join(os.path.dirname(__file__), "..", "..", "..", "examples",
                                  "Test.txt")
            with open(source, "rb") as example:
                if package.read("Test.txt") != example.read():
                    failures.append("Test.txt is not the example")
            how_to = package.read("ReadMe.txt")
            if b"keyreport" not in how_to or how_to.replace(b"\r\n", b"").count(b"\n") != 0:
                failures.append("ReadMe.txt is not a how-to with CR LF line breaks")
            # The how-to names the executable's own build, from the machine in its PE header.
            exe = package.read("keyreport.exe")
            header = int.from_bytes(exe[0x3C:0x40], "little")
            machine = int.from_bytes(exe[header + 4:header + 6], "little")
            bits = {0x14C: b"a 32-bit", 0x8664: b"a 64-bit"}.get(machine, b"?")
            if b"keyreport.exe is " + bits not in how_to.replace(b"\r\n", b" "):
                failures.append("ReadMe.txt does not call keyreport.exe %s program"
                                % bits.decode())
    print("%s: %s" % (zips[0], ", ".join(sorted(names))))
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
