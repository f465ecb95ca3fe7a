#!/usr/bin/env python3
"""Writes the two HTML pages of the HTML to PDF goals into a folder: short.html (a heading and a
paragraph, one page) and sections.html (50 sections of paragraphs and a 15-row table, 59 US Letter
pages as the program prints them). Used by bench/document/run and bench/document/html_to_pdf.

    bench/document/html_pages.py FOLDER
"""
import random, sys
random.seed(5)
words = "lorem ipsum dolor sit amet consectetur adipiscing elit sed do eiusmod tempor incididunt ut labore".split()
def sentence(n): return " ".join(random.choice(words) for _ in range(n)).capitalize() + "."
style = ("<style>body{font-family:serif;font-size:16px;margin:40px}table{border-collapse:collapse;width:100%}"
         "th,td{border:1px solid #888;padding:4px 8px;text-align:left}th{background:#eee}</style>")
def page(body):
    return ('<!doctype html><html><head><meta charset="utf-8"><title>Bench</title>' + style + "</head><body>" +
            body + "</body></html>")
out = ["<h1>Report</h1>"]
for s in range(1, 51):
    out.append(f"<h2>Section {s}</h2>")
    out += ["<p>" + " ".join(sentence(random.randint(8, 16)) for _ in range(4)) + "</p>" for _ in range(7)]
    out.append("<table><thead><tr><th>Item</th><th>Quantity</th><th>Price</th><th>Note</th></tr></thead><tbody>")
    for r in range(15):
        out.append(f"<tr><td>Item {s}.{r + 1}</td><td>{random.randint(1, 99)}</td>"
                   f"<td>{random.randint(100, 99999) / 100:.2f}</td><td>{sentence(random.randint(3, 7))}</td></tr>")
    out.append("</tbody></table>")
open(sys.argv[1] + "/sections.html", "w").write(page("\n".join(out)))
open(sys.argv[1] + "/short.html", "w").write(page("<h1>Note</h1><p>" + " ".join(sentence(12) for _ in range(5)) + "</p>"))
