"""Checks the version resource of Windows programs and modules.

version_resources.py VERSION FILE...: every FILE (.exe or .dll) must carry a
version resource whose fixed file and product versions are VERSION.0 and
whose strings name the file version, the product version "VERSION", the
product name and a description. Prints one line per file; exit 1 when any
file fails. Needs Debian's python3-pefile (run with /usr/bin/python3).
"""
import sys

import pefile


def strings_of(pe):
    found = {}
    for info in getattr(pe, "FileInfo", None) or []:
        for entry in info:
            for table in getattr(entry, "StringTable", []):
                found.update({k.decode(): v.decode() for k, v in table.entries.items()})
    return found


def problems(path, version):
    pe = pefile.PE(path)
    fixed = getattr(pe, "VS_FIXEDFILEINFO", None)
    if not fixed:
        return ["no version resource"]
    wanted = [int(part) for part in version.split(".")] + [0]
    wanted_ms, wanted_ls = (wanted[0] << 16) | wanted[1], (wanted[2] << 16) | wanted[3]
    info, text = fixed[0], strings_of(pe)
    bad = []
    if (info.FileVersionMS, info.FileVersionLS) != (wanted_ms, wanted_ls):
        bad.append("fixed file version differs")
    if (info.ProductVersionMS, info.ProductVersionLS) != (wanted_ms, wanted_ls):
        bad.append("fixed product version differs")
    for key, value in (("FileVersion", version), ("ProductVersion", version),
                       ("ProductName", "Vantorel driver")):
        if text.get(key) != value:
            bad.append(f"{key} is {text.get(key)!r}, not {value!r}")
    if not text.get("FileDescription"):
        bad.append("no FileDescription")
    return bad


def main(argv):
    version, files = argv[1], argv[2:]
    failed = 0
    for path in files:
        bad = problems(path, version)
        print(("FAIL  " if bad else "ok    ") + f"{path} carries version {version}" +
              (": " + "; ".join(bad) if bad else ""))
        failed += bool(bad)
    return 1 if failed or not files else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
