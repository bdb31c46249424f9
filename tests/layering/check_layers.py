#!/usr/bin/env python3
"""Fails when a file includes a header of a part above its own.

usage: check_layers.py REPOSITORY_ROOT

The parts and what each may use are in parts.txt beside this script; a file
belongs to the part of the longest pattern that matches its path.
"""
import fnmatch
import os
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')
SOURCE_ENDINGS = (".h", ".hpp", ".cpp", ".inc")


def read_parts(path):
    parts = []  # (name, uses, patterns) in file order
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.split("#", 1)[0].split()
            if not line:
                continue
            name, uses, patterns = line[0], line[1], line[2:]
            parts.append((name, set() if uses == "-" else set(uses.split(",")), patterns))
    return parts


def part_of(path, parts):
    """The part of the longest pattern matching path; None outside every part."""
    best, best_length = None, -1
    for name, _, patterns in parts:
        for p in patterns:
            if fnmatch.fnmatchcase(path, p) and len(p) > best_length:
                best, best_length = name, len(p)
    return best


def main(argv):
    if len(argv) != 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    root = os.path.abspath(argv[1])
    parts = read_parts(os.path.join(os.path.dirname(os.path.abspath(__file__)), "parts.txt"))
    uses = {name: u | {name} for name, u, _ in parts}
    checked, faults = 0, []
    for folder in sorted({p.split("/")[0] for _, _, patterns in parts for p in patterns}):
        for dirpath, _, files in os.walk(os.path.join(root, folder)):
            for file in sorted(files):
                if not file.endswith(SOURCE_ENDINGS):
                    continue
                path = os.path.relpath(os.path.join(dirpath, file), root).replace(os.sep, "/")
                own = part_of(path, parts)
                if own is None:
                    continue
                checked += 1
                with open(os.path.join(root, path), encoding="utf-8", errors="replace") as f:
                    for number, text in enumerate(f, 1):
                        m = INCLUDE.match(text)
                        if not m:
                            continue
                        target = part_of(m.group(1), parts)
                        if target is not None and target not in uses[own]:
                            faults.append(f"{path}:{number}: part '{own}' includes {m.group(1)} of part '{target}'")
    for fault in faults:
        print(fault)
    print(f"{checked} files checked, {len(faults)} includes of a part above their own")
    return 1 if faults or checked == 0 else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
