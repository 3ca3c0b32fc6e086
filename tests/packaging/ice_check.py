#!/usr/bin/env python3
"""Windows Installer validation (ICE rules) of Corvane's packages, over their tables as
`msiinfo export` gives them; no ICE validator runs on Linux. docs/administration.md lists
the rules checked here.

  ice_check.py PACKAGE.msi...

Prints one line per rule and package; exits 1 when a rule fails.
"""
import re
import subprocess
import sys

# Folders that lie in the user's profile (ICE38, ICE64, ICE91).
PROFILE_FOLDERS = {"AppDataFolder", "LocalAppDataFolder", "PersonalFolder", "DesktopFolder", "StartMenuFolder",
                   "ProgramMenuFolder", "StartupFolder", "FavoritesFolder", "SendToFolder", "TemplateFolder",
                   "MyPicturesFolder", "NetHoodFolder", "PrintHoodFolder", "RecentFolder"}
COMPONENT_64BIT = 256
UPGRADE_ONLY_DETECT, UPGRADE_MIN_INCLUSIVE, UPGRADE_MAX_INCLUSIVE = 2, 256, 512
HKCU = "1"


def table(msi, name):
    """The rows of one table as dicts; [] when the package has no such table."""
    result = subprocess.run(["msiinfo", "export", msi, name], capture_output=True, text=True)
    if result.returncode != 0:
        return []
    lines = result.stdout.split("\r\n") if "\r\n" in result.stdout else result.stdout.split("\n")
    columns = lines[0].split("\t")
    return [dict(zip(columns, line.split("\t"))) for line in lines[3:] if line]


def version_tuple(text):
    return tuple(int(x) for x in text.split("."))[:3]


class Package:
    def __init__(self, msi):
        self.msi = msi
        self.tables = set(subprocess.run(["msiinfo", "tables", msi], capture_output=True, text=True,
                                         check=True).stdout.split())
        self.t = {name: table(msi, name) for name in self.tables}
        self.properties = {r["Property"]: r["Value"] for r in self.t.get("Property", [])}
        self.summary = subprocess.run(["msiinfo", "suminfo", msi], capture_output=True, text=True,
                                      check=True).stdout
        self.directories = {r["Directory"]: r for r in self.t.get("Directory", [])}
        self.components = {r["Component"]: r for r in self.t.get("Component", [])}

    def in_profile(self, directory):
        while directory:
            if directory in PROFILE_FOLDERS:
                return True
            parent = self.directories.get(directory, {}).get("Directory_Parent")
            directory = parent if parent != directory else None
        return False

    def per_user_only(self):
        """A package that cannot be installed per machine: no ALLUSERS and a launch
        condition that refuses a per-machine installation."""
        return "ALLUSERS" not in self.properties and any(
            re.fullmatch(r"\s*NOT\s+ALLUSERS\s*", r["Condition"]) for r in self.t.get("LaunchCondition", []))


def ice08(p):
    """Component GUIDs unique."""
    guids = [c["ComponentId"] for c in p.components.values()]
    return [f"GUID {g} used twice" for g in set(guids) if guids.count(g) > 1]


def ice21(p):
    """Every component belongs to a feature."""
    used = {r["Component_"] for r in p.t.get("FeatureComponents", [])}
    return [f"component {c} in no feature" for c in p.components if c not in used]


def ice27(p):
    """The order the upgrade logic relies on: the searches and the related products are
    found before the launch conditions read them; the older product is removed after
    InstallValidate and before the installation writes anything."""
    problems = []
    for sequence in ("InstallExecuteSequence", "InstallUISequence"):
        rows = {r["Action"]: int(r["Sequence"]) for r in p.t.get(sequence, [])}
        for before in ("AppSearch", "FindRelatedProducts"):
            if before in rows and "LaunchConditions" in rows and rows[before] >= rows["LaunchConditions"]:
                problems.append(f"{sequence}: {before} after LaunchConditions")
        if sequence == "InstallExecuteSequence" and "RemoveExistingProducts" in rows:
            if not rows["InstallValidate"] < rows["RemoveExistingProducts"] < rows["InstallInitialize"]:
                problems.append("RemoveExistingProducts is not between InstallValidate and InstallInitialize")
    return problems


def ice33(p):
    """Registration through the Registry table, on purpose (packaging/corvane.wxs says
    why): then no Class, ProgId, TypeLib or Extension rows may write the same keys a
    second way."""
    return [f"{t} table present beside the Registry table's registration"
            for t in ("Class", "ProgId", "TypeLib", "Extension", "Verb") if p.t.get(t)]


def ice38(p):
    """A component in the profile has an HKCU registry value as its key path."""
    problems = []
    registry = {r["Registry"]: r for r in p.t.get("Registry", [])}
    for name, c in p.components.items():
        if not p.in_profile(c["Directory_"]):
            continue
        key = registry.get(c["KeyPath"])
        if key is None or key["Root"] != HKCU:
            problems.append(f"component {name} in the profile has key path {c['KeyPath'] or '(its folder)'}")
    return problems


def ice57(p):
    """No component mixes per-user (HKCU) data with a per-machine key path."""
    problems = []
    files = {r["File"] for r in p.t.get("File", [])}
    for r in p.t.get("Registry", []):
        c = p.components[r["Component_"]]
        if r["Root"] == HKCU and c["KeyPath"] in files and not p.in_profile(c["Directory_"]):
            problems.append(f"component {r['Component_']} writes HKCU with a per-machine file as key path")
    return problems


def ice61(p):
    """No removing Upgrade row includes this package's own version."""
    problems = []
    own = version_tuple(p.properties["ProductVersion"])
    upgrade_code = p.properties.get("UpgradeCode")
    for r in p.t.get("Upgrade", []):
        attributes = int(r["Attributes"] or 0)
        if r["UpgradeCode"] != upgrade_code or attributes & UPGRADE_ONLY_DETECT:
            continue
        low = version_tuple(r["VersionMin"]) if r["VersionMin"] else None
        high = version_tuple(r["VersionMax"]) if r["VersionMax"] else None
        above_low = low is None or own > low or (own == low and attributes & UPGRADE_MIN_INCLUSIVE)
        below_high = high is None or own < high or (own == high and attributes & UPGRADE_MAX_INCLUSIVE)
        if above_low and below_high:
            problems.append(f"Upgrade row {r['ActionProperty']} removes this package's own version")
    return problems


def ice64(p):
    """Every folder in the profile is removed at uninstall (a RemoveFile row for it)."""
    removed = {r["DirProperty"] for r in p.t.get("RemoveFile", []) if not r["FileName"]}
    return [f"folder {d} has no RemoveFile row" for d in p.directories
            if p.in_profile(d) and d not in PROFILE_FOLDERS and d not in removed]


def ice69(p):
    """[#file] and [$component] in registry values name their own component."""
    problems = []
    file_component = {r["File"]: r["Component_"] for r in p.t.get("File", [])}
    for r in p.t.get("Registry", []):
        for kind, name in re.findall(r"\[([#!$])([^\]]+)\]", r["Value"]):
            owner = name if kind == "$" else file_component.get(name)
            if owner != r["Component_"]:
                problems.append(f"Registry {r['Registry']} of {r['Component_']} names [{kind}{name}] of {owner}")
    return problems


def ice80(p):
    """64-bit components only in a 64-bit package, and the reverse for 64-bit folders."""
    template = re.search(r"^Template: ([^;]*);", p.summary, re.M).group(1)
    is64 = template in ("x64", "Intel64", "Arm64")
    problems = [f"component {n} is 64-bit in a {template} package" for n, c in p.components.items()
                if int(c["Attributes"]) & COMPONENT_64BIT and not is64]
    if not is64 and "ProgramFiles64Folder" in p.directories:
        problems.append(f"ProgramFiles64Folder in a {template} package")
    return problems


def ice82(p):
    """No two actions of a sequence share a sequence number."""
    problems = []
    for sequence in ("InstallExecuteSequence", "InstallUISequence", "AdminExecuteSequence", "AdvtExecuteSequence"):
        numbers = [r["Sequence"] for r in p.t.get(sequence, []) if r["Sequence"] and int(r["Sequence"]) > 0]
        problems += [f"{sequence}: sequence {n} used twice" for n in set(numbers) if numbers.count(n) > 1]
    return problems


def ice91(p):
    """Files in the profile only in a package that cannot be installed per machine (there
    they would reach one profile only)."""
    files = [r["File"] for r in p.t.get("File", []) if p.in_profile(p.components[r["Component_"]]["Directory_"])]
    if files and not p.per_user_only():
        return [f"file {f} goes to the profile of a package that may be installed per machine" for f in files]
    return []


RULES = [ice08, ice21, ice27, ice33, ice38, ice57, ice61, ice64, ice69, ice80, ice82, ice91]


def main():
    failures = 0
    for msi in sys.argv[1:]:
        p = Package(msi)
        passed = []
        for rule in RULES:
            problems = rule(p)
            name = rule.__name__.upper()
            if problems:
                print(f"FAIL: {name} {msi.rsplit('/', 1)[-1]}: " + "; ".join(problems[:8]))
                failures += 1
            else:
                passed.append(name)
        print(f"ok: {msi.rsplit('/', 1)[-1]} passes {', '.join(passed)}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
