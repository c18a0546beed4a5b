#!/bin/sh
# bmpface batch over a mixed folder: pictures of every format found by extension, then by content;
# each crop under the picture's own name in the picture's format, or in --format's with its
# extension; files that are no pictures left alone.
# Usage: batch_photos_test.sh BMPFACE
set -u
bmpface=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL $*" >&2; failures=$((failures + 1)); }

in=$work/in
mkdir -p "$in/sub"
/usr/bin/python3 - "$in" <<'EOF' || exit 1
import sys
from PIL import Image, ImageDraw
folder = sys.argv[1]
picture = Image.new("RGB", (200, 140), (40, 70, 90))
ImageDraw.Draw(picture).ellipse([38, 14, 96, 88], fill=(214, 160, 128))
exif = Image.Exif()
exif[274] = 6
picture.save(folder + "/a.jpg", quality=92)
picture.transpose(Image.ROTATE_90).save(folder + "/phone.JPG", quality=92, exif=exif.tobytes())
picture.save(folder + "/b.png")
picture.save(folder + "/c.webp", lossless=True)
picture.save(folder + "/sub/d.tif")
picture.save(folder + "/e.gif")
picture.quantize(256).save(folder + "/f-palette.bmp")
picture.save(folder + "/g.bmp")
picture.save(folder + "/no-extension", format="JPEG")     # found by its content
picture.save(folder + "/png-named.txt", format="PNG")     # found by its content
with open(folder + "/notes.txt", "w") as f:
    f.write("not a picture\n")
EOF

"$bmpface" batch --no-progress "$in" -o "$work/out" --report "$work/report" >/dev/null 2>&1 ||
  fail "batch exit status $?"
for name in a.jpg phone.JPG b.png c.webp sub/d.tif e.gif f-palette.bmp g.bmp no-extension \
  png-named.txt; do
  [ -s "$work/out/$name" ] || fail "no crop out/$name"
  grep -q "\"path\":\"$in/$name\",\"status\":\"done\"" "$work/report" || fail "report: $name"
done
[ ! -e "$work/out/notes.txt" ] || fail "notes.txt taken for a picture"
[ "$(grep -c . "$work/report")" -eq 10 ] || fail "report lines: $(cat "$work/report")"

# Each crop in its picture's format, and the same rectangle as the single mode's.
/usr/bin/python3 - "$work/out" <<'EOF' || fail "crop formats"
import sys
from PIL import Image
folder = sys.argv[1]
want = {"a.jpg": "JPEG", "phone.JPG": "JPEG", "b.png": "PNG", "c.webp": "WEBP",
        "sub/d.tif": "TIFF", "e.gif": "GIF", "f-palette.bmp": "BMP", "g.bmp": "BMP",
        "no-extension": "JPEG", "png-named.txt": "PNG"}
bad = [n for n, f in want.items() if Image.open(folder + "/" + n).format != f]
sys.exit(1 if bad else 0)
EOF
for name in a.jpg phone.JPG b.png; do
  "$bmpface" "$in/$name" "$work/single-$name" 2>/dev/null
  cmp -s "$work/single-$name" "$work/out/$name" || fail "$name: batch crop differs from single mode"
done

# --format png: every crop a PNG under the picture's name with .png.
"$bmpface" batch --no-progress "$in" -o "$work/png" --format png >/dev/null 2>&1 ||
  fail "batch --format png exit status $?"
for name in a b c sub/d e f-palette g no-extension png-named phone; do
  [ -s "$work/png/$name.png" ] || fail "no crop png/$name.png"
done

[ "$failures" -eq 0 ]
