#!/usr/bin/python3
"""Checks the release zip as an operator meets it on Windows.

    check_zip.py tarvokey-<version>.zip

- ASCII names; at the top the program files, the two first files to read
  (UTF-8 with a byte-order mark, CRLF line ends, each naming its guide page)
  and the guide as two HTML pages;
- each page holds every picture its Markdown links, inlined or as a file of
  the zip beside it, and every other link it has reaches a file of the zip;
- no page shows a space between two Japanese characters that its Markdown
  does not have within a line;
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
                "guide.en.html", "guide.ja.html", "LICENSE", "CHANGELOG.md", "SHA256SUMS",
                "docs/guide.en.md", "docs/guide.ja.md"]
FIRST_TO_READ = {"README.txt": "guide.en.html", "README-ja.txt": "guide.ja.html"}
MARKDOWN_PICTURE = re.compile(r"!\[[^\]]*\]\(([^)\s]+)")


def wide(character):
    return unicodedata.east_asian_width(character) in ("W", "F")


def spaced_pairs(text):
    """Each two wide characters with only white space between them."""
    return {(m.group(1), m.group(2)) for m in re.finditer(r"(\S)\s+(?=(\S))", text)
            if wide(m.group(1)) and wide(m.group(2))}


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

    for name, page in FIRST_TO_READ.items():
        data = files[name]
        expect(data.startswith(b"\xef\xbb\xbf"), "%s has no byte-order mark" % name)
        expect(b"\n" not in data.replace(b"\r\n", b""), "%s has line ends other than CRLF" % name)
        expect(page in data.decode("utf-8-sig"), "%s does not name %s" % (name, page))

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
            target = urllib.parse.unquote(html.unescape(href)).partition("#")[0]
            expect(":" in target or not target or posixpath.normpath(target) in files,
                   "%s links %s, which is not in the zip" % (page_name, href))

        # The text a browser shows, without preformatted blocks; a block's
        # edge (paragraph, table cell, list item) is no space within a line.
        text = re.sub(r"<pre\b.*?</pre>", "|", page, flags=re.S)
        text = re.sub(r"</?(?:a|code|del|em|strong)\b[^>]*>", "", text)
        text = html.unescape(re.sub(r"<[^>]*>", "|", text))
        # Within a line of the Markdown, without its inline markup and link targets.
        written = set()
        for line in source.splitlines():
            written |= spaced_pairs(re.sub(r"[*_`~\[\]]", "", re.sub(r"\]\([^)]*\)", "]", line)))
        stray = sorted(spaced_pairs(text) - written)
        expect(not stray, "%s shows spaces the Markdown does not have: %s" % (
            page_name, ", ".join("%s %s" % pair for pair in stray[:10])))
    return failures


def main():
    failures = check(sys.argv[1])
    for failure in failures:
        print("FAIL: " + failure)
    if not failures:
        print("PASS: README.txt and README-ja.txt (BOM, CRLF), guide.en.html and guide.ja.html "
              "with their pictures and links, no stray spaces in Japanese, SHA256SUMS complete")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
