#!/usr/bin/python3
"""Makes the launcher's own artwork: the window background, the picture buttons in their four
states, the repair pictures, the menu icons, the program icon and the two embedded fonts.

Each picture is made twice, at its size (png/) and at twice its size (png/2x/), for displays
scaled to 200 %. The pictures are drawn at four times their size and scaled down, which gives smooth edges and
clean alpha borders (the window and the buttons take their shape from alpha). The output is
committed, so a build never needs this script; run it after changing the artwork:

    /usr/bin/python3 res/make_artwork.py

Needs python3-pil and python3-fonttools (scripts/setup.sh installs them) and the font packages
fonts-goudybookletter (public domain) and fonts-rampart (SIL Open Font License 1.1). The fonts
are subset to Latin and renamed to the family names the window asks for, as their licences
require for modified versions.
"""

import math
import os
import sys

from PIL import Image, ImageDraw, ImageFilter, ImageFont

HERE = os.path.dirname(os.path.abspath(__file__))
PNG = os.path.join(HERE, "png")
FONTS = os.path.join(HERE, "fonts")
SS = 4  # supersampling factor of the set being drawn (4 per output pixel at 1x)
SCALE = 1  # output pixels per design pixel of the set being drawn: 1 for png/, 2 for png/2x/

SOLID_SOURCE = "/usr/share/fonts/opentype/sortsmill/GoudyBookletter1911.otf"
HOLLOW_SOURCE = "/usr/share/fonts/truetype/rampart/RampartOne-Regular.ttf"

# Palette: dark moor green-black, bronze, parchment.
INK = (18, 22, 20, 255)
PANEL = (34, 40, 36, 255)
BRONZE = (176, 132, 66, 255)
BRONZE_DARK = (96, 66, 30, 255)
GOLD = (236, 196, 110, 255)
PARCHMENT = (226, 214, 184, 255)


def canvas(w, h):
    return Image.new("RGBA", (w * SS, h * SS), (0, 0, 0, 0))


def finish(img, w, h):
    return img.resize((w * SCALE, h * SCALE), Image.LANCZOS)


def vertical_gradient(w, h, top, bottom):
    grad = Image.new("RGBA", (1, h))
    for y in range(h):
        t = y / max(1, h - 1)
        grad.putpixel((0, y), tuple(int(top[i] + (bottom[i] - top[i]) * t) for i in range(4)))
    return grad.resize((w, h))


def mask_paste(base, fill, mask):
    base.paste(fill, (0, 0), mask)


def solid(size, colour):
    return Image.new("RGBA", size, colour)


def save(img, res_id):
    folder = PNG if SCALE == 1 else os.path.join(PNG, f"{SCALE}x")
    img.save(os.path.join(folder, f"{res_id}.png"), optimize=True)


# ---------------------------------------------------------------- background (147)

def background():
    # Drawn for the dialog at 96 dpi: 513 x 279 dialog units at 1.5 x 1.625 pixels each.
    w, h = 770, 454
    sx, sy = 1.5 * SS, 1.625 * SS
    img = canvas(w, h)
    d = ImageDraw.Draw(img)

    def du(x, y):
        return (x * sx, y * sy)

    # Outer shape: a rounded panel from the header band down, and a round crest on the left
    # that rises above it.
    panel_box = [*du(52, 42), *du(507, 276)]
    crest_c = du(62, 52)
    crest_r = 46 * SS
    shape = Image.new("L", img.size, 0)
    sd = ImageDraw.Draw(shape)
    sd.rounded_rectangle(panel_box, radius=22 * SS, fill=255)
    sd.ellipse([crest_c[0] - crest_r, crest_c[1] - crest_r, crest_c[0] + crest_r,
                crest_c[1] + crest_r], fill=255)

    body = vertical_gradient(img.size[0], img.size[1], (44, 52, 46, 255), (16, 20, 18, 255))
    # A faint texture so the panel does not look flat.
    noise = Image.effect_noise(img.size, 18).convert("L").filter(ImageFilter.GaussianBlur(SS))
    body = Image.composite(body, Image.new("RGBA", img.size, (30, 36, 32, 255)),
                           noise.point(lambda v: 200 + v // 5))
    img.paste(body, (0, 0), shape)

    # Bronze rim around the whole outline.
    rim = shape.filter(ImageFilter.MaxFilter(1)).point(lambda v: 255 if v > 0 else 0)
    inner = shape.filter(ImageFilter.MinFilter(4 * SS + 1))
    rim_only = Image.eval(Image.merge("L", [rim]), lambda v: v)
    rim_only.paste(0, (0, 0), inner)
    img.paste(solid(img.size, BRONZE), (0, 0), rim_only)
    inner2 = shape.filter(ImageFilter.MinFilter(6 * SS + 1))
    thin = inner.copy()
    thin.paste(0, (0, 0), inner2)
    img.paste(solid(img.size, BRONZE_DARK), (0, 0), thin)

    # Header band under the title. It ends before the profile selector, which the window
    # places just above the news area.
    d.line([du(110, 70), du(364, 70)], fill=BRONZE_DARK, width=SS * 2)
    d.line([du(110, 71), du(364, 71)], fill=(120, 90, 48, 255), width=SS)

    # News area: a sunken parchment-dark field (the news view and the status box lie on it).
    news = [*du(70, 91), *du(487, 243)]
    d.rounded_rectangle([news[0] - 3 * SS, news[1] - 3 * SS, news[2] + 3 * SS,
                         news[3] + 3 * SS], radius=8 * SS, fill=BRONZE_DARK)
    d.rounded_rectangle(news, radius=6 * SS, fill=(22, 26, 24, 255))
    inset = vertical_gradient(int(news[2] - news[0]) - 4 * SS, int(news[3] - news[1]) - 4 * SS,
                              (30, 36, 32, 255), (24, 28, 26, 255))
    img.paste(inset, (int(news[0]) + 2 * SS, int(news[1]) + 2 * SS))

    # Crest: a bronze ring with a stylised moor tower.
    cx, cy = crest_c
    for r, col in ((crest_r - 5 * SS, BRONZE), (crest_r - 9 * SS, BRONZE_DARK),
                   (crest_r - 11 * SS, (28, 34, 30, 255))):
        d.ellipse([cx - r, cy - r, cx + r, cy + r], fill=col)
    tower = [(cx - 14 * SS, cy + 26 * SS), (cx - 11 * SS, cy - 14 * SS),
             (cx - 16 * SS, cy - 14 * SS), (cx - 16 * SS, cy - 24 * SS),
             (cx - 9 * SS, cy - 24 * SS), (cx - 9 * SS, cy - 19 * SS),
             (cx - 3 * SS, cy - 19 * SS), (cx - 3 * SS, cy - 24 * SS),
             (cx + 3 * SS, cy - 24 * SS), (cx + 3 * SS, cy - 19 * SS),
             (cx + 9 * SS, cy - 19 * SS), (cx + 9 * SS, cy - 24 * SS),
             (cx + 16 * SS, cy - 24 * SS), (cx + 16 * SS, cy - 14 * SS),
             (cx + 11 * SS, cy - 14 * SS), (cx + 14 * SS, cy + 26 * SS)]
    d.polygon(tower, fill=GOLD)
    d.rectangle([cx - 3 * SS, cy + 10 * SS, cx + 3 * SS, cy + 26 * SS], fill=(28, 34, 30, 255))
    d.ellipse([cx - 3 * SS, cy + 7 * SS, cx + 3 * SS, cy + 13 * SS], fill=(28, 34, 30, 255))
    d.rectangle([cx - 2 * SS, cy - 8 * SS, cx + 2 * SS, cy - 2 * SS], fill=(28, 34, 30, 255))
    # Moor hills at the foot of the tower.
    d.chord([cx - 34 * SS, cy + 18 * SS, cx + 10 * SS, cy + 50 * SS], 180, 360,
            fill=(70, 96, 64, 255))
    d.chord([cx - 6 * SS, cy + 20 * SS, cx + 36 * SS, cy + 48 * SS], 180, 360,
            fill=(56, 80, 52, 255))

    # Title.
    title_font = ImageFont.truetype(SOLID_SOURCE, 30 * SS)
    sub_font = ImageFont.truetype(SOLID_SOURCE, 13 * SS)
    tx, ty = du(118, 47)
    d.text((tx + SS, ty + 2 * SS), "Veldmoor", font=title_font, fill=(0, 0, 0, 160))
    d.text((tx, ty), "Veldmoor", font=title_font, fill=GOLD)
    d.text((tx + 148 * SS, ty + 14 * SS), "Launcher", font=sub_font, fill=PARCHMENT)

    # Footer: a recessed tray behind the buttons.
    d.rounded_rectangle([*du(410, 245), *du(480, 271)], radius=10 * SS, fill=(22, 26, 24, 255),
                        outline=BRONZE_DARK, width=SS * 2)
    save(finish(img, w, h), 147)


# ---------------------------------------------------------------- picture buttons

STATES = {
    # name: (rim, face top, face bottom, glyph, offset)
    "normal": (BRONZE, (70, 84, 72, 255), (34, 40, 36, 255), PARCHMENT, 0),
    "hover": (GOLD, (96, 118, 96, 255), (44, 54, 46, 255), (255, 240, 200, 255), 0),
    "pressed": (BRONZE_DARK, (26, 32, 28, 255), (52, 62, 54, 255), GOLD, 1),
    "disabled": ((90, 90, 86, 255), (60, 62, 60, 255), (40, 42, 40, 255), (110, 110, 104, 255),
                 0),
}


def button(size, glyph, state, round_shape=True):
    rim, top, bottom, ink, offset = STATES[state]
    img = canvas(size, size)
    d = ImageDraw.Draw(img)
    s = size * SS
    m = SS // 2
    shape = Image.new("L", img.size, 0)
    sd = ImageDraw.Draw(shape)
    if round_shape:
        sd.ellipse([m, m, s - m - 1, s - m - 1], fill=255)
    else:
        sd.rounded_rectangle([m, m, s - m - 1, s - m - 1], radius=s // 4, fill=255)
    img.paste(solid(img.size, rim), (0, 0), shape)
    face = shape.filter(ImageFilter.MinFilter(2 * (s // 14) + 1))
    img.paste(vertical_gradient(s, s, top, bottom), (0, 0), face)
    o = offset * SS
    glyph(d, s, ink, o, tuple((a + b) // 2 for a, b in zip(top, bottom)))
    return finish(img, size, size)


def glyph_play(d, s, ink, o, _face):
    d.polygon([(s * 0.38 + o, s * 0.28 + o), (s * 0.38 + o, s * 0.72 + o),
               (s * 0.74 + o, s * 0.5 + o)], fill=ink)


def glyph_pen(d, s, ink, o, _face):
    w = s * 0.09
    a = (s * 0.30 + o, s * 0.70 + o)
    b = (s * 0.70 + o, s * 0.30 + o)
    d.line([a, b], fill=ink, width=int(w * 1.6))
    d.polygon([(a[0] - w, a[1] - w * 0.2), (a[0] + w * 0.2, a[1] + w), (s * 0.24 + o,
               s * 0.76 + o)], fill=ink)


def glyph_cross(d, s, ink, o, _face):
    w = int(s * 0.11)
    p, q = s * 0.32 + o, s * 0.68 + o
    d.line([(p, p), (q, q)], fill=ink, width=w)
    d.line([(p, q), (q, p)], fill=ink, width=w)


def glyph_minimise(d, s, ink, o, _face):
    w = s * 0.06
    d.rectangle([s * 0.3 + o, s * 0.62 - w + o, s * 0.7 + o, s * 0.62 + w + o], fill=ink)


def glyph_dots(d, s, ink, o, _face):
    r = s * 0.065
    for x in (0.3, 0.5, 0.7):
        d.ellipse([s * x - r + o, s * 0.5 - r + o, s * x + r + o, s * 0.5 + r + o], fill=ink)


def glyph_wrench(d, s, ink, o, face):
    cx, cy = s * 0.62 + o, s * 0.38 + o
    r = s * 0.16
    d.line([(s * 0.28 + o, s * 0.72 + o), (cx, cy)], fill=ink, width=int(s * 0.12))
    d.ellipse([cx - r, cy - r, cx + r, cy + r], fill=ink)
    # The jaw: a notch cut into the head, towards the upper right.
    n = r * 0.55
    d.polygon([(cx + n * 0.2, cy - n * 0.2), (cx + r * 1.3, cy - r * 0.3),
               (cx + r * 0.3, cy - r * 1.3)], fill=face)


def glyph_pause(d, s, ink, o, _face):
    w = s * 0.07
    for x in (0.38, 0.62):
        d.rectangle([s * x - w + o, s * 0.31 + o, s * x + w + o, s * 0.69 + o], fill=ink)


def glyph_stop(d, s, ink, o, _face):
    d.rectangle([s * 0.33 + o, s * 0.33 + o, s * 0.67 + o, s * 0.67 + o], fill=ink)


BUTTONS = {
    # id per state in the order normal, pressed, hover, disabled; size at 96 dpi; glyph
    "start": ((150, 155, 154, 159), 42, glyph_play),
    "edit": ((151, 152, 153, 158), 22, glyph_pen),
    "close": ((149, 148, 156, None), 20, glyph_cross),
    "minimise": ((170, 172, 171, None), 20, glyph_minimise),
    "repair": ((162, 165, 164, 163), 42, glyph_wrench),
    "more": ((174, 177, 176, 175), 22, glyph_dots),
    # beside the progress while a run patches: hold, go on, stop
    "pause": ((190, 191, 192, 193), 22, glyph_pause),
    "resume": ((194, 195, 196, 197), 22, glyph_play),
    "stop": ((198, 199, 200, 201), 22, glyph_stop),
}


def buttons():
    for ids, size, glyph in BUTTONS.values():
        for res_id, state in zip(ids, ("normal", "pressed", "hover", "disabled")):
            if res_id is not None:
                save(button(size, glyph, state), res_id)


# ---------------------------------------------------------------- small pictures and icons

def picture(size, draw):
    img = canvas(size, size)
    draw(ImageDraw.Draw(img), size * SS)
    return finish(img, size, size)


def pic_registry(d, s):
    # Three stacked blocks: entries of a registry.
    for i, col in enumerate(((120, 160, 210, 255), (90, 130, 190, 255), (60, 100, 160, 255))):
        y = s * (0.12 + i * 0.27)
        d.rounded_rectangle([s * 0.12, y, s * 0.88, y + s * 0.22], radius=s * 0.05, fill=col,
                            outline=(30, 50, 90, 255), width=max(1, s // 32))
        d.rectangle([s * 0.2, y + s * 0.08, s * 0.55, y + s * 0.14], fill=(240, 244, 250, 255))


def pic_shield(d, s):
    pts = [(s * 0.5, s * 0.06), (s * 0.88, s * 0.2), (s * 0.82, s * 0.62), (s * 0.5, s * 0.94),
           (s * 0.18, s * 0.62), (s * 0.12, s * 0.2)]
    d.polygon(pts, fill=(214, 170, 60, 255), outline=(120, 84, 20, 255))
    d.polygon([(s * 0.5, s * 0.06), (s * 0.88, s * 0.2), (s * 0.82, s * 0.62), (s * 0.5, s * 0.94)],
              fill=(60, 110, 190, 255))
    d.line([(s * 0.3, s * 0.5), (s * 0.45, s * 0.66), (s * 0.72, s * 0.34)],
           fill=(255, 255, 255, 255), width=int(s * 0.08))


def pic_gear(d, s, colour=(150, 150, 156, 255)):
    cx = cy = s / 2
    teeth = 8
    pts = []
    for i in range(teeth * 2):
        a = math.pi * i / teeth
        r = s * (0.46 if i % 2 == 0 else 0.36)
        for da in (-0.16, 0.16):
            pts.append((cx + r * math.cos(a + da), cy + r * math.sin(a + da)))
    d.polygon(pts, fill=colour, outline=(70, 70, 76, 255))
    r = s * 0.14
    d.ellipse([cx - r, cy - r, cx + r, cy + r], fill=(0, 0, 0, 0))


def icon_map(d, s):
    pts = [(s * 0.06, s * 0.18), (s * 0.36, s * 0.08), (s * 0.64, s * 0.18), (s * 0.94, s * 0.08),
           (s * 0.94, s * 0.82), (s * 0.64, s * 0.92), (s * 0.36, s * 0.82), (s * 0.06, s * 0.92)]
    d.polygon(pts, fill=(222, 204, 150, 255), outline=(110, 86, 40, 255))
    d.line([(s * 0.36, s * 0.08), (s * 0.36, s * 0.82)], fill=(150, 120, 70, 255), width=SS)
    d.line([(s * 0.64, s * 0.18), (s * 0.64, s * 0.92)], fill=(150, 120, 70, 255), width=SS)
    d.line([(s * 0.18, s * 0.6), (s * 0.5, s * 0.4), (s * 0.8, s * 0.55)], fill=(190, 40, 30, 255),
           width=SS * 2)


def icon_loop(d, s):
    w = int(s * 0.14)
    d.arc([s * 0.12, s * 0.12, s * 0.88, s * 0.88], 30, 330, fill=(60, 140, 80, 255), width=w)
    d.polygon([(s * 0.78, s * 0.1), (s * 0.96, s * 0.42), (s * 0.6, s * 0.38)],
              fill=(60, 140, 80, 255))


def icon_folder(d, s, badge=None):
    d.rounded_rectangle([s * 0.06, s * 0.18, s * 0.46, s * 0.34], radius=s * 0.04,
                        fill=(200, 150, 50, 255))
    d.rounded_rectangle([s * 0.06, s * 0.26, s * 0.94, s * 0.86], radius=s * 0.06,
                        fill=(232, 184, 72, 255), outline=(150, 104, 30, 255))
    if badge:
        badge(d, s)


def badge_lines(d, s):
    for y in (0.44, 0.56, 0.68):
        d.line([(s * 0.24, s * y), (s * 0.76, s * y)], fill=(120, 80, 20, 255), width=SS)


def badge_camera(d, s):
    d.rounded_rectangle([s * 0.28, s * 0.42, s * 0.72, s * 0.76], radius=s * 0.05,
                        fill=(60, 60, 70, 255))
    d.ellipse([s * 0.42, s * 0.48, s * 0.58, s * 0.66], fill=(170, 200, 230, 255))


def icon_sweeper(d, s):
    d.line([(s * 0.8, s * 0.08), (s * 0.45, s * 0.58)], fill=(130, 90, 50, 255), width=int(s * 0.1))
    d.polygon([(s * 0.3, s * 0.48), (s * 0.6, s * 0.66), (s * 0.42, s * 0.94), (s * 0.06, s * 0.76)],
              fill=(214, 180, 80, 255), outline=(140, 110, 40, 255))


def program_icon(size):
    img = canvas(size, size)
    d = ImageDraw.Draw(img)
    s = size * SS
    d.ellipse([0, 0, s - 1, s - 1], fill=BRONZE)
    d.ellipse([s * 0.08, s * 0.08, s * 0.92, s * 0.92], fill=(28, 34, 30, 255))
    cx = s / 2
    d.polygon([(cx - s * 0.16, s * 0.8), (cx - s * 0.12, s * 0.34), (cx - s * 0.18, s * 0.34),
               (cx - s * 0.18, s * 0.2), (cx + s * 0.18, s * 0.2), (cx + s * 0.18, s * 0.34),
               (cx + s * 0.12, s * 0.34), (cx + s * 0.16, s * 0.8)], fill=GOLD)
    d.chord([s * 0.1, s * 0.62, s * 0.9, s * 1.0], 180, 360, fill=(70, 96, 64, 255))
    return finish(img, size, size)


def pictures():
    save(picture(40, pic_registry), 166)
    save(picture(40, pic_gear), 167)
    save(picture(40, pic_shield), 168)
    save(picture(16, icon_map), 179)
    save(picture(16, lambda d, s: icon_folder(d, s, badge_camera)), 180)
    save(picture(16, lambda d, s: icon_folder(d, s, badge_lines)), 181)
    save(picture(16, icon_loop), 182)
    save(picture(16, icon_sweeper), 183)
    save(program_icon(48), 131)
    save(program_icon(32), 128)


# ---------------------------------------------------------------- fonts (186, 185)

def font(source, family, res_id):
    from fontTools import subset
    from fontTools.ttLib import TTFont

    options = subset.Options()
    options.name_IDs = ["*"]
    options.layout_features = ["*"]
    options.notdef_outline = True
    tt = TTFont(source)
    subsetter = subset.Subsetter(options)
    subsetter.populate(unicodes=list(range(0x20, 0x7F)) + list(range(0xA0, 0x180)) +
                       [0x2013, 0x2014, 0x2018, 0x2019, 0x201C, 0x201D, 0x2026, 0x20AC])
    subsetter.subset(tt)
    name = tt["name"]
    postscript = family.replace("_", "")
    for rec in list(name.names):
        if rec.nameID in (1, 4, 16, 21):
            rec.string = family
        elif rec.nameID == 3:
            rec.string = f"{family} Regular"
        elif rec.nameID == 6:
            rec.string = f"{postscript}-Regular"
        elif rec.nameID in (2, 17, 22):
            rec.string = "Regular"
    if "CFF " in tt:
        cff = tt["CFF "].cff
        cff.fontNames = [f"{postscript}-Regular"]
        top = cff.topDictIndex[0]
        top.FullName = family
        top.FamilyName = family
    ext = "otf" if "CFF " in tt else "ttf"
    path = os.path.join(FONTS, f"{res_id}.{ext}")
    for stale in ("otf", "ttf"):
        old = os.path.join(FONTS, f"{res_id}.{stale}")
        if os.path.exists(old):
            os.remove(old)
    tt.save(path)


def draw_set(scale):
    # Every length of the drawing code is a multiple of SS, so drawing the same code with a
    # larger SS gives the same picture at a higher resolution, not a magnified small one.
    global SS, SCALE
    SS, SCALE = 4 * scale, scale
    os.makedirs(PNG if scale == 1 else os.path.join(PNG, f"{scale}x"), exist_ok=True)
    background()
    buttons()
    pictures()


def main():
    os.makedirs(FONTS, exist_ok=True)
    # The 2x set serves displays at 150 % and 200 %; the window picks a set per display scale.
    for scale in (1, 2):
        draw_set(scale)
    font(SOLID_SOURCE, "Runeglyph_Solid", 186)
    font(HOLLOW_SOURCE, "Runeglyph_Hollow", 185)
    return 0


if __name__ == "__main__":
    sys.exit(main())
