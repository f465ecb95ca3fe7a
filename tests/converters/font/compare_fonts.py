#!/usr/bin/env python3
"""Compare two fonts (sfnt, WOFF or WOFF2) table by table through fontTools.

glyf is compared glyph by glyph (contours, points, on-curve marks, instructions,
components, stored bounding boxes), loca not at all (it follows glyf's layout),
head without checkSumAdjustment, every other table by its bytes.
Prints each difference; exit status 1 when there is one.
"""
import sys

from fontTools.ttLib import TTFont


def glyph_key(glyph, glyf):
    glyph.expand(glyf)
    key = {"contours": glyph.numberOfContours}
    if glyph.numberOfContours == 0:
        return key
    key["bbox"] = (glyph.xMin, glyph.yMin, glyph.xMax, glyph.yMax)
    if glyph.isComposite():
        key["components"] = [(c.glyphName, c.flags & ~0x0100 & ~0x0020, getattr(c, "x", None), getattr(c, "y", None),
                              getattr(c, "transform", None)) for c in glyph.components]
    else:
        key["coordinates"] = list(glyph.coordinates)
        key["endPts"] = list(glyph.endPtsOfContours)
        key["onCurve"] = [f & 1 for f in glyph.flags]
    program = getattr(glyph, "program", None)
    key["program"] = program.getBytecode() if program is not None else b""
    return key


def main():
    a = TTFont(sys.argv[1], recalcBBoxes=False, recalcTimestamp=False, lazy=False)
    b = TTFont(sys.argv[2], recalcBBoxes=False, recalcTimestamp=False, lazy=False)
    problems = []
    tags_a, tags_b = set(a.keys()) - {"GlyphOrder"}, set(b.keys()) - {"GlyphOrder"}
    if tags_a != tags_b:
        problems.append("tables differ: %s vs %s" % (sorted(tags_a), sorted(tags_b)))
    for tag in sorted(tags_a & tags_b):
        if tag == "loca":
            continue
        if tag == "glyf":
            ga, gb = a["glyf"], b["glyf"]
            for name in a.getGlyphOrder():
                if name not in gb.glyphs:
                    problems.append("glyph %s missing" % name)
                elif glyph_key(ga[name], ga) != glyph_key(gb[name], gb):
                    problems.append("glyph %s differs" % name)
        elif tag == "head":
            ha, hb = a["head"], b["head"]
            # Bit 11 says a WOFF2 encoder transformed the font; woff2_compress sets it.
            if (ha.flags & ~0x0800) != (hb.flags & ~0x0800):
                problems.append("head.flags differs")
            for field in ("unitsPerEm", "xMin", "yMin", "xMax", "yMax", "indexToLocFormat", "macStyle",
                          "created", "modified", "fontRevision", "magicNumber"):
                if getattr(ha, field) != getattr(hb, field):
                    problems.append("head.%s differs" % field)
        elif tag == "hmtx":
            if a["hmtx"].metrics != b["hmtx"].metrics:
                problems.append("hmtx differs")
        elif a.reader[tag] != b.reader[tag]:
            problems.append("table %s differs" % tag)
    for p in problems[:20]:
        print(p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
