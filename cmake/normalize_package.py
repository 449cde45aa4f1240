#!/usr/bin/env python3
"""normalize_package.py PACKAGE...: makes a package hold the same bytes whichever user made it.

In a zip it sets to 0 the owner and group that the Unix extra field (ID 0x7875) of each member
records, in its local header and in the central directory. In a Debian package (an ar archive)
it sets each member's mode to 100644, as dpkg-deb writes it, whatever the file mode mask of the
user who packed it. Only these header bytes change, in place: the members' data and checksums
stay as they are."""

import struct
import sys

UNIX_OWNER = 0x7875
AR_MAGIC = b"!<arch>\n"


def zero_owner(data, start, length):
    """Zeroes the owner and group in the extra fields at data[start:start + length]."""
    end = start + length
    while start + 4 <= end:
        ident, size = struct.unpack_from("<HH", data, start)
        field = start + 4
        if ident == UNIX_OWNER:
            # version 1, then the owner's size and value, then the group's size and value
            at = field + 1
            for _ in range(2):
                width = data[at]
                data[at + 1:at + 1 + width] = bytes(width)
                at += 1 + width
        start = field + size


def normalize_deb(data):
    """Sets the mode of each member of the ar archive in data to 100644."""
    at = len(AR_MAGIC)
    while at + 60 <= len(data):
        # name 16, time 12, owner 6, group 6, mode 8, size 10, end marker 2
        data[at + 40:at + 48] = b"100644  "
        size = int(data[at + 48:at + 58])
        at += 60 + size + size % 2


def normalize_zip(path, data):
    directory_end = data.rfind(b"PK\x05\x06")
    if directory_end < 0:
        sys.exit("normalize_package: %s is not a zip" % path)
    count, _, offset = struct.unpack_from("<HII", data, directory_end + 10)
    for _ in range(count):
        if data[offset:offset + 4] != b"PK\x01\x02":
            sys.exit("normalize_package: %s: no central directory entry at %d" % (path, offset))
        name, extra, comment = struct.unpack_from("<HHH", data, offset + 28)
        (local,) = struct.unpack_from("<I", data, offset + 42)
        zero_owner(data, offset + 46 + name, extra)
        local_name, local_extra = struct.unpack_from("<HH", data, local + 26)
        zero_owner(data, local + 30 + local_name, local_extra)
        offset += 46 + name + extra + comment


def main(path):
    with open(path, "rb") as package:
        data = bytearray(package.read())
    if data.startswith(AR_MAGIC):
        normalize_deb(data)
    else:
        normalize_zip(path, data)
    with open(path, "wb") as package:
        package.write(data)


if __name__ == "__main__":
    for argument in sys.argv[1:]:
        main(argument)
