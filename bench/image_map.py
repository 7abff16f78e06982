"""Sums a GNU ld map file by input object: which archive members make up the stub's image.
   python3 bench/image_map.py build/win/UnPackFile.map [COUNT]
Sizes are those of the input sections placed in the image (.bss left out), before alignment."""

import collections
import re
import sys

SECTION = re.compile(r"^ (\.\S+)\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S.*)$")
NAME_ONLY = re.compile(r"^ (\.\S+)$")
CONTINUED = re.compile(r"^\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S.*)$")
MEMBER = re.compile(r"(?:.*/)?([^/()]+)\(([^)]+)\)$")


def contributors(map_path):
    """(archive, member) -> bytes, from the map's memory map part."""
    sizes = collections.Counter()
    placing = False
    pending = None
    with open(map_path, encoding="utf-8", errors="replace") as lines:
        for line in lines:
            if line.startswith("Linker script and memory map"):
                placing = True
            if not placing:
                continue
            match = SECTION.match(line)
            if match:
                section, address, size, source = match.groups()
            else:
                name = NAME_ONLY.match(line)
                if name:  # a long section name puts its figures on the next line
                    pending = name.group(1)
                    continue
                match = CONTINUED.match(line)
                if not (match and pending):
                    pending = None
                    continue
                section, (address, size, source) = pending, match.groups()
            pending = None
            if int(address, 16) == 0 or section.startswith((".bss", ".debug")):
                continue
            member = MEMBER.match(source)
            key = member.groups() if member else (source.rsplit("/", 1)[-1], "")
            sizes[key] += int(size, 16)
    return sizes


def main():
    sizes = contributors(sys.argv[1])
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 10
    print(f"{sum(sizes.values()):,} bytes of input sections")
    for (archive, member), size in sizes.most_common(count):
        print(f"{size:>8,}  {archive}({member})" if member else f"{size:>8,}  {archive}")


if __name__ == "__main__":
    main()
