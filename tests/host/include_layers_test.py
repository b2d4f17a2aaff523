#!/usr/bin/env python3
"""The layers of the sources, read from their #include lines.

A folder includes only folders below it (base, then archive, settings and
ime side by side, then install, then app), and no module includes one that
includes it back, directly or round a longer circle. A module is a header
with its sources (x.h, x.cpp, x_win.cpp, x_posix.cpp, x_host.cpp).

No circle stands today. One that must stand for a while is named below: a
new one fails, and so does a named one that takes in another module; one
that is gone is reported, to be taken off the list.

    include_layers_test.py SOURCE-ROOT
"""
import collections
import os
import re
import sys

RANKS = {'base': 0, 'archive': 1, 'settings': 1, 'ime': 1, 'install': 2, 'app': 3}
KNOWN_CIRCLES = [
    # (none)
]
INCLUDE = re.compile(r'^\s*#\s*include\s+"([a-z]+)/([a-z_0-9]+)\.h"', re.M)


def module_of(folder, name):
    return folder + '/' + re.sub(r'_(win|posix|host)$', '', name)


def read_edges(root):
    edges = collections.defaultdict(set)
    climbs = []
    for folder in RANKS:
        for entry in sorted(os.listdir(os.path.join(root, folder))):
            stem, ext = os.path.splitext(entry)
            if ext not in ('.h', '.cpp'):
                continue
            source = module_of(folder, stem)
            text = open(os.path.join(root, folder, entry), encoding='utf-8').read()
            for target_folder, target in INCLUDE.findall(text):
                if target_folder not in RANKS:
                    continue
                if target_folder != folder and RANKS[target_folder] >= RANKS[folder]:
                    climbs.append('%s/%s includes %s/%s.h' % (folder, entry, target_folder, target))
                module = module_of(target_folder, target)
                if module != source:
                    edges[source].add(module)
    return edges, climbs


def circles(edges):
    """The strongly connected groups of more than one module (Tarjan)."""
    index, low, stack, on_stack, found = {}, {}, [], set(), []
    counter = [0]

    def visit(v):
        index[v] = low[v] = counter[0]
        counter[0] += 1
        stack.append(v)
        on_stack.add(v)
        for w in sorted(edges[v]):
            if w not in index:
                visit(w)
                low[v] = min(low[v], low[w])
            elif w in on_stack:
                low[v] = min(low[v], index[w])
        if low[v] == index[v]:
            group = set()
            while True:
                w = stack.pop()
                on_stack.discard(w)
                group.add(w)
                if w == v:
                    break
            if len(group) > 1:
                found.append(group)

    for v in sorted(list(edges)):
        if v not in index:
            visit(v)
    return found


def check(root):
    edges, failures = read_edges(root)
    known = [set(c) for c in KNOWN_CIRCLES]
    for group in circles(edges):
        if not any(group <= k for k in known):
            failures.append('a circle of includes: %s' % ', '.join(sorted(group)))
        elif group not in known:
            print('note: a known circle has shrunk to %s' % ', '.join(sorted(group)))
    for k in known:
        if not any(k & group for group in circles(edges)):
            print('note: the circle %s is gone: take it off the list' % ', '.join(sorted(k)))
    return failures


if __name__ == '__main__':
    problems = check(sys.argv[1])
    for p in problems:
        print('FAIL:', p)
    if not problems:
        print('include layers hold: each folder includes only those below it, no new circle')
    sys.exit(1 if problems else 0)
