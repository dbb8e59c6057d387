#!/usr/bin/env python3
"""Include graph of src/ by file and by folder, checked against the floors.

A header and its source count as one node, and so does a source without a
header of its own that defines members of a class declared in a header it
includes (the engines split one class over several sources). Fails (exit 1)
on a cycle between nodes, on an arrow from a lower floor to a higher one, and
on an arrow between two folders of the file-system floor other than to the
carving judge's public header or to on-disk structure headers.

  scripts/include-graph.py                 check only
  scripts/include-graph.py --out DIR       also write DIR/files.dot and
                                           DIR/folders.dot (and .svg/.png
                                           when graphviz is installed)
"""
import argparse
import os
import re
import shutil
import subprocess
import sys

FLOORS = {"platform": 1, "disk": 2, "engine": 3,
          "fat": 4, "ntfs": 4, "exfat": 4, "ext": 4, "carving": 4,
          "composite": 5, "cli": 6, "ui": 6}
# Files of engine/ that know every engine: they sit above the file systems.
COMPOSITE = {"engine/CProfessionalRecovery", "engine/DeepEngines",
             "engine/QuickEngines", "engine/CFileRecoveryFactory"}
# What one file-system-floor folder may include from another.
LATERAL_OK = re.compile(r"^(carving/CFileTypeJudge|[a-z]+/[A-Za-z]+Structures)$")

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)
CLASS_DECL = re.compile(r"^\s*(?:class|struct)\s+(\w+)[^;{]*\{", re.M)
# A member defined at the start of a line: "int CFoo::Bar(", "CFoo::~CFoo(".
MEMBER_DEF = re.compile(r"^(?:[\w:<>,\*&]+[ \t]+)*[\*&]?(\w+)::~?\w+\s*\(", re.M)


def read(path):
    with open(path, encoding="utf-8", errors="replace") as f:
        return f.read()


def scan(src):
    files = {}
    for root, _, names in os.walk(src):
        for n in names:
            if n.endswith((".h", ".cpp")):
                rel = os.path.relpath(os.path.join(root, n), src).replace(os.sep, "/")
                files[rel] = read(os.path.join(root, n))
    return files


def resolve(inc, including, files):
    for cand in (inc, os.path.normpath(os.path.join(os.path.dirname(including), inc)).replace(os.sep, "/")):
        if cand in files:
            return cand
    return None  # system, generated or Qt header


def build(src):
    files = scan(src)
    includes = {f: [r for r in (resolve(i, f, files) for i in INCLUDE.findall(t)) if r] for f, t in files.items()}
    node = {f: os.path.splitext(f)[0] for f in files}
    declared = {}
    for f, t in files.items():
        if f.endswith(".h"):
            for c in CLASS_DECL.findall(t):
                declared.setdefault(c, f)
    for f, t in files.items():
        if not f.endswith(".cpp") or os.path.splitext(f)[0] + ".h" in files:
            continue
        defined = [declared.get(c) for c in MEMBER_DEF.findall(t)]
        owners = [h for h in includes[f] if h in defined]
        if owners:
            node[f] = node[max(owners, key=defined.count)]
    edges = {}
    for f, targets in includes.items():
        for t in targets:
            a, b = node[f], node[t]
            if a != b:
                edges.setdefault((a, b), []).append((f, t))
    return sorted(set(node.values())), edges


def folder(n):
    return "composite" if n in COMPOSITE else n.split("/")[0]


def floor(n):
    return FLOORS.get(folder(n), 0)


def cycles(nodes, edges):
    """Strongly connected components of more than one node (Tarjan, iterative)."""
    succ = {n: [] for n in nodes}
    for a, b in edges:
        succ[a].append(b)
    index, low, stack, on, out, counter = {}, {}, [], set(), [], [0]
    for root in nodes:
        if root in index:
            continue
        work = [(root, iter(succ[root]))]
        index[root] = low[root] = counter[0]
        counter[0] += 1
        stack.append(root)
        on.add(root)
        while work:
            v, it = work[-1]
            w = next(it, None)
            if w is None:
                work.pop()
                if work:
                    low[work[-1][0]] = min(low[work[-1][0]], low[v])
                if low[v] == index[v]:
                    comp = []
                    while True:
                        x = stack.pop()
                        on.discard(x)
                        comp.append(x)
                        if x == v:
                            break
                    if len(comp) > 1:
                        out.append(sorted(comp))
            elif w not in index:
                index[w] = low[w] = counter[0]
                counter[0] += 1
                stack.append(w)
                on.add(w)
                work.append((w, iter(succ[w])))
            elif w in on:
                low[v] = min(low[v], index[w])
    return out


def wrong_way(edges):
    bad = []
    for (a, b) in edges:
        fa, fb = floor(a), floor(b)
        if fa < fb:
            bad.append((a, b, "points up"))
        elif fa == fb == 4 and folder(a) != folder(b) and not LATERAL_OK.match(b):
            bad.append((a, b, "crosses the file-system floor"))
    return sorted(bad)


def dot_files(nodes, edges, red):
    out = ["digraph files {", "  rankdir=BT; node [shape=box, fontsize=10];"]
    by = {}
    for n in nodes:
        by.setdefault(folder(n), []).append(n)
    for d in sorted(by, key=lambda d: (FLOORS.get(d, 0), d)):
        out.append(f'  subgraph "cluster_{d}" {{ label="{d} (floor {FLOORS.get(d, "?")})";')
        out += [f'    "{n}" [label="{n.split("/")[-1]}"];' for n in by[d]]
        out.append("  }")
    for (a, b) in sorted(edges):
        style = ' [color=red, penwidth=2]' if (a, b) in red else ""
        out.append(f'  "{a}" -> "{b}"{style};')
    out.append("}")
    return "\n".join(out) + "\n"


def dot_folders(edges, red):
    count = {}
    for (a, b) in edges:
        fa, fb = folder(a), folder(b)
        if fa != fb:
            count.setdefault((fa, fb), [0, False])
            count[(fa, fb)][0] += 1
            count[(fa, fb)][1] |= (a, b) in red
    out = ["digraph folders {", "  rankdir=BT; node [shape=box];"]
    for f in sorted(FLOORS):
        out.append(f'  "{f}" [label="{f}\\nfloor {FLOORS[f]}"];')
    for fl in sorted(set(FLOORS.values())):
        out.append("  { rank=same; " + " ".join(f'"{f}";' for f in FLOORS if FLOORS[f] == fl) + " }")
    for (a, b), (n, bad) in sorted(count.items()):
        style = ", color=red, penwidth=2" if bad else ""
        out.append(f'  "{a}" -> "{b}" [label="{n}"{style}];')
    out.append("}")
    return "\n".join(out) + "\n"


def render(path):
    if not shutil.which("dot"):
        return
    for fmt in ("svg", "png"):
        subprocess.run(["dot", "-T" + fmt, path, "-o", path[:-4] + "." + fmt], check=True)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--src", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "src"))
    ap.add_argument("--out", help="folder for the DOT files (and their drawings)")
    args = ap.parse_args()

    nodes, edges = build(args.src)
    loops = cycles(nodes, edges)
    bad = wrong_way(edges)
    red = {(a, b) for a, b, _ in bad}
    for comp in loops:
        members = set(comp)
        red |= {e for e in edges if e[0] in members and e[1] in members}

    if args.out:
        os.makedirs(args.out, exist_ok=True)
        for name, text in (("files.dot", dot_files(nodes, edges, red)), ("folders.dot", dot_folders(edges, red))):
            path = os.path.join(args.out, name)
            with open(path, "w") as f:
                f.write(text)
            render(path)

    print(f"include graph: {len(nodes)} nodes, {len(edges)} arrows")
    for comp in loops:
        print("cycle: " + " <-> ".join(comp))
        for (a, b) in sorted(e for e in edges if e[0] in comp and e[1] in comp):
            print(f"    {a} -> {b}  ({', '.join(f + ' includes ' + t for f, t in edges[(a, b)])})")
    for a, b, why in bad:
        print(f"{why}: {a} (floor {floor(a)}) -> {b} (floor {floor(b)})  "
              f"({', '.join(f + ' includes ' + t for f, t in edges[(a, b)])})")
    if loops or bad:
        print(f"include graph: {len(loops)} cycles, {len(bad)} arrows against the floors")
        return 1
    print("include graph: no cycles, every arrow points down")
    return 0


if __name__ == "__main__":
    sys.exit(main())
