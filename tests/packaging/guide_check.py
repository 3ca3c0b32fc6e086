#!/usr/bin/env python3
"""The administrator's guide (docs/administration.md) names the built packages' identifiers:
each package's ProductCode in its table, the UpgradeCode, and the release version.

  guide_check.py GUIDE PACKAGES_DIR VERSION
"""
import subprocess
import sys


def prop(msi, name):
    for line in subprocess.run(["msiinfo", "export", msi, "Property"], capture_output=True, text=True,
                               check=True).stdout.splitlines():
        key, _, value = line.partition("\t")
        if key == name:
            return value.strip()
    raise SystemExit(f"{msi}: no {name}")


def main():
    guide_path, packages, version = sys.argv[1:4]
    guide = open(guide_path, encoding="utf-8").read()
    missing = []
    for kind in ("x64", "x86", "x64-user"):
        name = f"Corvane-{version}-{kind}.msi"
        msi = f"{packages}/{name}"
        if f"| `{name}` | `{prop(msi, 'ProductCode')}` |" not in guide:
            missing.append(f"{name}'s ProductCode {prop(msi, 'ProductCode')}")
        if f"`{prop(msi, 'UpgradeCode')}`" not in guide:
            missing.append(f"the UpgradeCode {prop(msi, 'UpgradeCode')}")
    if f"today {version})" not in guide:
        missing.append(f"the release version {version}")
    print(("ok" if not missing else "FAIL") + ": docs/administration.md names the packages' ProductCodes, "
          "UpgradeCode and version" + ("" if not missing else ": missing " + "; ".join(sorted(set(missing)))))
    return 1 if missing else 0


if __name__ == "__main__":
    sys.exit(main())
