#!/usr/bin/env python3
"""Builds the Windows Installer packages and the zip of Corvane from built files.

  make_package.py version FILE
      the file version of a PE file's version resource (1.0.1.6)
  make_package.py release-version [--version V]
      the release version: V checked, or the file VERSION
  make_package.py msi --platform x64|x86 --scope perMachine|perUser --dist DIR --out FILE
                      [--version V] --wine-dir DIR
      a package from packaging/corvane.wxs; the version defaults to the file VERSION
  make_package.py zip --dist DIR --doc FILE... --out FILE [--version V]
      both DLL sets, corvane.exe of each bitness, the C++ header and GUIDs of DIR/include,
      the documents (each under its path relative to the current folder) and SHA256SUMS

The same files give the same bytes (the release can be rebuilt and compared): every time
stored in a package or the zip is SOURCE_DATE_EPOCH (scripts/package.sh sets it to the
commit's time; without it, the time of the last commit), the package code is derived from
the package's content, and the ProductCode from the version, platform and scope.

What wixl (msitools 0.101) leaves undone or gets wrong, this script completes:
  - the File table's Version and Language columns (wixl leaves them empty, which makes
    Windows Installer treat the DLLs as unversioned files): filled from each file's
    version resource with msibuild;
  - text beyond ASCII: msitools 0.101 stores it wrongly or crashes in a database of
    code page 932 (needed for the type library's help string). The package is built with
    ASCII stand-ins, and the Registry table is imported again with the real text, in
    code page 932, by Wine's own msidb.exe;
  - UpgradeVersion's IncludeMaximum and HKMU roots: wixl drops the first and numbers the
    second 4 instead of -1; both are corrected in the tables.
Run from the repository root (wixl reads the files by the relative paths of the source).
"""
import argparse
import hashlib
import html
import os
import re
import struct
import subprocess
import sys
import tempfile
import time
import uuid
import zipfile

import cfb_summary

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SOURCE = os.path.join(ROOT, "packaging", "corvane.wxs")
# ProductCodes are derived from the version, platform and scope, so the same package
# is built with the same code each time and a new version gets a new one.
PRODUCT_CODE_NAMESPACE = uuid.UUID("02C6EC65-BF6E-42CF-B8FD-472E6935FA42")
# Package codes are derived from each package's bytes (with the code itself left out).
PACKAGE_CODE_NAMESPACE = uuid.UUID("5D1C3C43-5E7B-4C3F-9F0C-3B3F2A8E6A11")
CODEPAGE = 932
VERSION_FILE = os.path.join(ROOT, "VERSION")
STAND_IN = "CorvaneText{}"


def version_resource(path):
    """(file version 'a.b.c.d', language id or None) of a PE file, or (None, None)."""
    data = open(path, "rb").read()
    key = data.find("VS_VERSION_INFO\0".encode("utf-16-le"))
    if key < 0:
        return None, None
    fixed = data.find(struct.pack("<I", 0xFEEF04BD), key)
    if fixed < 0 or fixed - key > 40:
        raise SystemExit(f"{path}: malformed version resource")
    ms, ls = struct.unpack_from("<II", data, fixed + 8)
    version = f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}"
    language = None
    translation = data.find("Translation\0".encode("utf-16-le"), fixed)
    if translation >= 0:
        value = translation + 24
        value += (-(value - (key - 6))) % 4  # values start on 32-bit boundaries of the block
        language = struct.unpack_from("<H", data, value)[0]
    return version, language


def release_version(version=None):
    """The release version: three fields, as Windows Installer compares only those
    (major and minor at most 255, build at most 65535)."""
    if version is None:
        version = open(VERSION_FILE).read().strip()
    fields = version.split(".")
    if len(fields) != 3 or not all(f.isdigit() for f in fields) or \
            int(fields[0]) > 255 or int(fields[1]) > 255 or int(fields[2]) > 65535:
        raise SystemExit(f"release version {version!r}: three fields X.Y.Z (X, Y at most 255, Z at most 65535)")
    return ".".join(str(int(f)) for f in fields)


def source_date_epoch():
    """SOURCE_DATE_EPOCH, or the time of the last commit."""
    value = os.environ.get("SOURCE_DATE_EPOCH")
    if not value:
        value = subprocess.run(["git", "-C", ROOT, "log", "-1", "--format=%ct"], capture_output=True, text=True,
                               check=True).stdout.strip()
    return int(value)


def staged(dist, work, epoch):
    """A copy of the x64 and x86 folders of dist with every file's time set to epoch: the
    cabinet stores each file's modification time."""
    copy = os.path.join(work, "dist")
    for bitness in ("x64", "x86"):
        os.makedirs(os.path.join(copy, bitness))
        for name in ("Corvane.dll", "TamselWrapper.dll", "corvane.exe"):
            target = os.path.join(copy, bitness, name)
            with open(os.path.join(dist, bitness, name), "rb") as f, open(target, "wb") as g:
                g.write(f.read())
            os.utime(target, (epoch, epoch))
    return copy


def run(command, **kwargs):
    result = subprocess.run(command, capture_output=True, text=True, **kwargs)
    if result.returncode != 0:
        sys.stderr.write(result.stdout + result.stderr)
        raise SystemExit(f"failed ({result.returncode}): {' '.join(command)}")
    return result.stdout


def preprocess(defines):
    """The source with includes and conditions resolved, and its text beyond ASCII
    replaced by stand-ins: (xml, {stand-in: text})."""
    command = ["wixl", "-E", SOURCE]
    for name, value in defines.items():
        command += ["-D", f"{name}={value}"]
    xml = run(command, cwd=ROOT)
    texts = {}

    def stand_in(match):
        value = html.unescape(match.group(1))
        if value.isascii():
            return match.group(0)
        token = STAND_IN.format(len(texts))
        texts[token] = value
        return f'="{token}"'

    xml = re.sub(r'="([^"]*)"', stand_in, xml)
    return xml, texts


def upgrade_rows_including_maximum(xml):
    """ActionProperty of each UpgradeVersion that says IncludeMaximum="yes"."""
    rows = []
    for element in re.findall(r"<UpgradeVersion\b[^>]*>", xml):
        if re.search(r'\bIncludeMaximum="yes"', element):
            rows.append(re.search(r'\bProperty="([^"]+)"', element).group(1))
    return rows


def wine_env(wine_dir, codepage):
    wine_dir = os.path.abspath(wine_dir)
    env = dict(os.environ, WINEPREFIX=os.path.join(wine_dir, "prefix"), WINEDEBUG="-all",
               WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d")
    if codepage == 932:
        locale = os.path.join(wine_dir, "locale")
        if not os.path.isdir(os.path.join(locale, "ja_JP.UTF-8")):
            os.makedirs(locale, exist_ok=True)
            # Status 1: warnings only.
            status = subprocess.run(["localedef", "-i", "ja_JP", "-f", "UTF-8", os.path.join(locale, "ja_JP.UTF-8")],
                                    capture_output=True).returncode
            if status not in (0, 1):
                raise SystemExit("localedef ja_JP.UTF-8 failed")
        env.update(LOCPATH=locale, LANG="ja_JP.UTF-8", LC_ALL="ja_JP.UTF-8")
    else:
        env.update(LANG="C.UTF-8", LC_ALL="C.UTF-8")
    return env


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def import_with_wine(msi, tables_dir, tables, wine_dir):
    """Imports .idt files into the package with Wine's msidb.exe, which reads them in
    the ANSI code page of its process (932 here)."""
    env = wine_env(wine_dir, CODEPAGE)
    os.makedirs(wine_dir, exist_ok=True)
    wine = "/usr/lib/wine/wine64"
    try:
        if not os.path.exists(os.path.join(env["WINEPREFIX"], "system.reg")):
            subprocess.run([wine, "wineboot", "-i"], env=env, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
        run([wine, "msidb", "-d", windows_path(msi), "-f", windows_path(tables_dir), "-i"] + tables, env=env,
            stdin=subprocess.DEVNULL)
    finally:
        subprocess.run(["wineserver", "-k"], env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)


def build_msi(platform, scope, dist, out, version, wine_dir):
    version = release_version(version)
    epoch = source_date_epoch()
    product_code = str(uuid.uuid5(PRODUCT_CODE_NAMESPACE, f"{version} {platform} {scope}")).upper()
    out = os.path.abspath(out)
    os.makedirs(os.path.dirname(out), exist_ok=True)
    with tempfile.TemporaryDirectory(dir=os.path.dirname(out)) as work:
        files_dir = staged(dist, work, epoch)
        defines = {"Platform": platform, "Scope": scope, "Version": version, "ProductCode": product_code,
                   "Dist": os.path.relpath(files_dir, ROOT)}
        xml, texts = preprocess(defines)
        source = os.path.join(work, "corvane.wxs")
        with open(source, "w", encoding="utf-8") as f:
            f.write(xml)
        if os.path.exists(out):
            os.remove(out)
        run(["wixl", "-a", platform, "-o", out, source], cwd=ROOT)

        files = run(["msiinfo", "export", out, "File"]).splitlines()[3:]
        updates = []
        for row in files:
            file_id, _, name = row.split("\t")[:3]
            # FileName is "short|long" when the long name is not 8.3.
            name = name.split("|")[-1]
            bitness = "x64" if "X64" in file_id else "x86"  # the File Ids of the source name it
            file_version, language = version_resource(os.path.join(files_dir, bitness, name))
            if file_version:
                updates.append(f"UPDATE `File` SET `Version` = '{file_version}', `Language` = '{language or 0}' "
                               f"WHERE `File` = '{file_id}'")
        for query in updates:
            run(["msibuild", out, "-q", query])

        tables = ["_ForceCodepage.idt"]
        with open(os.path.join(work, "_ForceCodepage.idt"), "w", newline="") as f:
            f.write(f"\r\n\r\n{CODEPAGE}\t_ForceCodepage\r\n")
        registry = run(["msiinfo", "export", out, "Registry"])
        # wixl 0.101 writes the root HKMU as 4; Windows Installer's number for it is -1.
        rows = registry.splitlines()
        for n in range(3, len(rows)):
            columns = rows[n].split("\t")
            if columns[1] == "4":
                columns[1] = "-1"
                rows[n] = "\t".join(columns)
        registry = "\n".join(rows) + "\n"
        for token, text in texts.items():
            if token not in registry:
                raise SystemExit(f"text {text!r} is not in the Registry table: only registry values may hold it")
            registry = registry.replace(token, text)
        with open(os.path.join(work, "Registry.idt"), "wb") as f:
            f.write(registry.replace("\n", "\r\n").encode(f"cp{CODEPAGE}"))
        tables.append("Registry.idt")

        # Attributes is part of the Upgrade table's key, which msibuild cannot update.
        upgrade = run(["msiinfo", "export", out, "Upgrade"]).splitlines()
        for prop in upgrade_rows_including_maximum(xml):
            rows = [n for n in range(3, len(upgrade)) if upgrade[n].split("\t")[6] == prop]
            if len(rows) != 1:
                raise SystemExit(f"no single Upgrade row sets {prop}")
            columns = upgrade[rows[0]].split("\t")
            columns[4] = str(int(columns[4]) | 512)  # msidbUpgradeAttributesVersionMaxInclusive
            upgrade[rows[0]] = "\t".join(columns)
        upgrade = "\n".join(upgrade) + "\n"
        with open(os.path.join(work, "Upgrade.idt"), "wb") as f:
            f.write(upgrade.replace("\n", "\r\n").encode("ascii"))
        tables.append("Upgrade.idt")

        import_with_wine(out, work, tables, wine_dir)
        for table, text in (("Registry", registry), ("Upgrade", upgrade)):
            if run(["msiinfo", "export", out, table]) != text:
                raise SystemExit(f"{out}: the {table} table did not come back as imported")
        package_code = cfb_summary.make_reproducible(out, epoch, PACKAGE_CODE_NAMESPACE)
    print(f"{os.path.relpath(out)}: {platform} {scope} {version} ProductCode {{{product_code}}} "
          f"package code {{{package_code}}}")


def links_outside(text, present):
    """Markdown links to relative paths the zip does not hold, made plain text that names
    them as parts of the source tree: [text](examples/x) -> text (examples/x in the
    source tree). Links to web pages and to files in the zip stay."""
    def plain(match):
        label, target = match.group(1), match.group(2)
        path = target.split("#")[0]
        if re.match(r"^[a-z]+:", target) or not path or path.rstrip("/") in present:
            return match.group(0)
        return f"{label} ({path} in the source tree)"
    return re.sub(r"(?<!!)\[([^\]]+)\]\(([^)\s]+)\)", plain, text)


def build_zip(dist, docs, out, version):
    """A zip with every entry dated SOURCE_DATE_EPOCH, so the same files give the same zip."""
    members = []
    for bitness in ("x64", "x86"):
        for name in ("Corvane.dll", "TamselWrapper.dll", "corvane.exe"):
            members.append((os.path.join(dist, bitness, name), f"{bitness}/{name}"))
    for name in ("corvane.h", "corvane_i.c", "tamsel.h", "tamsel_i.c", "automation_base.h"):
        members.append((os.path.join(dist, "include", name), f"include/{name}"))
    for doc in docs:
        members.append((doc, os.path.relpath(doc).replace(os.sep, "/")))
    names = {n for _, n in members}
    present = names | {n.rsplit("/", 1)[0] for n in names if "/" in n}
    contents = []
    for path, name in members:
        data = open(path, "rb").read()
        if name.endswith(".md"):
            # Links are relative to the document's folder; the documents here are at the
            # top or in docs/.
            folder = os.path.dirname(name)
            relative = {os.path.relpath(p, folder or ".").replace(os.sep, "/") for p in present}
            data = links_outside(data.decode("utf-8"), relative).encode("utf-8")
        contents.append((name, data))
    sums = "".join(f"{hashlib.sha256(data).hexdigest()}  {name}\n" for name, data in contents)
    date = time.gmtime(max(source_date_epoch(), 315532800))[:6]  # zip dates start in 1980
    top = f"Corvane-{version}"
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as z:
        for name, data in contents + [("SHA256SUMS", sums.encode("ascii"))]:
            info = zipfile.ZipInfo(f"{top}/{name}", date_time=date)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.external_attr = 0o644 << 16
            info.create_system = 3
            z.writestr(info, data)
    print(f"{os.path.relpath(out)}: {len(members) + 1} files")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = parser.add_subparsers(dest="command", required=True)
    p = sub.add_parser("version")
    p.add_argument("file")
    p = sub.add_parser("release-version")
    p.add_argument("--version")
    p = sub.add_parser("msi")
    p.add_argument("--platform", choices=["x64", "x86"], required=True)
    p.add_argument("--scope", choices=["perMachine", "perUser"], required=True)
    p.add_argument("--dist", required=True)
    p.add_argument("--out", required=True)
    p.add_argument("--version")
    p.add_argument("--wine-dir", required=True)
    p = sub.add_parser("zip")
    p.add_argument("--dist", required=True)
    p.add_argument("--doc", action="append", required=True)
    p.add_argument("--out", required=True)
    p.add_argument("--version")
    args = parser.parse_args()
    if args.command == "version":
        version = version_resource(args.file)[0]
        if not version:
            raise SystemExit(f"{args.file}: no version resource")
        print(version)
    elif args.command == "release-version":
        print(release_version(args.version))
    elif args.command == "msi":
        build_msi(args.platform, args.scope, args.dist, args.out, args.version, args.wine_dir)
    else:
        build_zip(args.dist, args.doc, args.out, release_version(args.version))


if __name__ == "__main__":
    main()
