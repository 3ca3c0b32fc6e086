#!/usr/bin/env python3
"""Every relative link in the Markdown documents of an unpacked zip names a file or
folder the zip holds (links to the source tree are plain text there).

  zip_links.py FOLDER
"""
import os
import re
import sys


def main():
    top = sys.argv[1]
    broken = []
    for folder, _, names in os.walk(top):
        for name in names:
            if not name.endswith(".md"):
                continue
            path = os.path.join(folder, name)
            for target in re.findall(r"(?<!!)\[[^\]]+\]\(([^)\s]+)\)", open(path, encoding="utf-8").read()):
                if re.match(r"^[a-z]+:", target) or target.startswith("#"):
                    continue
                if not os.path.exists(os.path.join(folder, target.split("#")[0])):
                    broken.append(f"{os.path.relpath(path, top)}: {target}")
    print(("ok" if not broken else "FAIL") + ": every relative link of the zip's documents names a file in the zip")
    for line in broken:
        print("      " + line)
    return 1 if broken else 0


if __name__ == "__main__":
    sys.exit(main())
