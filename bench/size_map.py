#!/usr/bin/env python3
"""Where the bytes of a linked PE executable go.
  size_map.py map FILE.map [N]   per output section, per library (archive) or
                                 object folder, and the N largest members
  size_map.py symbols NM.txt [N] the N largest code symbols, from the output
                                 of `nm -n -C` on the unstripped executable
                                 (PE symbols carry no size: each one's size is
                                 the distance to the next)"""
import collections
import os
import re
import sys

SECTION = re.compile(r"^(\.[\w$.]+)\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)")
INPUT = re.compile(r"^ (\.[\w$.~]+|COMMON)?\s*0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S.*)$")
KEPT = (".text", ".data", ".rdata", ".pdata", ".xdata", ".rsrc", ".bss", ".tls", ".CRT", ".idata", ".reloc")


def owner(path):
    """'lib/libfoo.a(bar.o)' -> ('libfoo.a', 'bar.o'); an object -> (its folder's name, file)."""
    m = re.match(r"(.*?)\((.*)\)$", path)
    if m:
        return os.path.basename(m.group(1)), m.group(2)
    return "objects:" + (os.path.basename(os.path.dirname(path)) or "linker"), os.path.basename(path)


def symbols(path, top):
    rows = []
    for line in open(path, encoding="utf-8", errors="replace"):
        parts = line.rstrip("\n").split(" ", 2)
        if len(parts) == 3 and parts[1] in ("t", "T"):
            rows.append((int(parts[0], 16), parts[2]))
    sizes = [(rows[i + 1][0] - a, name) for i, (a, name) in enumerate(rows[:-1])]
    sizes.sort(reverse=True)
    print(f"largest {top} code symbols (bytes of .text up to the next symbol):")
    for size, name in sizes[:top]:
        print(f"  {size:>7}  {name[:110]}")


def memory_map(path, top):
    lines = open(path, encoding="utf-8", errors="replace").read().split("\n")
    start = next(i for i, l in enumerate(lines) if l.startswith("Linker script and memory map"))
    sections = collections.OrderedDict()
    by_lib = collections.Counter()
    by_lib_sec = collections.defaultdict(collections.Counter)
    by_member = collections.Counter()
    current = None
    pending = None  # an input section name on a line of its own (the long-name form)
    for line in lines[start:]:
        m = SECTION.match(line)
        if m:
            current = m.group(1)
            if current in KEPT:
                sections[current] = int(m.group(3), 16)
            pending = None
            continue
        if current not in KEPT:
            continue
        if re.match(r"^ \.\S+$", line) or re.match(r"^ COMMON$", line):
            pending = line.strip()
            continue
        m = INPUT.match(line)
        if m and (m.group(1) or pending):
            size = int(m.group(3), 16)
            pending = None
            if size == 0 or m.group(4).startswith("load address"):
                continue
            lib, member = owner(m.group(4).strip())
            by_lib[lib] += size
            by_lib_sec[lib][current] += size
            by_member[(lib, member)] += size
    print("output sections (bytes in the image, before file alignment):")
    for name, size in sections.items():
        print(f"  {name:<8} {size:>9}")
    print(f"  {'total':<8} {sum(sections.values()):>9}")
    print("\ncontributions by library or object folder (.text .rdata .data .pdata .xdata; .rsrc is the resources):")
    for lib, size in by_lib.most_common():
        if size < 512:
            continue
        secs = by_lib_sec[lib]
        detail = " ".join(f"{s}={secs[s]}" for s in (".text", ".rdata", ".data", ".pdata", ".xdata", ".rsrc") if secs[s])
        print(f"  {size:>9}  {lib:<28} {detail}")
    print(f"\nlargest {top} archive members / objects:")
    for (lib, member), size in by_member.most_common(top):
        print(f"  {size:>9}  {lib}({member})")


if __name__ == "__main__":
    count = int(sys.argv[3]) if len(sys.argv) > 3 else 15
    {"map": memory_map, "symbols": symbols}[sys.argv[1]](sys.argv[2], count)
