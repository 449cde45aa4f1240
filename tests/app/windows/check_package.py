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

    with zipfile.ZipFile(os.path.join(args.work, zips[0])) as package:
        names = set(package.namelist())
        files = {name: package.read(name) for name in names & EXPECTED}
    failures = [] if names == EXPECTED else ["zip holds %s" % sorted(names)]
    if not failures:
        example = os.path.join(os.path.dirname(__file__), "..", "..", "..", "examples", "Test.txt")
        for name, source in (("keyreport.exe", os.path.join(args.build, "keyreport.exe")),
                             ("Test.txt", example)):
            with open(source, "rb") as built:
                if files[name] != built.read():
                    failures.append("%s in the zip is not %s" % (name, source))
        how_to, exe = files["ReadMe.txt"], files["keyreport.exe"]
        if b"keyreport" not in how_to or how_to.replace(b"\r\n", b"").count(b"\n") != 0:
            failures.append("ReadMe.txt is not a how-to with CR LF line breaks")
        # The how-to names the executable's own build, from the machine in its PE header.
        header = int.from_bytes(exe[0x3C:0x40], "little")
        machine = int.from_bytes(exe[header + 4:header + 6], "little")
        bits = {0x14C: b"a 32-bit", 0x8664: b"a 64-bit"}.get(machine, b"?")
        if b"keyreport.exe is " + bits not in how_to.replace(b"\r\n", b" "):
            failures.append("ReadMe.txt does not call keyreport.exe %s program" % bits.decode())
    print("%s: %s" % (zips[0], ", ".join(sorted(names))))
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
