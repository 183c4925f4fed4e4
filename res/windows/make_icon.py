#!/usr/bin/python3
"""Makes the programs' Windows icon from the program icon's pictures (res/png/131.png and its
2x copy): make_icon.py OUTPUT.ico. Needs python3-pil."""

import os
import sys

from PIL import Image

HERE = os.path.dirname(os.path.abspath(__file__))
PNG = os.path.join(HERE, "..", "png")


def main():
    large = Image.open(os.path.join(PNG, "2x", "131.png")).convert("RGBA")
    # Windows picks the size a view needs and scales the nearest one; 96 is the largest drawn.
    large.save(sys.argv[1], sizes=[(16, 16), (24, 24), (32, 32), (48, 48), (64, 64), (96, 96)])


if __name__ == "__main__":
    sys.exit(main())
