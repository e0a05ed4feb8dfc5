#!/usr/bin/env python3
"""The shipped binaries import only what imports.txt lists, nothing newer
than Windows XP, and the list names nothing they no longer import.

  check_imports.py <imports.txt> <binary>...

Reads each import table with the toolchain's objdump ($OBJDUMP).
"""
import os
import re
import subprocess
import sys

# The Windows versions the list may name, oldest first.
VERSIONS = ["95", "NT4", "2000", "XP", "Vista", "7", "8", "8.1", "10", "11"]
NEWEST_ALLOWED = "XP"


def listed(path):
    entries, faults = {}, []
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.split("#", 1)[0].split()
            if not line:
                continue
            if len(line) != 3 or line[2] not in VERSIONS:
                faults.append(f"{path}:{number}: wanted <DLL> <function> <one of {' '.join(VERSIONS)}>")
                continue
            entries[(line[0].lower(), line[1])] = line[2]
    return entries, faults


def imports(binary):
    dump = subprocess.run([os.environ.get("OBJDUMP", "i686-w64-mingw32-objdump"), "-p", binary],
                          capture_output=True, text=True, check=True).stdout
    found, dll = set(), None
    for line in dump.splitlines():
        named = re.match(r"^\s*DLL Name: (\S+)$", line)
        if named:
            dll = named.group(1).lower()
        elif dll and re.match(r"^\s+[0-9a-f]+\s+[0-9]+\s+\S+$", line):
            found.add((dll, line.split()[-1]))
        elif not line.strip():
            dll = None
    return found


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    entries, faults = listed(sys.argv[1])
    used = set()
    for binary in sys.argv[2:]:
        name = os.path.basename(binary)
        found = imports(binary)
        if not found:
            faults.append(f"{name}: no imports read (is it a PE file?)")
        used |= found
        for dll, function in sorted(found):
            version = entries.get((dll, function))
            if version is None:
                faults.append(f"{name} imports {dll} {function}, which imports.txt does not list: "
                              "add it with the first Windows that has it (Microsoft Learn: "
                              "Requirements, Minimum supported client)")
            elif VERSIONS.index(version) > VERSIONS.index(NEWEST_ALLOWED):
                faults.append(f"{name} imports {dll} {function}, first in Windows {version}: it would "
                              "not load on XP; look it up at run time (GetProcAddress)")
        print(f"{name}: {len(found)} imports, the newest from Windows "
              f"{max((entries.get(i, '95') for i in found), key=VERSIONS.index, default='-')}")
    for dll, function in sorted(set(entries) - used):
        faults.append(f"imports.txt lists {dll} {function}, which no binary imports: remove it")
    for fault in faults:
        print("FAIL:", fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
