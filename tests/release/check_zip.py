#!/usr/bin/python3
"""Checks the release zip as an operator meets it on Windows.

    check_zip.py tarvokey-<version>.zip

- ASCII names; at the top the program files, the two first files to read
  (each naming its guide page), the licence and the changes as .txt (which
  Windows opens; each of the four UTF-8 with a byte-order mark and CRLF line
  ends) and the guide as two HTML pages;
- each page holds every picture its Markdown links, inlined or as a file of
  the zip beside it, every other link it has reaches a file of the zip, and
  a link to a place in a page (a section) reaches a heading there;
- no page shows a space between two Japanese characters, nor after 。 or 、
  (Japanese sets none there), outside preformatted text and code;
- CHANGELOG.txt's first section names the version the zip is named for (its
  top folder, tarvokey-<version>/), so that a release's changes are listed
  under its own version;
- SHA256SUMS covers every other file, with the right sums.
"""
import base64
import hashlib
import html
import posixpath
import re
import sys
import unicodedata
import urllib.parse
import zipfile

WANTED_FILES = ["tarvokey.fsk", "tarvokey-check.exe", "README.txt", "README-ja.txt",
                "guide.en.html", "guide.ja.html", "LICENSE.txt", "CHANGELOG.txt", "SHA256SUMS",
                "docs/guide.en.md", "docs/guide.ja.md"]
FIRST_TO_READ = {"README.txt": "guide.en.html", "README-ja.txt": "guide.ja.html"}
WINDOWS_TEXTS = ["README.txt", "README-ja.txt", "LICENSE.txt", "CHANGELOG.txt"]
MARKDOWN_PICTURE = re.compile(r"!\[[^\]]*\]\(([^)\s]+)")


def wide(character):
    return unicodedata.east_asian_width(character) in ("W", "F")


def stray_spaces(text):
    """Each place a browser shows a space where Japanese sets none: between two
    wide characters, or after 。 or 、; a few characters either side."""
    return sorted({text[max(0, m.start() - 6):m.end() + 6].replace("\n", " ")
                   for m in re.finditer(r"(\S)\s+(?=(\S))", text)
                   if (wide(m.group(1)) and wide(m.group(2))) or m.group(1) in "。、"})


def check(path):
    failures = []

    def expect(condition, message):
        if not condition:
            failures.append(message)

    with zipfile.ZipFile(path) as z:
        names = z.namelist()
        top = names[0].split("/")[0] + "/"
        expect(all(n.startswith(top) for n in names), "not all under %s" % top)
        expect(all(n.isascii() for n in names),
               "names that are not ASCII: %s" % [n for n in names if not n.isascii()])
        files = {n[len(top):]: z.read(n) for n in names}
    missing = [name for name in WANTED_FILES if name not in files]
    expect(not missing, "missing: %s" % missing)
    if missing:
        return failures

    for name in WINDOWS_TEXTS:
        data = files[name]
        expect(data.startswith(b"\xef\xbb\xbf"), "%s has no byte-order mark" % name)
        expect(b"\n" not in data.replace(b"\r\n", b""), "%s has line ends other than CRLF" % name)
    version = top[len("tarvokey-"):-1]
    sections = re.findall(r"^## (.*?)\s*$", files["CHANGELOG.txt"].decode("utf-8-sig"), re.M)
    expect(sections[:1] == [version], "CHANGELOG.txt begins with the section %s, not %s" % (
        sections[:1], version))
    for name, page in FIRST_TO_READ.items():
        expect(page in files[name].decode("utf-8-sig"), "%s does not name %s" % (name, page))
    anchors = {name: set(html.unescape(a) for a in re.findall(r'<h[1-6] id="([^"]*)"',
                                                             files[name].decode()))
               for name in ("guide.en.html", "guide.ja.html")}

    sums = dict(reversed(line.split("  ", 1))
                for line in files["SHA256SUMS"].decode().splitlines())
    expect(sorted(sums) == sorted(set(files) - {"SHA256SUMS"}),
           "SHA256SUMS lists %s" % sorted(sums))
    wrong = [n for n, s in sums.items() if hashlib.sha256(files.get(n, b"")).hexdigest() != s]
    expect(not wrong, "wrong sums in SHA256SUMS: %s" % wrong)

    for lang in ("en", "ja"):
        page_name, source_name = "guide.%s.html" % lang, "docs/guide.%s.md" % lang
        page, source = files[page_name].decode(), files[source_name].decode()
        wanted = [posixpath.normpath(posixpath.join("docs", urllib.parse.unquote(url)))
                  for url in MARKDOWN_PICTURE.findall(source)]
        shown = [html.unescape(src) for src in re.findall(r'<img src="([^"]*)"', page)]
        expect(len(shown) == len(wanted),
               "%s shows %d pictures, its Markdown links %d" % (page_name, len(shown), len(wanted)))
        for want, src in zip(wanted, shown):
            if src.startswith("data:"):
                data = base64.b64decode(src.split(",", 1)[1])
            else:
                data = files.get(posixpath.normpath(urllib.parse.unquote(src)))
            expect(data is not None and data == files.get(want),
                   "%s does not hold the picture %s" % (page_name, want))
        for href in re.findall(r'<a href="([^"]*)"', page):
            target, hash_, fragment = urllib.parse.unquote(html.unescape(href)).partition("#")
            expect(":" in target or not target or posixpath.normpath(target) in files,
                   "%s links %s, which is not in the zip" % (page_name, href))
            in_page = anchors.get(posixpath.normpath(target) if target else page_name)
            expect(not hash_ or in_page is None or fragment in in_page,
                   "%s links %s, which names no heading there" % (page_name, href))

        # The text a browser shows, without preformatted blocks and code; a
        # block's edge (paragraph, table cell, list item) is no space.
        text = re.sub(r"<pre\b.*?</pre>", "|", page, flags=re.S)
        text = re.sub(r"<code\b[^>]*>.*?</code>", "x", text, flags=re.S)
        text = re.sub(r"</?(?:a|del|em|strong)\b[^>]*>", "", text)
        text = html.unescape(re.sub(r"<[^>]*>", "|", text))
        stray = stray_spaces(text)
        expect(not stray, "%s shows %d spaces where Japanese sets none: %s" % (
            page_name, len(stray), ", ".join("'%s'" % s for s in stray[:10])))
    return failures


def main():
    failures = check(sys.argv[1])
    for failure in failures:
        print("FAIL: " + failure)
    if not failures:
        print("PASS: README.txt, README-ja.txt, LICENSE.txt and CHANGELOG.txt (BOM, CRLF), "
              "the changes of this version first, guide.en.html and guide.ja.html with their "
              "pictures, links and sections, no stray spaces in Japanese, SHA256SUMS complete")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
