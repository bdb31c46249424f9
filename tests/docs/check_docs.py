#!/usr/bin/env python3
"""Checks the code blocks of README.md and docs/*.md against the examples they show.

usage: check_docs.py --root DIR --bin DIR [--python PY] [--pythonpath DIR]
                     [--octave OCTAVE_CLI] [--mexdir DIR] [--write]

Every C++, Python and Octave block of a page stands right after a line
    <!-- from PATH -->          the whole file PATH (repository-relative), or
    <!-- from PATH NAME -->     the lines between the markers "[NAME]" and "[/NAME]"
                                (each alone in a comment line) of PATH,
and must equal that text. Every file so named is run once from the repository
root: a .cpp file as the program of its name in --bin, a .py file with --python,
a .m file with --octave. It must exit with status 0, and a block right after
    <!-- output of PATH -->
must equal what it printed. Every relative link must lead to a file (pictures
that ./run.sh demo writes into demo/ excepted). A page naming a file that does not exist and a block
without its source line are errors too. With --write the blocks are rewritten
from their sources and outputs instead of compared (for the author of a page).
"""
import argparse
import glob
import os
import re
import subprocess
import sys
import textwrap

CODE_LANGUAGES = {"cpp", "c++", "python", "py", "octave", "matlab"}
FENCE = re.compile(r"^```\s*([A-Za-z+]*)\s*$")
FROM = re.compile(r"^<!--\s*from\s+(\S+)(?:\s+(\S+))?\s*-->\s*$")
OUTPUT = re.compile(r"^<!--\s*output of\s+(\S+)\s*-->\s*$")
LINK = re.compile(r"\]\(([^)#\s]+)(?:#[^)]*)?\)")
MARKER = re.compile(r"^\s*(?://|#|%)\s*\[(/?)([A-Za-z0-9_-]+)\]\s*$")


def blocks_of(page):
    """(line number, language, text, the comment line before it) of each fenced block."""
    lines = open(page, encoding="utf-8").read().split("\n")
    i, found = 0, []
    while i < len(lines):
        m = FENCE.match(lines[i])
        if not m:
            i += 1
            continue
        start, language = i, m.group(1).lower()
        i += 1
        body = []
        while i < len(lines) and lines[i].strip() != "```":
            body.append(lines[i])
            i += 1
        before = next((lines[k] for k in range(start - 1, -1, -1) if lines[k].strip()), "")
        found.append((start + 1, language, "\n".join(body), before.strip()))
        i += 1
    return found


def region(root, path, name):
    text = open(os.path.join(root, path), encoding="utf-8").read()
    if name is None:
        return text.rstrip("\n")
    kept, inside, seen = [], False, False
    for line in text.split("\n"):
        m = MARKER.match(line)
        if m and m.group(2) == name:
            inside, seen = not m.group(1), True
            continue
        if m:
            continue  # markers of other regions are not shown
        if inside:
            kept.append(line)
    if not seen:
        raise KeyError(f"{path} has no region [{name}]")
    return textwrap.dedent("\n".join(kept)).rstrip("\n")


def strip_markers(text):
    return "\n".join(l for l in text.split("\n") if not MARKER.match(l))


def run(path, args):
    root = args.root
    ext = os.path.splitext(path)[1]
    env = dict(os.environ)
    if ext == ".cpp":
        command = [os.path.join(args.bin, os.path.splitext(os.path.basename(path))[0])]
    elif ext == ".py":
        command = [args.python, os.path.join(root, path)]
        if args.pythonpath:
            env["PYTHONPATH"] = args.pythonpath
        env["PYTHONDONTWRITEBYTECODE"] = "1"
    elif ext == ".m":
        if not args.octave:
            return None, "no octave-cli"
        folder = os.path.dirname(os.path.join(root, path))
        script = os.path.splitext(os.path.basename(path))[0]
        command = [args.octave, "--no-gui", "--norc", "--no-history", "--quiet", "--eval",
                   f"addpath('{args.mexdir}'); addpath('{folder}'); {script}"]
    else:
        return None, f"cannot run {path}"
    try:
        p = subprocess.run(command, cwd=root, env=env, capture_output=True, text=True, timeout=600)
    except OSError as e:
        return None, f"{path}: cannot run {command[0]}: {e.strerror}"
    except subprocess.TimeoutExpired:
        return None, f"{path}: still running after 600 s"

    if p.returncode != 0:
        return None, f"{path} exited with {p.returncode}:\n{p.stdout}{p.stderr}"
    return p.stdout, None


def rewrite(pages, root, outputs):
    """Fills every sourced block from its file and every output block from its run."""
    for page in pages:
        lines = open(page, encoding="utf-8").read().split("\n")
        out, i, before = [], 0, ""
        while i < len(lines):
            line = lines[i]
            out.append(line)
            i += 1
            if FENCE.match(line) and line.strip() != "```":
                j = i
                while j < len(lines) and lines[j].strip() != "```":
                    j += 1
                source, output = FROM.match(before), OUTPUT.match(before)
                if source and os.path.exists(os.path.join(root, source.group(1))):
                    out.extend(strip_markers(region(root, source.group(1), source.group(2))).split("\n"))
                elif output and outputs.get(output.group(1)) is not None:
                    out.extend(l.rstrip() for l in outputs[output.group(1)].rstrip("\n").split("\n"))
                else:
                    out.extend(lines[i:j])
                i = j
                continue
            if line.strip():
                before = line.strip()
        open(page, "w", encoding="utf-8").write("\n".join(out))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--bin", required=True)
    parser.add_argument("--python", default=sys.executable)
    parser.add_argument("--pythonpath", default="")
    parser.add_argument("--octave", default="")
    parser.add_argument("--mexdir", default="")
    parser.add_argument("--write", action="store_true")
    args = parser.parse_args()
    pages = [os.path.join(args.root, "README.md")] + sorted(glob.glob(os.path.join(args.root, "docs", "*.md")))
    faults, wanted_outputs, sources = [], [], []
    for page in pages:
        name = os.path.relpath(page, args.root)
        for line, language, text, before in blocks_of(page):
            source, output = FROM.match(before), OUTPUT.match(before)
            if output:
                wanted_outputs.append((name, line, output.group(1), text))
                continue
            if language not in CODE_LANGUAGES:
                continue
            if not source:
                faults.append(f"{name}:{line}: a {language} block without a '<!-- from PATH -->' line before it")
                continue
            path, region_name = source.group(1), source.group(2)
            if not os.path.exists(os.path.join(args.root, path)):
                faults.append(f"{name}:{line}: {path} does not exist")
                continue
            try:
                expected = strip_markers(region(args.root, path, region_name))
            except KeyError as e:
                faults.append(f"{name}:{line}: {e.args[0]}")
                continue
            if text.rstrip("\n") != expected:
                faults.append(f"{name}:{line}: the block differs from {path}" + (f" [{region_name}]" if region_name else ""))
            sources.append(path)
    for page in pages:
        folder = os.path.dirname(page)
        for number, text in enumerate(open(page, encoding="utf-8").read().split("\n"), 1):
            for target in LINK.findall(text):
                if "://" in target or target.startswith("mailto:"):
                    continue
                if not os.path.exists(os.path.normpath(os.path.join(folder, target))) and "demo/" not in target:
                    faults.append(f"{os.path.relpath(page, args.root)}:{number}: the link {target} leads nowhere")
    outputs = {}
    for path in sorted(set(sources) | {p for _, _, p, _ in wanted_outputs}):
        printed, problem = run(path, args)
        if problem:
            faults.append(problem)
        outputs[path] = printed
    for name, line, path, text in wanted_outputs:
        printed = outputs.get(path)
        if printed is None:
            continue
        got = "\n".join(l.rstrip() for l in printed.rstrip("\n").split("\n"))
        want = "\n".join(l.rstrip() for l in text.rstrip("\n").split("\n"))
        if got != want:
            faults.append(f"{name}:{line}: the output of {path} differs; it printed:\n{printed}")
    if args.write:
        rewrite(pages, args.root, outputs)
    for fault in faults:
        print(fault)
    print(f"{len(pages)} pages, {len(sources)} code blocks, {len(wanted_outputs)} outputs, {len(set(sources))} programs run")
    return 1 if faults or not sources else 0


if __name__ == "__main__":
    sys.exit(main())
