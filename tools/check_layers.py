#!/usr/bin/env python3
"""Checks that each folder of src/ includes only its own folder and the folders on lower floors:
core, then io, then image, then codecs and platform side by side, then display, then viewer;
main.cpp sits on top. Prints each include that points up or sideways; exit 1 if any."""
import os
import re
import sys

FLOORS = {"core": 0, "io": 1, "image": 2, "codecs": 3, "platform": 3, "display": 4, "viewer": 5}
INCLUDE = re.compile(r'^\s*#\s*include\s+"(\w+)/')


def main():
    src = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "src")
    wrong = []
    for folder, _, files in os.walk(src):
        relative = os.path.relpath(folder, src)
        if relative == ".":
            continue  # main.cpp may include everything
        own = relative.split(os.sep)[0]
        for name in files:
            path = os.path.join(folder, name)
            for number, line in enumerate(open(path, encoding="utf-8", errors="replace"), 1):
                match = INCLUDE.match(line)
                if not match or match.group(1) not in FLOORS:
                    continue
                target = match.group(1)
                if target != own and FLOORS[target] >= FLOORS[own]:
                    wrong.append(f"src/{relative}/{name}:{number}: {own} includes {target}")
    for line in wrong:
        print(line)
    return 1 if wrong else 0


if __name__ == "__main__":
    sys.exit(main())
