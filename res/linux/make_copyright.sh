#!/bin/sh
# make_copyright.sh PROJECT_STANZA FONTS_DIR OUT: the package's copyright file, the project's
# stanza followed by each embedded font's stanza from the font's own Debian copyright file
# (its "Files: *" paragraph, named after the embedded file; the font package's debian/ paragraph
# does not concern us).
set -eu
{
  cat "$1"
  for font in 185-Runeglyph_Hollow:185.ttf 186-Runeglyph_Solid:186.otf; do
    awk -v name="res/fonts/${font#*:}" '
      /^Files: \*$/ { print "Files: " name; keep = 1; next }
      /^Files: / { keep = 0 }
      keep' "$2/${font%%:*}.LICENSE"
  done
} >"$3"
