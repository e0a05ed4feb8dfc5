#!/usr/bin/env python3
"""Reads the version record out of the built module's resources and checks it.

A reader of its own (PE headers, resource directory, VS_VERSIONINFO tree), so
the check needs neither Windows nor Wine and sees exactly the bytes we ship.
The version it wants is the one shell/version.h gives.

    check_version_resource.py <tarvokey.fsk> <shell/version.h>
"""
import re
import struct
import sys

DESCRIPTION = "TARVOKEY専用EXTFSK.DLL"


def header_version(path):
    """The four numbers of the version header, and its text as the record spells it."""
    text = open(path, encoding="utf-8").read()
    numbers = tuple(int(re.search(r"#define TARVOKEY_VERSION_%s (\d+)" % part, text).group(1))
                    for part in ("MAJOR", "MINOR", "BUILD", "REVISION"))
    return numbers, re.search(r'#define TARVOKEY_VERSION_TEXT "([^"]*)"', text).group(1)


WANTED_STRINGS = {
    "Comments": DESCRIPTION,
    "CompanyName": "TARVOKEY",
    "FileDescription": DESCRIPTION,
    "FileVersion": None,  # the version, as the header spells it
    "InternalName": "tarvokey.fsk",
    "LegalTrademarks": "TARVOKEY",
    "OriginalFilename": "tarvokey.fsk",
    "PrivateBuild": "",
    "ProductName": "tarvokey.fsk",
    "ProductVersion": None,
    "SpecialBuild": "",
}
RT_VERSION = 16
VS_FFI_SIGNATURE = 0xFEEF04BD
VOS_NT_WINDOWS32 = 0x00040004
VFT_DLL = 2
JAPANESE = 0x0411
UNICODE_CODE_PAGE = 1200


class Pe:
    def __init__(self, data):
        self.data = data
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("not a PE file")
        sections, optional_size = struct.unpack_from("<H12xH", data, pe + 6)
        optional = pe + 24
        if struct.unpack_from("<H", data, optional)[0] != 0x10B:
            raise ValueError("not a 32-bit PE file")
        # Data directory 2 (resources) of the PE32 optional header.
        self.rsrc_rva, self.rsrc_size = struct.unpack_from("<II", data, optional + 96 + 2 * 8)
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            virtual_size, rva, raw_size, raw = struct.unpack_from("<IIII", data, table + 40 * i + 8)
            self.sections.append((rva, max(virtual_size, raw_size), raw))

    def offset(self, rva):
        for start, size, raw in self.sections:
            if start <= rva < start + size:
                return raw + rva - start
        raise ValueError("RVA %#x is in no section" % rva)

    def directory(self, at):
        """The entries of the resource directory at offset `at` in .rsrc."""
        base = self.offset(self.rsrc_rva)
        named, ids = struct.unpack_from("<HH", self.data, base + at + 12)
        entries = []
        for i in range(named + ids):
            name, target = struct.unpack_from("<II", self.data, base + at + 16 + 8 * i)
            entries.append((name, target))
        return entries

    def resources(self, wanted_type):
        """(name, language, bytes) of every resource of type `wanted_type`."""
        base = self.offset(self.rsrc_rva)
        found = []
        if self.rsrc_size == 0:
            return found
        for type_id, types in self.directory(0):
            if type_id != wanted_type:
                continue
            for name, langs in self.directory(types & 0x7FFFFFFF):
                for lang, leaf in self.directory(langs & 0x7FFFFFFF):
                    rva, size = struct.unpack_from("<II", self.data, base + leaf)
                    start = self.offset(rva)
                    found.append((name, lang, self.data[start:start + size]))
        return found


def align4(n):
    return (n + 3) & ~3


def parse_node(block, at):
    """One VS_VERSIONINFO node: (key, type, value bytes, children, end)."""
    length, value_length, kind = struct.unpack_from("<HHH", block, at)
    end = at + length
    if length < 6 or end > len(block):
        raise ValueError("node at %d overruns its parent" % at)
    key_end = at + 6
    while block[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = block[at + 6:key_end].decode("utf-16-le")
    pos = align4(key_end + 2)
    # Text values count UTF-16 units, binary values bytes.
    value_bytes = value_length * 2 if kind == 1 else value_length
    value = block[pos:pos + value_bytes]
    if pos + value_bytes > end:
        raise ValueError("value of %r overruns its node" % key)
    pos = align4(pos + value_bytes)
    children = []
    while pos < end:
        child = parse_node(block, pos)
        children.append(child)
        pos = align4(child[4])
    return key, kind, value, children, end


def check(path, version, version_text):
    failures = []

    def expect(condition, message):
        if not condition:
            failures.append(message)

    expect(version_text == ", ".join(map(str, version)),
           "the header spells %s as %r" % (version, version_text))

    with open(path, "rb") as f:
        pe = Pe(f.read())
    resources = pe.resources(RT_VERSION)
    expect(len(resources) == 1, "%d version resources" % len(resources))
    if not resources:
        return failures
    name, lang, block = resources[0]
    expect(name == 1, "version resource id %#x" % name)
    expect(lang == JAPANESE, "version resource language %#x" % lang)

    key, _, fixed, children, _ = parse_node(block, 0)
    expect(key == "VS_VERSION_INFO", "root key %r" % key)
    expect(len(fixed) == 52, "fixed part of %d bytes" % len(fixed))
    (signature, _, file_ms, file_ls, product_ms, product_ls, _, flags, os_, type_,
     subtype) = struct.unpack_from("<11I", fixed)
    expect(signature == VS_FFI_SIGNATURE, "fixed part signature %#x" % signature)
    for what, ms, ls in (("file", file_ms, file_ls), ("product", product_ms, product_ls)):
        numbers = (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
        expect(numbers == version, "%s version %s" % (what, numbers))
    expect(flags == 0, "file flags %#x" % flags)
    expect(os_ == VOS_NT_WINDOWS32, "file OS %#x" % os_)
    expect(type_ == VFT_DLL, "file type %d" % type_)
    expect(subtype == 0, "file subtype %d" % subtype)

    nodes = {child[0]: child for child in children}
    expect(sorted(nodes) == ["StringFileInfo", "VarFileInfo"], "blocks %s" % sorted(nodes))
    tables = nodes.get("StringFileInfo", (None, None, None, [], None))[3]
    expect([t[0] for t in tables] == ["041104b0"], "string tables %s" % [t[0] for t in tables])
    strings = {}
    for table in tables:
        for key, kind, value, _, _ in table[3]:
            expect(kind == 1, "%s is not text" % key)
            text = value.decode("utf-16-le")
            expect(text == "" or text.endswith("\0"), "%s is not terminated" % key)
            strings[key] = text.rstrip("\0")
    for key, wanted in WANTED_STRINGS.items():
        wanted = version_text if wanted is None else wanted
        expect(key in strings, "%s missing" % key)
        expect(strings.get(key, wanted) == wanted,
               "%s is %r, wanted %r" % (key, strings.get(key), wanted))
    extra = sorted(set(strings) - set(WANTED_STRINGS))
    expect(not extra, "strings that do not belong: %s" % extra)

    variables = nodes.get("VarFileInfo", (None, None, None, [], None))[3]
    translations = [v[2] for v in variables if v[0] == "Translation"]
    expect(translations == [struct.pack("<HH", JAPANESE, UNICODE_CODE_PAGE)],
           "Translation %s" % [t.hex() for t in translations])
    return failures


def report(failures, passed):
    """Prints each failure, or the line that says what passed; the exit status."""
    for failure in failures:
        print(failure)
    if not failures:
        print(passed)
    return 1 if failures else 0


def main():
    version, version_text = header_version(sys.argv[2])
    return report(check(sys.argv[1], version, version_text),
                  "version record: %s, Japanese/Unicode, %d strings as wanted" % (
                      ".".join(map(str, version)), len(WANTED_STRINGS)))


if __name__ == "__main__":
    sys.exit(main())
