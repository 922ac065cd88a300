#!/usr/bin/env python3
"""Checks the include graph of the product folders: no file includes a
folder above its own (ts <- text <- plugin <- ui <- win32), and no two
modules (a header with its source) include each other, directly or through
others. The build already refuses upward includes; this test also finds
cycles inside a layer and between the shell's files. Exits 1 on a finding."""
import os
import re
import sys

LAYERS = ["ts", "text", "plugin", "ui", "win32"]


def main(root):
    graph = {}
    for layer in LAYERS:
        folder = os.path.join(root, layer)
        for name in sorted(os.listdir(folder)):
            if not name.endswith((".h", ".cpp")):
                continue
            module = layer + "/" + os.path.splitext(name)[0]
            with open(os.path.join(folder, name), encoding="latin-1") as f:
                includes = re.findall(r'^\s*#\s*include\s+"([^"]+)"', f.read(), re.M)
            targets = graph.setdefault(module, set())
            for include in includes:
                target = os.path.splitext(include)[0]
                if target != module:
                    targets.add(target)

    findings = []
    for module, targets in sorted(graph.items()):
        for target in sorted(targets):
            top = target.split("/")[0]
            if top in LAYERS and LAYERS.index(top) > LAYERS.index(module.split("/")[0]):
                findings.append("upward include: %s -> %s" % (module, target))

    state = {}

    def visit(module, path):
        state[module] = "open"
        path.append(module)
        for target in sorted(graph.get(module, ())):
            if target not in graph:
                continue
            if state.get(target) == "open":
                findings.append("cycle: " + " -> ".join(path[path.index(target):] + [target]))
            elif target not in state:
                visit(target, path)
        path.pop()
        state[module] = "done"

    for module in sorted(graph):
        if module not in state:
            visit(module, [])

    for finding in findings:
        print(finding)
    print("%d modules, %d findings" % (len(graph), len(findings)))
    return 1 if findings else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")))
