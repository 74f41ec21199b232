#!/usr/bin/env python3
"""No two files of the core may need each other. A file unit is a header
with its source (Foo.h and Foo.cpp); unit A needs unit B when A's header or
source includes B's header. Fails, naming every circle of units, when the
units of the given folders need each other in a circle.

    CheckFileCycles.py ROOT FOLDER...
"""
import os
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)\.h"')


def units(root, folders):
    needs = {}
    for folder in folders:
        path = os.path.join(root, folder)
        for name in sorted(os.listdir(path)):
            stem, ext = os.path.splitext(name)
            if ext not in ('.h', '.cpp'):
                continue
            unit = folder + '/' + stem
            with open(os.path.join(path, name), encoding='utf-8') as f:
                for line in f:
                    m = INCLUDE.match(line)
                    if m and m.group(1) != unit:
                        needs.setdefault(unit, set()).add(m.group(1))
            needs.setdefault(unit, set())
    return needs


def circles(needs):
    """Strongly connected components of more than one unit (Tarjan)."""
    index, low, stack, on, found = {}, {}, [], set(), []

    def visit(v):
        index[v] = low[v] = len(index)
        stack.append(v)
        on.add(v)
        for w in needs[v]:
            if w not in needs:
                continue
            if w not in index:
                visit(w)
                low[v] = min(low[v], low[w])
            elif w in on:
                low[v] = min(low[v], index[w])
        if low[v] == index[v]:
            component = []
            while True:
                w = stack.pop()
                on.discard(w)
                component.append(w)
                if w == v:
                    break
            if len(component) > 1:
                found.append(sorted(component))

    sys.setrecursionlimit(10000)
    for v in sorted(needs):
        if v not in index:
            visit(v)
    return found


def main():
    root, folders = sys.argv[1], sys.argv[2:]
    found = circles(units(root, folders))
    for c in found:
        print('files that need each other: ' + ', '.join(c))
    return 1 if found else 0


if __name__ == '__main__':
    sys.exit(main())
