#!/usr/bin/env python3
"""check_resources.py EXE VERSION ARCH: keyreport.exe's manifest for ARCH (x86 or amd64) and
its version information, read with pefile, as docs/windows.md tells. Windows refuses to start a
program whose manifest names an assembly it lacks."""

import sys
import xml.etree.ElementTree as ElementTree

import pefile

NAMESPACES = {
    "asm1": "urn:schemas-microsoft-com:asm.v1",
    "asm3": "urn:schemas-microsoft-com:asm.v3",
    "compat": "urn:schemas-microsoft-com:compatibility.v1",
    "ws2005": "http://schemas.microsoft.com/SMI/2005/WindowsSettings",
    "ws2016": "http://schemas.microsoft.com/SMI/2016/WindowsSettings",
}
SETTINGS = "asm3:application/asm3:windowsSettings/"
REQUIRED = [
    "asm3:trustInfo/asm3:security/asm3:requestedPrivileges/"
    "asm3:requestedExecutionLevel[@level='asInvoker']",
    SETTINGS + "ws2005:dpiAware[.='true']",
    SETTINGS + "ws2016:dpiAwareness[.='PerMonitorV2']",
] + [  # Windows 7, 8, 8.1 and 10/11
    "compat:compatibility/compat:application/compat:supportedOS[@Id='{%s}']" % guid
    for guid in ("35138b9a-5d96-4fbd-8e2d-a2440225f93a", "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38",
                 "1f676c76-80e1-4239-95bb-83d0f6d0da78", "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a")]
COMMON_CONTROLS = {"type": "win32", "name": "Microsoft.Windows.Common-Controls",
                   "version": "6.0.0.0", "publicKeyToken": "6595b64144ccf1df", "language": "*"}

exe, version, arch = sys.argv[1:]
COMMON_CONTROLS["processorArchitecture"] = arch
pe = pefile.PE(exe)
machine = {"x86": "IMAGE_FILE_MACHINE_I386", "amd64": "IMAGE_FILE_MACHINE_AMD64"}[arch]
if pe.FILE_HEADER.Machine != pefile.MACHINE_TYPE[machine]:
    sys.exit("FAIL: the executable is not for %s" % arch)
manifests = [pe.get_data(language.data.struct.OffsetToData, language.data.struct.Size)
             for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries
             if kind.id == pefile.RESOURCE_TYPE["RT_MANIFEST"]
             for name in kind.directory.entries if name.id == 1
             for language in name.directory.entries]
try:
    root = ElementTree.fromstring(manifests[0] if len(manifests) == 1 else b"")
except ElementTree.ParseError as error:
    sys.exit("FAIL: not one well-formed manifest (RT_MANIFEST 1): %s" % error)
failures = ["manifest lacks " + path for path in REQUIRED if root.find(path, NAMESPACES) is None]
if any(element.tag.endswith("}activeCodePage") for element in root.iter()):
    failures.append("manifest sets activeCodePage")
# Every assembly it depends on, in whatever namespace or place.
dependencies = [identity.attrib for element in root.iter() if element.tag.endswith(
    "}dependentAssembly") for identity in element if identity.tag.endswith("}assemblyIdentity")]
if dependencies != [COMMON_CONTROLS] or root.find(
        "asm1:dependency/asm1:dependentAssembly", NAMESPACES) is None:
    failures.append("manifest depends on %s, not on Common-Controls 6 alone: %s"
                    % (dependencies, COMMON_CONTROLS))

# Version numbers as the fixed part packs them: two 16-bit numbers in each 32-bit half.
major, minor, patch, tweak = ([int(part) for part in version.split(".")] + [0, 0, 0])[:4]
fixed = pe.VS_FIXEDFILEINFO[0]
if {(fixed.FileVersionMS, fixed.FileVersionLS), (fixed.ProductVersionMS, fixed.ProductVersionLS)} \
        != {(major << 16 | minor, patch << 16 | tweak)}:
    failures.append("fixed file or product version is not %s" % version)
info = {block.Key: block for block in pe.FileInfo[0]}
table = info[b"StringFileInfo"].StringTable
strings = {key.decode(): value.decode() for key, value in table[0].entries.items()}
expected = {"FileVersion": version, "ProductVersion": version, "ProductName": "keyreport",
            "OriginalFilename": "keyreport.exe"}
failures += ["%s is %r, expected %r" % (key, strings.get(key), value)
             for key, value in expected.items() if strings.get(key) != value]
if not strings.get("FileDescription"):
    failures.append("no FileDescription")
# The table is named "040904B0" where Translation holds "0x0409 0x04b0".
language = table[0].LangID.decode().lower()
translation = [var.entry.get(b"Translation") for var in info[b"VarFileInfo"].Var]
if len(table) != 1 or translation != ["0x%s 0x%s" % (language[:4], language[4:])]:
    failures.append("Translation %s does not name the one string table %s"
                    % (translation, [t.LangID for t in table]))

print("keyreport.exe: manifest for %s and version %s checked" % (arch, version))
for failure in failures:
    print("FAIL:", failure)
sys.exit(1 if failures else 0)
