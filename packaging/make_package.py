#!/usr/bin/env python3
"""Builds the Windows Installer packages and the zip of Corvane from built files.

  make_package.py version FILE
      the file version of a PE file's version resource (1.0.1.6)
  make_package.py msi --platform x64|x86 --scope perMachine|perUser --dist DIR --out FILE
                      [--version V] --wine-dir DIR
      a package from packaging/corvane.wxs; the version defaults to DIR's Corvane.dll
  make_package.py zip --dist DIR --doc FILE... --out FILE
      both DLL sets, corvane.exe of each bitness, the C++ header and GUIDs of DIR/include,
      the documents (each under its path relative to the current folder) and SHA256SUMS

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
import uuid
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SOURCE = os.path.join(ROOT, "packaging", "corvane.wxs")
# ProductCodes are derived from the version, platform and scope, so the same package
# is built with the same code each time and a new version gets a new one.
PRODUCT_CODE_NAMESPACE = uuid.UUID("02C6EC65-BF6E-42CF-B8FD-472E6935FA42")
CODEPAGE = 932
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
    version = version or version_resource(os.path.join(dist, platform, "Corvane.dll"))[0]
    product_code = str(uuid.uuid5(PRODUCT_CODE_NAMESPACE, f"{version} {platform} {scope}")).upper()
    defines = {"Platform": platform, "Scope": scope, "Version": version, "ProductCode": product_code,
               "Dist": os.path.relpath(dist, ROOT)}
    xml, texts = preprocess(defines)
    out = os.path.abspath(out)
    os.makedirs(os.path.dirname(out), exist_ok=True)
    with tempfile.TemporaryDirectory(dir=os.path.dirname(out)) as work:
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
            file_version, language = version_resource(os.path.join(dist, bitness, name))
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
    print(f"{os.path.relpath(out)}: {platform} {scope} {version} ProductCode {{{product_code}}}")


def build_zip(dist, docs, out, version):
    """A zip with a fixed date for each entry, so the same files give the same zip."""
    members = []
    for bitness in ("x64", "x86"):
        for name in ("Corvane.dll", "TamselWrapper.dll", "corvane.exe"):
            members.append((os.path.join(dist, bitness, name), f"{bitness}/{name}"))
    for name in ("corvane.h", "corvane_i.c", "tamsel.h", "tamsel_i.c", "automation_base.h"):
        members.append((os.path.join(dist, "include", name), f"include/{name}"))
    for doc in docs:
        members.append((doc, os.path.relpath(doc).replace(os.sep, "/")))
    sums = "".join(f"{hashlib.sha256(open(p, 'rb').read()).hexdigest()}  {n}\n" for p, n in members)
    top = f"Corvane-{version}"
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as z:
        for path, name in members:
            info = zipfile.ZipInfo(f"{top}/{name}", date_time=(2020, 1, 1, 0, 0, 0))
            info.compress_type = zipfile.ZIP_DEFLATED
            info.external_attr = 0o644 << 16
            z.writestr(info, open(path, "rb").read())
        info = zipfile.ZipInfo(f"{top}/SHA256SUMS", date_time=(2020, 1, 1, 0, 0, 0))
        info.external_attr = 0o644 << 16
        z.writestr(info, sums)
    print(f"{os.path.relpath(out)}: {len(members) + 1} files")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = parser.add_subparsers(dest="command", required=True)
    p = sub.add_parser("version")
    p.add_argument("file")
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
    args = parser.parse_args()
    if args.command == "version":
        version = version_resource(args.file)[0]
        if not version:
            raise SystemExit(f"{args.file}: no version resource")
        print(version)
    elif args.command == "msi":
        build_msi(args.platform, args.scope, args.dist, args.out, args.version, args.wine_dir)
    else:
        build_zip(args.dist, args.doc, args.out, version_resource(os.path.join(args.dist, "x64", "Corvane.dll"))[0])


if __name__ == "__main__":
    main()
