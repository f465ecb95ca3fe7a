"""Driver of epub_real_pages: convert, epubcheck and compare words, four pages at a time."""
import concurrent.futures
import os
import re
import subprocess
import sys
import xml.etree.ElementTree as ET
import zipfile

import html5lib

sys.setrecursionlimit(100000)
folder, program, work = sys.argv[1:4]
EPUBCHECK = "/usr/share/java/epubcheck.jar"
LEFT_OUT = {"script", "style", "template"}
# What an XML document may not hold; the chapter leaves it out, so the page's words do too.
NOT_XML = re.compile("[\x00-\x08\x0b\x0c\x0e-\x1f\ufffe\uffff]")


def pages():
    found = []
    for root, _, names in os.walk(folder, followlinks=True):
        for name in names:
            path = os.path.join(root, name)
            if name.endswith("html") and os.path.isfile(path) and os.path.getsize(path) >= 3 * 1024:
                found.append(path)
    return sorted(found)


def local(tag):
    return tag.split("}")[-1].lower() if isinstance(tag, str) else None


def texts(element, out, skip):
    name = local(element.tag)
    if name is not None and name not in skip:
        if element.text:
            out.append(element.text)
        for child in element:
            texts(child, out, skip)
            if child.tail:
                out.append(child.tail)
    return out


def page_words(path):
    data = open(path, "rb").read()
    # As the converter reads a text file: UTF-8, else Latin-1.
    try:
        text = data.decode("utf-8")
    except UnicodeDecodeError:
        text = data.decode("latin-1")
    text = text.lstrip("\ufeff")
    tree = html5lib.parse(text, treebuilder="etree", namespaceHTMLElements=False)
    body = tree.find("body")
    if body is None:
        return []
    return NOT_XML.sub("", "".join(texts(body, [], LEFT_OUT))).split()


def chapter_words(epub):
    with zipfile.ZipFile(epub) as z:
        root = ET.fromstring(z.read("OEBPS/chapter1.xhtml"))
    body = root.find("{http://www.w3.org/1999/xhtml}body")
    return "".join(texts(body, [], set())).split()


def first_difference(a, b):
    for i, (x, y) in enumerate(zip(a, b)):
        if x != y:
            return f"word {i}: page {' '.join(a[i:i + 4])!r} chapter {' '.join(b[i:i + 4])!r}"
    return f"page has {len(a)} words, chapter {len(b)}"


def check(index, path):
    out = os.path.join(work, str(index))
    os.makedirs(out)
    r = subprocess.run([program, "--convert", path, "epub", out], capture_output=True, text=True)
    books = [f for f in os.listdir(out) if f.endswith(".epub")]
    if r.returncode != 0 or not books:
        return path, "not converted", (r.stdout + r.stderr).strip()[-300:], None
    epub = os.path.join(out, books[0])
    # A quicker start for a JVM that runs a few seconds.
    c = subprocess.run(["java", "-XX:TieredStopAtLevel=1", "-XX:+UseSerialGC", "-Xss16m", "-jar", EPUBCHECK, epub],
                       capture_output=True, text=True)
    errors = [l for l in (c.stdout + c.stderr).splitlines() if l.startswith(("ERROR", "FATAL"))]
    counts = re.search(r"Messages: (\d+) fatals? / (\d+) errors?", c.stdout + c.stderr)
    n = int(counts.group(1)) + int(counts.group(2)) if counts else len(errors)
    theirs = page_words(path)
    try:
        mine = chapter_words(epub)
    except Exception as e:  # a chapter that is no XML keeps no words
        mine = [f"<unreadable: {e}>"]
    same = "".join(theirs) == "".join(mine)
    return path, n, errors[0] if errors else "", (same, theirs == mine, first_difference(theirs, mine))


def report(path, n, message, words):
    """Prints a page's failures as it is done; tells whether it converted, was valid, kept its words."""
    if n == "not converted":
        print(f"NOT CONVERTED {path}: {message}", flush=True)
        return False, False, False, False, 0
    if n:
        print(f"INVALID ({n} errors) {path}: {message}", flush=True)
    if not words[0]:
        print(f"WORDS LOST {path}: {words[2]}", flush=True)
    return True, n == 0, words[0], words[1], n


def main():
    files = pages()
    print(f"pages of at least 3 KB under {folder}: {len(files)}", flush=True)
    totals = [0, 0, 0, 0, 0]
    jobs = int(os.environ.get("CALVORO_JOBS", "4"))
    with concurrent.futures.ThreadPoolExecutor(jobs) as pool:
        futures = [pool.submit(check, i, path) for i, path in enumerate(files)]
        for done, future in enumerate(concurrent.futures.as_completed(futures), 1):
            for k, v in enumerate(report(*future.result())):
                totals[k] += v
            if done % 25 == 0 or done == len(files):
                print(f"-- {done} of {len(files)} checked: converted {totals[0]}, accepted by epubcheck {totals[1]}"
                      f" ({totals[4]} errors in all), every word kept {totals[2]} (same word list {totals[3]})", flush=True)


main()
