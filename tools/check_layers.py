#!/usr/bin/env python3
"""Checks kivrun's layers by its quoted includes.

usage: check_layers.py PROJECT_DIR

A unit is x.h with x.cpp under kivrun/. The layers are the folders under
kivrun/, each declared in kivrun/CMakeLists.txt as
    kiv_layer(NAME SOURCES ... BELOW LOWER...)
so the build and this check read the same order. Exit status 1, with one line
per finding, when
  - units include each other in a cycle;
  - a layer includes a header of a layer it does not link, directly or
    through the layers below it, or names a kivrun header without its folder;
  - anything but the front end (the files directly in kivrun/) includes the
    command-line library (cli/);
  - support/ includes anything of kivrun, cli/ or the tools, or cli/
    includes anything but support/;
  - a layer's host tests (tests/host/LAYER/) include a header of a layer it
    does not link, or the tests' shared helpers (tests/host/common/) any
    kivrun header.
"""
import os
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)
LAYER = re.compile(r'^kiv_layer\(\s*(\w+)(.*?)\)', re.S | re.M)
SOURCE_SUFFIXES = ('.h', '.cpp')
COMMAND_LINE_FOLDER = 'cli/'
# The folders below kivrun and the tools: {folder: the folders it may include}.
BASE_FOLDERS = {'support': {'support'}, 'cli': {'cli', 'support'}}
HOST_TESTS = os.path.join('tests', 'host')
TEST_HELPERS = 'common'


def declared_layers(cmake_text):
    """{layer: the layers it links directly}, in declaration order."""
    layers = {}
    for name, body in LAYER.findall(cmake_text):
        words = body.split()
        below = []
        if 'BELOW' in words:
            for word in words[words.index('BELOW') + 1:]:
                if word.isupper():  # the next keyword
                    break
                below.append(word)
        layers[name] = below
    return layers


def reachable(layers, name):
    """The layer and every layer below it that it links, directly or not."""
    seen, todo = set(), [name]
    while todo:
        layer = todo.pop()
        if layer not in seen:
            seen.add(layer)
            todo += layers.get(layer, [])
    return seen


def sources(folder):
    for directory, _, names in os.walk(folder):
        for name in sorted(names):
            if name.endswith(SOURCE_SUFFIXES):
                yield os.path.join(directory, name)


def includes(path):
    with open(path, errors='replace') as text:
        return INCLUDE.findall(text.read())


def cycles(edges):
    """The strongly connected components of more than one unit (Tarjan)."""
    index, low, stack, on_stack, found = {}, {}, [], set(), []

    def visit(unit):
        index[unit] = low[unit] = len(index)
        stack.append(unit)
        on_stack.add(unit)
        for other in edges.get(unit, ()):
            if other not in index:
                visit(other)
                low[unit] = min(low[unit], low[other])
            elif other in on_stack:
                low[unit] = min(low[unit], index[other])
        if low[unit] == index[unit]:
            component = []
            while True:
                other = stack.pop()
                on_stack.discard(other)
                component.append(other)
                if other == unit:
                    break
            if len(component) > 1:
                found.append(sorted(component))

    sys.setrecursionlimit(10000)
    for unit in sorted(edges):
        if unit not in index:
            visit(unit)
    return found


def test_problems(project, layers):
    """Includes of kivrun headers from a layer's host tests beyond what the
    layer links. e2e/ sits on all the layers, and the tools' tests on none."""
    problems = []
    kivrun, tests = os.path.join(project, 'kivrun'), os.path.join(project, HOST_TESTS)
    for path in sources(tests):
        folder = os.path.relpath(path, tests).split(os.sep)[0]
        if folder != TEST_HELPERS and folder not in layers:
            continue
        allowed = reachable(layers, folder) if folder in layers else set()
        for name in includes(path):
            if os.path.exists(os.path.join(kivrun, name)) and os.path.dirname(name) not in allowed:
                what = (f'the tests of {folder} include {name}, which their binary does not link' if folder in layers
                        else f'a helper shared by every test folder includes {name}')
                problems.append(f'{os.path.relpath(path, project)}: {what}')
    return problems


def check(project):
    kivrun = os.path.join(project, 'kivrun')
    with open(os.path.join(kivrun, 'CMakeLists.txt')) as text:
        layers = declared_layers(text.read())
    problems, edges = [], {}
    if not layers:
        problems.append('kivrun/CMakeLists.txt declares no kiv_layer')
    for path in sources(kivrun):
        relative = os.path.relpath(path, kivrun)
        layer = os.path.dirname(relative)
        unit = os.path.splitext(relative)[0]
        edges.setdefault(unit, set())
        if layer and layer not in layers:
            problems.append(f'kivrun/{relative}: folder {layer} is no kiv_layer in kivrun/CMakeLists.txt')
            continue
        allowed = reachable(layers, layer) if layer else set(layers) | {''}
        for name in includes(path):
            if name.startswith(COMMAND_LINE_FOLDER) and layer:
                problems.append(f'kivrun/{relative}: command-line library below the front end: {name}')
            target = os.path.join(kivrun, name)
            if not os.path.exists(target):
                if os.path.exists(os.path.join(kivrun, layer, name)):
                    problems.append(f'kivrun/{relative}: include without its folder: {name}')
                continue
            included_layer = os.path.dirname(name)
            if included_layer not in allowed:
                problems.append(f'kivrun/{relative}: layer {layer or "front end"} includes {name} '
                                f'of layer {included_layer or "front end"}, which it does not link')
            other = os.path.splitext(name)[0]
            if other != unit:
                edges[unit].add(other)
    for base, allowed_folders in BASE_FOLDERS.items():
        for path in sources(os.path.join(project, base)):
            for name in includes(path):
                folder = os.path.dirname(name)
                if folder and folder not in allowed_folders:
                    problems.append(f'{os.path.relpath(path, project)}: {base} includes {name}')
    problems += test_problems(project, layers)
    for component in cycles(edges):
        problems.append('include cycle: ' + ' <-> '.join(component))
    return problems, len(edges), len(layers)


def main():
    if len(sys.argv) != 2:
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    problems, units, layers = check(sys.argv[1])
    for problem in problems:
        print(problem)
    print(f'kivrun: {units} units in {layers} layers, {len(problems)} problems')
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main())
