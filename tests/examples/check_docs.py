#!/usr/bin/env python3
"""Checks that the code the documentation shows is the code the tests run.

  check_docs.py SOURCE_DIR

Every fenced code block of README.md and docs/*.md in VBScript, JScript, ASP or C++ must
name its file under examples/ in the paragraph before it; so may any other block
(an expected output). The block must then be that file, whole or as a run of its lines.
The examples themselves are run and their output compared by examples_tests.cmake.
The sections named in RUN_BY_PORTS are run from the document itself, block by block, by the
port's own tests.
"""
import glob
import os
import re
import sys

RUNNABLE = {"vbscript", "vb", "javascript", "js", "jscript", "cpp", "c++", "asp"}
# (document, section heading): the test that runs every code block of that section.
RUN_BY_PORTS = {
    ("docs/migrating.md", "Node"): "ports/node/test/docs.test.js",
    ("docs/migrating.md", "Python"): "ports/python/tests/test_docs.py",
}
source = os.path.abspath(sys.argv[1])
failures = []
checked = 0

for doc in [os.path.join(source, "README.md")] + sorted(glob.glob(os.path.join(source, "docs", "*.md"))):
    name = os.path.relpath(doc, source)
    lines = open(doc, encoding="utf-8").read().split("\n")
    i = 0
    heading = None
    while i < len(lines):
        fence = re.match(r"^(```+)\s*(\S*)", lines[i])
        if not fence:
            section = re.match(r"^## (.+?)\s*$", lines[i])
            if section:
                heading = section.group(1)
            i += 1
            continue
        start = i
        language = fence.group(2).lower()
        end = start + 1
        while end < len(lines) and not lines[end].startswith(fence.group(1)):
            end += 1
        block = lines[start + 1:end]
        i = end + 1
        # The paragraph just before the block.
        k = start
        while k > 0 and not lines[k - 1].strip():
            k -= 1
        paragraph = []
        while k > 0 and lines[k - 1].strip() and not lines[k - 1].startswith("```"):
            k -= 1
            paragraph.insert(0, lines[k])
        before = " ".join(paragraph)
        named = [p for p in re.findall(r"examples/[\w./-]*\w", before)
                 if os.path.isfile(os.path.join(source, p))]
        runner = RUN_BY_PORTS.get((name, heading))
        if not named and runner:
            if not os.path.isfile(os.path.join(source, runner)):
                failures.append(f"{name}:{start + 1}: {runner}, which runs this section's blocks, is missing")
            checked += 1
            continue
        if not named:
            if language in RUNNABLE:
                failures.append(f"{name}:{start + 1}: a {language} block that names no file under examples/")
            continue
        path = named[-1]
        example = open(os.path.join(source, path), encoding="utf-8").read().rstrip("\n").split("\n")
        n = len(block)
        if not any(example[k:k + n] == block for k in range(len(example) - n + 1)):
            failures.append(f"{name}:{start + 1}: the block is not {path} (whole or a run of its lines)")
        checked += 1

for failure in failures:
    print("FAIL: " + failure)
if failures:
    sys.exit(1)
print(f"docs_examples: {checked} code blocks are their files under examples/")
