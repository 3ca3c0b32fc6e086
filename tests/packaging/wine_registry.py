"""Reads the registry files of a stopped Wine prefix and compares two states of them.

Wine keeps HKEY_LOCAL_MACHINE in system.reg and HKEY_CURRENT_USER in user.reg, written
by its server when it stops. Each key is a "[path] stamp" line, followed by "#time=",
"#link" and similar lines and then its values, one "name=data" line each (long binary
data continued on lines that start with two blanks). Names and data are kept exactly as
the file spells them: both sides of a comparison come from the same writer.
"""
import re

_KEY_LINE = re.compile(r"^\[(.*)\] \d+$")
# Metadata that changes on every write without meaning anything to a reader.
_IGNORED_META = ("#time=",)


class Key:
    __slots__ = ("meta", "values")

    def __init__(self):
        self.meta = []
        self.values = {}

    def __eq__(self, other):
        return self.meta == other.meta and self.values == other.values


def _split_value(line):
    """'"name"=data' or '@=data' -> (name as written, data as written)."""
    if line.startswith("@="):
        return "@", line[2:]
    i = 1
    while i < len(line):
        if line[i] == "\\":
            i += 2
            continue
        if line[i] == '"':
            break
        i += 1
    if i >= len(line) or line[i + 1:i + 2] != "=":
        raise ValueError(f"unreadable value line: {line!r}")
    return line[:i + 1], line[i + 2:]


def parse(path, root):
    """All keys of one .reg file as {'ROOT\\key\\path': Key}, paths as the file writes them."""
    keys = {}
    current = None
    with open(path, encoding="utf-8", errors="surrogateescape") as f:
        lines = f.read().split("\n")
    i = 0
    while i < len(lines):
        line = lines[i]
        i += 1
        match = _KEY_LINE.match(line)
        if match:
            current = Key()
            keys[root + "\\\\" + match.group(1)] = current
            continue
        if current is None or not line or line.startswith(";"):
            continue
        if line.startswith("#"):
            if not line.startswith(_IGNORED_META):
                current.meta.append(line)
            continue
        name, data = _split_value(line)
        while data.startswith(("hex", "str(")) and data.endswith("\\") and i < len(lines):
            data = data[:-1] + lines[i].strip()
            i += 1
        current.values[name] = data
    # Wine writes a key with neither values nor anything else of its own only when it has
    # no subkeys either; the others are implied by their subkeys' paths.
    for path in list(keys):
        parts = path.split("\\\\")
        for n in range(2, len(parts)):
            keys.setdefault("\\\\".join(parts[:n]), Key())
    return keys


def load_prefix(prefix):
    """HKLM and HKCU of a stopped prefix."""
    keys = parse(f"{prefix}/system.reg", "HKLM")
    keys.update(parse(f"{prefix}/user.reg", "HKCU"))
    return keys


def display(path):
    """A key path as regedit shows it (single backslashes)."""
    return path.replace("\\\\", "\\")


def changes(before, after):
    """What turned 'before' into 'after': {key: (old Key or None, new Key or None)}."""
    result = {}
    for path in before.keys() | after.keys():
        old, new = before.get(path), after.get(path)
        if old is None or new is None or old != new:
            result[path] = (old, new)
    return result


def describe(path, old, new):
    """Lines saying how one key changed, for reports."""
    name = display(path)
    if old is None:
        return [f"+ [{name}]"] + [f"+     {v}={d}" for v, d in sorted(new.values.items())]
    if new is None:
        return [f"- [{name}]"]
    lines = [f"~ [{name}]"]
    if old.meta != new.meta:
        lines.append(f"      meta {old.meta} -> {new.meta}")
    for v in sorted(old.values.keys() | new.values.keys()):
        a, b = old.values.get(v), new.values.get(v)
        if a != b:
            lines.append(f"      {v}: {a} -> {b}")
    return lines
