#!/usr/bin/python3
"""Makes the desktop icons of the Linux package from the program icon's drawing in
res/make_artwork.py, drawn afresh at each size a desktop asks for (not scaled from a small
picture): make_icons.py OUTPUT_DIR writes OUTPUT_DIR/<N>x<N>/org.veldmoor.Launcher.png.
Needs python3-pil."""

import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import make_artwork  # noqa: E402

SIZES = (16, 22, 24, 32, 48, 64, 96, 128, 256, 512)


def main():
    out = sys.argv[1]
    for size in SIZES:
        folder = os.path.join(out, f"{size}x{size}")
        os.makedirs(folder, exist_ok=True)
        make_artwork.SS, make_artwork.SCALE = 4, 1
        make_artwork.program_icon(size).save(os.path.join(folder, "org.veldmoor.Launcher.png"),
                                             optimize=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
