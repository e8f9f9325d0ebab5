#!/usr/bin/python3
"""Compares what kestrel-scan reads from real PE files with what pefile reads.

Not part of `make test`: it needs Debian's python3-pefile and PE files from
Debian's packages, for instance

    apt-get install python3-pefile libwine nsis mono-4.0-gac \
        gcc-mingw-w64-i686-win32-runtime gcc-mingw-w64-x86-64-win32-runtime
    make build JOBS=2
    /usr/bin/python3 tests/tools/compare_version_strings.py

Without PATH arguments it looks for .dll, .exe, .sys, .drv and .ocx files in
the folders those packages fill. For every PE file it compares

- the version strings: kestrel-scan's res_strings against the string tables
  of the first version resource pefile parses, stored into rows the way
  Kestrel stores them (ten known keys by prefix, the last table winning, the
  other keys in the order met);
- the imported modules: kestrel-scan's hdr_imports against pefile's import
  directory, each name cut at its dot or to 8 characters and padded to 8.

A disagreement that Kestrel's documented reading explains is counted as such:
the resource is taken only through a section whose name begins with ".rsrc",
only the first ID entry at the name and at the language level is used, and
imports are read only through a section whose name begins with ".idata".
Anything else is listed as unexplained, and the exit status is 1.
"""

import argparse
import json
import os
import re
import subprocess
import sys
from collections import Counter

import pefile

DEFAULT_FOLDERS = [
    "/usr/lib/x86_64-linux-gnu/wine",
    "/usr/share/nsis",
    "/usr/lib/mono",
    "/usr/lib/gcc/i686-w64-mingw32",
    "/usr/lib/gcc/x86_64-w64-mingw32",
]
EXTENSIONS = (".dll", ".exe", ".sys", ".drv", ".ocx")
BATCH = 200

KNOWN_KEYS = [
    ("FileDescription", 1),
    ("FileVersion", 2),
    ("ProductName", 3),
    ("ProductVersion", 4),
    ("Company", 6),
    ("LegalCopyright", 5),
    ("LegalTrademarks", 7),
    ("InternalName", 8),
    ("OriginalFilename", 9),
    ("Comments", 10),
]
ROWS = 40
RT_VERSION = 16

# Code page 1252 from 0x80 to 0x9F, as kestrel-scan turns record bytes into
# UTF-8; the five undefined bytes keep their own code.
CP1252_HIGH = [
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
]
ESCAPED_SURROGATE = re.compile(r"\\u[dD][89a-fA-F][0-9a-fA-F]{2}")


def as_kestrel_text(raw):
    """pefile's UTF-8 bytes as Kestrel shows them: one character per 16-bit
    code, "_" for a code above 255, codes 0x80-0x9F through code page 1252."""
    text = ESCAPED_SURROGATE.sub("_", raw.decode("utf-8", "backslashreplace"))
    out = []
    for ch in text:
        code = ord(ch)
        if code > 0xFFFF:
            out.append("__")  # a surrogate pair: two codes
        elif code > 255:
            out.append("_")
        elif 0x80 <= code < 0xA0:
            out.append(chr(CP1252_HIGH[code - 0x80]))
        else:
            out.append(ch)
    return "".join(out)


def rows_from_tables(tables):
    """The res_strings pairs Kestrel would show for these string tables."""
    rows = {}
    count = 10
    for entries in tables:
        for key, value in entries:
            row = next((r for name, r in KNOWN_KEYS if key.startswith(name)), None)
            if row is None:
                if count >= ROWS:
                    continue
                count += 1
                row = count
            rows[row] = [key, value]
    return [rows[r] for r in sorted(rows) if rows[r][0]]


def string_tables(file_info):
    tables = []
    for structure in file_info or []:
        for table in getattr(structure, "StringTable", []):
            tables.append(
                [(as_kestrel_text(k), as_kestrel_text(v)) for k, v in table.entries.items()])
    return tables


def first_id_entry(directory):
    for entry in directory.entries:
        if entry.name is None:
            return entry
    return None


def kestrel_choice_tables(pe):
    """The string tables of the resource Kestrel chooses: type 16, the first
    ID entry of the name level and of the language level."""
    resources = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    if resources is None:
        return None
    version = next((e for e in resources.entries if e.id == RT_VERSION), None)
    if version is None or not hasattr(version, "directory"):
        return None
    name = first_id_entry(version.directory)
    if name is None or not hasattr(name, "directory"):
        return None
    language = first_id_entry(name.directory)
    if language is None or not hasattr(language, "data"):
        return None
    saved = getattr(pe, "FileInfo", None)
    pe.FileInfo = []
    try:
        pe.parse_version_information(language.data.struct)
        chosen = pe.FileInfo[0] if pe.FileInfo else None
    finally:
        pe.FileInfo = saved
    return string_tables(chosen)


def import_column(name):
    name = name[:13]  # Kestrel reads a name from at most 13 bytes
    dot = name.find(".")
    name = name[:dot] if dot >= 0 else name[:8]
    return (name[:8] + " " * 8)[:8]


def section_names(pe):
    return [s.Name.rstrip(b"\0").decode("latin-1") for s in pe.sections]


def compare(path, report):
    """Returns (version verdict, import verdict, details)."""
    pe = pefile.PE(path, fast_load=True)
    pe.parse_data_directories(directories=[
        pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_IMPORT"],
        pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"],
    ])
    names = section_names(pe)
    details = []

    got = report["res_strings"]
    pefile_info = pe.FileInfo[0] if getattr(pe, "FileInfo", None) else None
    wanted = rows_from_tables(string_tables(pefile_info))
    if got == wanted:
        version = "agree"
    elif not any(n.startswith(".rsrc") for n in names):
        version = "quirk: no section named .rsrc"
    elif got == rows_from_tables(kestrel_choice_tables(pe) or []):
        version = "quirk: first ID entry at the name and language level"
    else:
        version = "unexplained"
        details.append(f"  version strings: kestrel {got}\n                   pefile  {wanted}")

    got_imports = report["hdr_imports"]
    modules = [entry.dll.decode("latin-1")
               for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])]
    wanted_imports = ", ".join(import_column(m) for m in modules)
    if got_imports == wanted_imports:
        imports = "agree"
    elif not any(n.startswith(".idata") for n in names) and got_imports == "":
        imports = "quirk: imports not in a section named .idata"
    else:
        imports = "unexplained"
        details.append(f"  imports: kestrel {got_imports!r}\n           pefile  {wanted_imports!r}")
    pe.close()
    return version, imports, details


def find_files(paths):
    found = []
    for root in paths:
        if os.path.isfile(root):
            found.append(root)
            continue
        for folder, _, files in os.walk(root):
            for name in sorted(files):
                path = os.path.join(folder, name)
                if name.lower().endswith(EXTENSIONS) and os.path.isfile(path) \
                        and not os.path.islink(path):
                    found.append(path)
    return sorted(set(found))


def is_pe(path):
    try:
        with open(path, "rb") as f:
            head = f.read(64)
            if len(head) < 64 or head[:2] != b"MZ":
                return False
            f.seek(int.from_bytes(head[60:64], "little"))
            return f.read(4) == b"PE\0\0"
    except OSError:
        return False


def pe_kind(path):
    with open(path, "rb") as f:
        f.seek(int.from_bytes(f.read(64)[60:64], "little") + 24)
        return "PE32+" if f.read(2) == b"\x0b\x02" else "PE32"


def scan(kestrel, files):
    reports = {}
    for start in range(0, len(files), BATCH):
        batch = files[start:start + BATCH]
        out = subprocess.run([kestrel, "--json", "--no-progress", *batch],
                             check=False, capture_output=True, text=True).stdout
        for line in out.splitlines():
            report = json.loads(line)
            reports[os.path.join(report["directory"], report["name"])] = report
    return reports


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("paths", nargs="*", default=DEFAULT_FOLDERS)
    parser.add_argument("--kestrel", default=os.path.join(
        os.path.dirname(__file__), "..", "..", "build", "cli", "kestrel-scan"))
    args = parser.parse_args()

    files = [f for f in find_files(args.paths) if is_pe(f)]
    reports = scan(args.kestrel, files)
    versions, imports = Counter(), Counter()
    kinds, with_version = Counter(), Counter()
    for path in files:
        report = reports.get(os.path.realpath(path)) or reports.get(path)
        if report is None:
            print(f"{path}: no report from kestrel-scan")
            versions["unexplained"] += 1
            continue
        version, imported, details = compare(path, report)
        kind = pe_kind(path)
        kinds[kind] += 1
        if report["res_strings"]:
            with_version[kind] += 1
        versions[version] += 1
        imports[imported] += 1
        if details:
            print(path)
            print("\n".join(details))

    print(f"files compared: {len(files)} ({', '.join(f'{n} {k}' for k, n in sorted(kinds.items()))})")
    print("files with version strings: " +
          ", ".join(f"{with_version[k]} {k}" for k in sorted(kinds)))
    print("version strings:")
    for verdict, n in sorted(versions.items()):
        print(f"  {verdict}: {n}")
    print("imports:")
    for verdict, n in sorted(imports.items()):
        print(f"  {verdict}: {n}")
    return 1 if versions["unexplained"] or imports["unexplained"] else 0


if __name__ == "__main__":
    sys.exit(main())
