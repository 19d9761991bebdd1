#!/usr/bin/python3
"""Checks a Quillon HTML report: strict HTML5, self-contained, and holding every number
that quillon-cli printed for the same measurement.

Usage: check_report.py REPORT.html PRINTED.txt [TEXT...]
Every decimal number in PRINTED.txt (but on the bench's own "Virtual bench ..." lines, its
truth and its uncorrected reading) must appear in
the report's text, and so must each TEXT. Exit 0 when all holds; else one line per fault.
"""
import re
import sys

import html5lib

html_path, printed_path = sys.argv[1], sys.argv[2]
wanted_texts = sys.argv[3:]
faults = []

with open(html_path, "rb") as f:
    raw = f.read()
try:
    parser = html5lib.HTMLParser(strict=True, namespaceHTMLElements=False)
    doc = parser.parse(raw)
except Exception as e:  # html5lib raises ParseError at the first fault
    print(f"not strict HTML5: {e}")
    sys.exit(1)

for el in doc.iter():
    tag = el.tag if isinstance(el.tag, str) else ""
    local = tag.split("}")[-1]
    if local in ("script", "iframe", "object", "embed", "link", "img"):
        faults.append(f"element <{local}> in a self-contained report")
    for name, value in el.attrib.items():
        name = name.split("}")[-1]
        if name.startswith("on"):
            faults.append(f"event handler {name}")
        if name in ("src", "href") and not value.startswith("#"):
            faults.append(f"external reference {name}={value}")
    if local == "style" and re.search(r"@import|url\(", el.text or ""):
        faults.append("the style sheet loads something")

text = " ".join(" ".join(doc.itertext()).split())
with open(printed_path, encoding="utf-8") as f:
    printed = [line for line in f if not line.startswith("Virtual bench ")]
numbers = set()
for line in printed:
    numbers.update(re.findall(r"-?\d+\.\d+", line))
words = set(re.findall(r"[-\d.]+", text))
for n in sorted(numbers):
    if n not in words:
        faults.append(f"the printed number {n} is not in the report")
for t in wanted_texts:
    if t not in text:
        faults.append(f"the text {t!r} is not in the report")
if not numbers:
    faults.append("nothing printed to compare")

for fault in faults:
    print(fault)
if not faults:
    print(f"ok: {len(numbers)} numbers")
sys.exit(1 if faults else 0)
