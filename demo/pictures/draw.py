#!/usr/bin/env python3
"""Draws the demonstration program's pictures as XPM files of at most 16 colours.

The banner beside the order fields (350 x 90: a ledger under a magnifier and the word KVplus)
and the 32 x 32 glyphs of the four search buttons are drawn here from simple shapes, so the
committed .xpm files can be made again byte for byte:

    python3 demo/pictures/draw.py            # rewrites the .xpm files beside this script
    python3 demo/pictures/draw.py --check    # exits 1 when a committed file differs
"""
import math
import os
import sys

# One palette for every picture; a picture lists only the colours it uses. ' ' is transparent.
PALETTE = {
    " ": "None",
    ".": "#FFFFFF",  # white
    "k": "#000000",  # black outline
    "n": "#1F3A93",  # navy
    "b": "#3A78D8",  # blue
    "c": "#BFE3F5",  # lens glass
    "g": "#808080",  # grey
    "s": "#C8C8C8",  # silver
    "r": "#C0392B",  # red
    "y": "#F2C94C",  # yellow
    "o": "#8B5A2B",  # brown
    "e": "#2E8B57",  # green
    "p": "#FFF8DC",  # paper
    "l": "#A0B4C8",  # ruled lines
    "m": "#7B2D26",  # ledger cover
    "t": "#1A8C8C",  # teal
}


class Canvas:
    def __init__(self, width, height, background=" "):
        self.w, self.h = width, height
        self.px = [[background] * width for _ in range(height)]

    def put(self, x, y, c):
        if 0 <= x < self.w and 0 <= y < self.h:
            self.px[y][x] = c

    def rect(self, x0, y0, x1, y1, c):
        """Fills the rectangle with corners (x0, y0) and (x1, y1), both included."""
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                self.put(x, y, c)

    def frame(self, x0, y0, x1, y1, c):
        self.rect(x0, y0, x1, y0, c)
        self.rect(x0, y1, x1, y1, c)
        self.rect(x0, y0, x0, y1, c)
        self.rect(x1, y0, x1, y1, c)

    def box(self, x0, y0, x1, y1, fill, edge="k"):
        self.rect(x0, y0, x1, y1, fill)
        self.frame(x0, y0, x1, y1, edge)

    def disc(self, cx, cy, r, c):
        for y in range(int(cy - r) - 1, int(cy + r) + 2):
            for x in range(int(cx - r) - 1, int(cx + r) + 2):
                if (x + 0.5 - cx) ** 2 + (y + 0.5 - cy) ** 2 <= r * r:
                    self.put(x, y, c)

    def ellipse(self, cx, cy, rx, ry, c, upper_only=False):
        for y in range(int(cy - ry) - 1, int(cy + ry) + 2):
            if upper_only and y + 0.5 > cy:
                continue
            for x in range(int(cx - rx) - 1, int(cx + rx) + 2):
                if ((x + 0.5 - cx) / rx) ** 2 + ((y + 0.5 - cy) / ry) ** 2 <= 1:
                    self.put(x, y, c)

    def line(self, x0, y0, x1, y1, c, width=1.0):
        """A line of the given width: discs stamped along it."""
        steps = max(1, int(math.hypot(x1 - x0, y1 - y0) * 2))
        for i in range(steps + 1):
            t = i / steps
            self.disc(x0 + (x1 - x0) * t, y0 + (y1 - y0) * t, width / 2, c)

    def polygon(self, points, c):
        """Fills the polygon (pixel centres inside it, even-odd rule)."""
        ys = [p[1] for p in points]
        for y in range(int(min(ys)), int(max(ys)) + 1):
            for x in range(self.w):
                if inside(points, x + 0.5, y + 0.5):
                    self.put(x, y, c)

    def bitmap(self, rows, x0, y0, scale, c):
        for j, row in enumerate(rows):
            for i, ch in enumerate(row):
                if ch == "X":
                    self.rect(x0 + i * scale, y0 + j * scale, x0 + (i + 1) * scale - 1,
                              y0 + (j + 1) * scale - 1, c)

    def xpm(self, name):
        used = sorted({c for row in self.px for c in row}, key=list(PALETTE).index)
        lines = [f'"{self.w} {self.h} {len(used)} 1",']
        lines += [f'"{c} c {PALETTE[c]}",' for c in used]
        lines += [f'"{"".join(row)}",' for row in self.px]
        lines[-1] = lines[-1].rstrip(",")
        return "/* XPM */\nstatic const char* " + name + "[] = {\n" + "\n".join(lines) + "\n};\n"


def inside(points, x, y):
    hit = False
    for (ax, ay), (bx, by) in zip(points, points[1:] + points[:1]):
        if (ay > y) != (by > y) and x < ax + (bx - ax) * (y - ay) / (by - ay):
            hit = not hit
    return hit


def magnifier(cv, cx, cy, r, rim, handle):
    """A magnifying glass: the lens centred at (cx, cy), the handle going down to the right."""
    d = (r + rim * 0.5) / math.sqrt(2)
    hx, hy = cx + d, cy + d
    cv.line(hx, hy, hx + handle, hy + handle, "k", rim * 2.2 + 1)
    cv.line(hx, hy, hx + handle, hy + handle, "o", rim * 2.2 - 1)
    cv.disc(cx, cy, r + rim + 0.8, "k")
    cv.disc(cx, cy, r + rim - 0.2, "g")
    cv.disc(cx, cy, r + 0.4, "k")
    cv.disc(cx, cy, r - 0.4, "c")
    # A glint on the glass.
    cv.line(cx - r * 0.45, cy - r * 0.15, cx - r * 0.15, cy - r * 0.45, ".", max(1.0, r / 4))


# ------------------------------------------------------------------------------ the banner

# Letters on a 6 x 10 grid: capitals fill rows 0-7, x-height rows 2-7, descenders rows 8-9.
LETTERS = {
    "K": ["XX..XX", "XX.XX.", "XXXX..", "XXX...", "XXXX..", "XX.XX.", "XX..XX", "XX..XX"],
    "V": ["XX..XX", "XX..XX", "XX..XX", "XX..XX", "XX..XX", ".XXXX.", ".XXXX.", "..XX.."],
    "p": ["", "", "XXXXX.", "XX..XX", "XX..XX", "XX..XX", "XXXXX.", "XX....", "XX....", "XX...."],
    "l": ["XX", "XX", "XX", "XX", "XX", "XX", "XX", "XX"],
    "u": ["", "", "XX..XX", "XX..XX", "XX..XX", "XX..XX", "XX..XX", ".XXXXX"],
    "s": ["", "", ".XXXXX", "XX....", ".XXXX.", "....XX", "....XX", "XXXXX."],
}


def word(cv, text, x, y, scale, colour_of):
    for ch in text:
        rows = LETTERS[ch]
        cv.bitmap(rows, x + 2, y + 2, scale, "s")  # shadow
        cv.bitmap(rows, x, y, scale, colour_of(ch))
        x += (max(len(r) for r in rows) + 1) * scale


def ledger(cv, x0, y0, x1, y1):
    """An account book lying open: two ruled pages over a cover, with figures in columns."""
    cv.box(x0, y0, x1, y1, "m")
    mid = (x0 + x1) // 2
    cv.box(x0 + 3, y0 + 3, mid, y1 - 3, "p")
    cv.box(mid, y0 + 3, x1 - 3, y1 - 3, "p")
    cv.rect(mid - 1, y0 + 3, mid + 1, y1 - 3, "g")
    for y in range(y0 + 12, y1 - 5, 6):
        cv.rect(x0 + 5, y, mid - 3, y, "l")
        cv.rect(mid + 3, y, x1 - 5, y, "l")
    for page_x in (x0 + 5, mid + 3):
        cv.rect(page_x + 8, y0 + 5, page_x + 8, y1 - 5, "r")  # margin
    # Figures: short dashes of varying length, right-aligned in each page's column.
    lengths = [9, 6, 11, 7, 10, 5, 8, 12, 6, 9]
    for page, (left, right) in enumerate(((x0 + 15, mid - 5), (mid + 13, x1 - 7))):
        for i, y in enumerate(range(y0 + 9, y1 - 7, 6)):
            n = lengths[(i + page * 3) % len(lengths)]
            cv.rect(right - n * (right - left) // 14, y, right, y + 1, "n" if i % 4 else "e")


def banner():
    cv = Canvas(350, 90, ".")
    cv.frame(0, 0, 349, 89, "n")
    cv.frame(2, 2, 347, 87, "l")
    ledger(cv, 14, 12, 108, 78)
    magnifier(cv, 82, 46, 17, 4, 16)
    word(cv, "KVplus", 132, 16, 5, lambda ch: "n" if ch.isupper() else "t")
    cv.rect(132, 74, 320, 75, "y")
    return cv


# ------------------------------------------------------------------------------ the glyphs


def sheet(cv, x0, y0, x1, y1, ruled=True):
    cv.box(x0, y0, x1, y1, "p")
    if ruled:
        for y in range(y0 + 3, y1 - 1, 3):
            cv.rect(x0 + 2, y, x1 - 2 - (y % 2) * 3, y, "l")


def glyph_customer():
    cv = Canvas(32, 32)
    cv.ellipse(12, 28, 10, 11, "k", upper_only=True)
    cv.ellipse(12, 28, 9, 10, "b", upper_only=True)
    cv.rect(3, 28, 21, 28, "k")
    cv.disc(12, 9, 6.2, "k")
    cv.disc(12, 9, 5.2, "y")
    for x, y in ((10, 7), (14, 7), (9, 10), (10, 11), (11, 12), (12, 12), (13, 12), (14, 11), (15, 10)):
        cv.put(x, y, "k")  # eyes and a smile
    magnifier(cv, 21, 19, 5, 2, 5)
    return cv


def glyph_orders():
    cv = Canvas(32, 32)
    sheet(cv, 9, 1, 25, 21, ruled=False)
    sheet(cv, 6, 4, 22, 24, ruled=False)
    sheet(cv, 3, 7, 19, 27)
    cv.rect(5, 9, 11, 10, "r")  # the order's number
    magnifier(cv, 21, 19, 5, 2, 5)
    return cv


def glyph_items_in_order():
    cv = Canvas(32, 32)
    cv.box(4, 1, 22, 28, "p")
    cv.rect(6, 3, 14, 4, "r")  # the order's number
    for i, y in enumerate(range(8, 27, 3)):
        cv.rect(6, y, 7, y, "e")  # one line per item
        cv.rect(9, y, 20 - (i % 3) * 3, y, "n")
    magnifier(cv, 21, 19, 5, 2, 5)
    return cv


def cube(cv, x, y, s, face, side):
    """A box seen from the front and a little above: front face s x s at (x, y)."""
    d = s // 3
    cv.polygon([(x, y), (x + d, y - d), (x + s + d, y - d), (x + s, y)], side)
    cv.polygon([(x + s, y), (x + s + d, y - d), (x + s + d, y + s - d), (x + s, y + s)], "o")
    cv.rect(x, y, x + s, y + s, face)
    cv.frame(x, y, x + s, y + s, "k")
    cv.line(x + 0.5, y + 0.5, x + d + 0.5, y - d + 0.5, "k")
    cv.line(x + s + 0.5, y + 0.5, x + s + d + 0.5, y - d + 0.5, "k")
    cv.line(x + s + 0.5, y + s + 0.5, x + s + d + 0.5, y + s - d + 0.5, "k")
    cv.rect(x + d, y - d, x + s + d, y - d, "k")
    cv.rect(x + s + d, y - d, x + s + d, y + s - d, "k")
    cv.rect(x + s // 2, y, x + s // 2, y + s // 3, "o")  # the tape


def glyph_all_items():
    cv = Canvas(32, 32)
    cube(cv, 2, 18, 10, "y", "p")
    cube(cv, 13, 18, 10, "y", "p")
    cube(cv, 7, 6, 10, "y", "p")
    magnifier(cv, 21, 19, 5, 2, 5)
    return cv


PICTURES = {
    "banner": banner,
    "search_customer": glyph_customer,
    "search_orders": glyph_orders,
    "search_items_in_order": glyph_items_in_order,
    "search_all_items": glyph_all_items,
}


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    check = "--check" in sys.argv[1:]
    stale = []
    for name, draw in PICTURES.items():
        cv = draw()
        used = {c for row in cv.px for c in row}
        assert len(used) <= 16, f"{name}: {len(used)} colours"
        text = cv.xpm(name)
        path = os.path.join(here, name + ".xpm")
        if check:
            with open(path, encoding="ascii") as f:
                if f.read() != text:
                    stale.append(path)
        else:
            with open(path, "w", encoding="ascii") as f:
                f.write(text)
    if stale:
        print("draw.py: not as drawn:", ", ".join(stale), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
