"""The bmpface command on real pictures, used the way a new user would: pictures made here with
Pillow (and libvips' own `vips` tool for HEIF) in every format and orientation, CMYK, 16-bit,
greyscale, alpha, embedded ICC profiles, odd names, truncated and corrupt files.

  photo_cli_test.py BMPFACE [VIPS]

The rectangle bmpface finds in a stored picture must be the one it finds in a 24-bit BMP of the
same decoded pixels turned upright by Pillow (an independent decoder and an independent reading
of the EXIF orientation); a lossless crop must hold exactly the upright picture's pixels at that
rectangle. JPEG pictures are compared the same way: Pillow and libvips decode them with the same
libjpeg-turbo, so their pixels are equal.
"""
import io
import os
import shutil
import stat
import subprocess
import sys
import tempfile

from PIL import Image, ImageCms, ImageDraw, ImageOps

BMPFACE = os.path.abspath(sys.argv[1])
VIPS = sys.argv[2] if len(sys.argv) > 2 and os.access(sys.argv[2], os.X_OK) else None
WORK = tempfile.mkdtemp(prefix="bmpface-photos-")
FAILURES = []

# Pillow's transposition that undoes each orientation (ImageOps.exif_transpose applies these).
UNDO = {2: Image.FLIP_LEFT_RIGHT, 3: Image.ROTATE_180, 4: Image.FLIP_TOP_BOTTOM,
        5: Image.TRANSPOSE, 6: Image.ROTATE_270, 7: Image.TRANSVERSE, 8: Image.ROTATE_90}
# ...and the one that makes the stored picture from the upright one.
DO = {2: Image.FLIP_LEFT_RIGHT, 3: Image.ROTATE_180, 4: Image.FLIP_TOP_BOTTOM,
      5: Image.TRANSPOSE, 6: Image.ROTATE_90, 7: Image.TRANSVERSE, 8: Image.ROTATE_270}


def fail(what):
    FAILURES.append(what)
    print("FAIL", what, file=sys.stderr)


def path(name):
    return os.path.join(WORK, name)


def run(*args, timeout=60, cwd=None):
    return subprocess.run([BMPFACE, *args], capture_output=True, text=True, timeout=timeout,
                          cwd=cwd)


def detect(picture, *options):
    """The rectangle as a tuple, "no face", or the error line, and the exit status."""
    done = run("--detect", *options, picture)
    line = done.stdout.strip()
    words = line.rsplit(": ", 1)[-1]
    parts = words.split()
    if done.returncode == 0 and len(parts) == 4:
        return tuple(int(p) for p in parts), 0
    return words, done.returncode


def upright_picture():
    """A 200 x 140 landscape picture: a skin-coloured face left of the centre, a skin-coloured hand
    low on the right that fails the candidate test, a background with texture."""
    image = Image.new("RGB", (200, 140))
    draw = ImageDraw.Draw(image)
    for y in range(140):
        draw.line([(0, y), (199, y)], fill=(30 + y // 4, 70, 90 + y // 3))
    draw.ellipse([38, 14, 96, 88], fill=(214, 160, 128))
    draw.ellipse([52, 36, 60, 44], fill=(40, 30, 30))  # eyes
    draw.ellipse([74, 36, 82, 44], fill=(40, 30, 30))
    draw.rectangle([140, 110, 190, 134], fill=(205, 150, 120))
    return image


def bmp_of(image, name):
    p = path(name)
    image.convert("RGB").save(p, format="BMP")
    return p


def exif_with(orientation, extra=None):
    exif = Image.Exif()
    exif[274] = orientation
    for tag, value in (extra or {}).items():
        exif[tag] = value
    return exif.tobytes()


def save(image, name, orientation=1, **options):
    p = path(name)
    fmt = {".jpg": "JPEG", ".png": "PNG", ".webp": "WEBP", ".tif": "TIFF", ".gif": "GIF",
           ".bmp": "BMP"}[os.path.splitext(name)[1]]
    if fmt in ("JPEG", "PNG", "WEBP") and orientation != 1:
        options["exif"] = exif_with(orientation)
    if fmt == "TIFF" and orientation != 1:
        options["tiffinfo"] = {274: orientation}
    image.save(p, format=fmt, **options)
    return p


def decoded_upright(picture):
    """Pillow's pixels turned upright by Pillow's transpositions. A TIFF comes from Pillow upright
    already (libtiff turns it while reading, and the tag stays), so it is taken as it is."""
    with Image.open(picture) as image:
        if image.format == "TIFF":
            return image.convert("RGB")
        return ImageOps.exif_transpose(image).convert("RGB")


def same_pixels(a, b):
    if a.size != b.size:
        return "sizes %s and %s" % (a.size, b.size)
    if a.tobytes() != b.tobytes():
        return "pixels differ"
    return None


def check_format_and_orientations():
    upright = upright_picture()
    reference, status = detect(bmp_of(upright, "upright.bmp"))
    if status != 0:
        fail("the upright reference picture has no face: %s" % (reference,))
        return
    formats = [(".jpg", dict(quality=92), range(1, 9), True),
               (".png", {}, range(1, 9), True),
               (".webp", dict(lossless=True), range(1, 9), True),
               (".webp", dict(quality=90), [1, 6], False),
               (".tif", {}, range(1, 9), True),
               (".tif", dict(compression="tiff_deflate"), range(1, 9), True),
               (".gif", {}, [1], True),
               (".bmp", {}, [1], True)]
    for ext, options, orientations, lossless in formats:
        for o in orientations:
            variant = ("lossy" if not lossless else "") + "-".join(str(v) for v in options.values())
            name = "o%d-%s%s" % (o, variant, ext)
            stored = upright if o == 1 else upright.transpose(DO[o])
            if ext == ".gif":
                stored = stored.quantize(64)
            if ext == ".bmp":
                stored = stored.quantize(256)  # an 8-bit palette BMP: bmpface's own reader
            picture = save(stored, name, o, **options)
            expected_pixels = decoded_upright(picture)
            expected, _ = detect(bmp_of(expected_pixels, name + ".upright.bmp"))
            got, status = detect(picture)
            if got != expected:
                fail("%s: rectangle %s, the upright BMP's %s" % (name, got, expected))
                continue
            if ext in (".png", ".tif", ".bmp") or (ext == ".webp" and lossless):
                if got != reference:
                    fail("%s: rectangle %s, the original's %s" % (name, got, reference))
            # The crop, losslessly: the upright picture's pixels at the rectangle.
            if lossless and status == 0:
                crop = path(name + ".crop.png")
                done = run(picture, crop)
                x, y, w, h = got
                with Image.open(crop) as written:
                    why = same_pixels(written.convert("RGB"),
                                      expected_pixels.crop((x, y, x + w, y + h)))
                if done.returncode != 0 or why:
                    fail("%s: crop: %s %s" % (name, done.returncode, why))
            # --no-orient: the stored pixels as they are.
            if o != 1:
                as_stored = stored
                if ext != ".tif":
                    with Image.open(picture) as image:
                        as_stored = image.convert("RGB")
                plain, _ = detect(bmp_of(as_stored, name + ".stored.bmp"))
                got, _ = detect(picture, "--no-orient")
                if got != plain:
                    fail("%s --no-orient: %s, the stored BMP's %s" % (name, got, plain))


def check_heif():
    """HEIF and AVIF where this libvips can write them (no EXIF orientation: HEIF turns pictures
    by its own boxes, which libheif applies)."""
    if VIPS is None:
        print("no vips tool: HEIF not tried")
        return
    png = path("heif-source.png")
    upright_picture().save(png)
    for ext in (".heic", ".avif"):
        picture = path("picture" + ext)
        made = subprocess.run([VIPS, "copy", png, picture + "[Q=95]"], capture_output=True)
        if made.returncode != 0:
            print("libvips cannot write %s here: not tried" % ext)
            continue
        decoded = path("picture%s.png" % ext)
        subprocess.run([VIPS, "copy", picture, decoded], check=True)
        with Image.open(decoded) as image:
            expected, _ = detect(bmp_of(image, "heif%s.bmp" % ext))
        got, status = detect(picture)
        if got != expected:
            fail("%s: rectangle %s, the decoded BMP's %s" % (ext, got, expected))
        done = run(picture, path("face" + ext))
        if done.returncode != 0:
            fail("%s crop: %s" % (ext, done.stderr))


def check_colours():
    upright = upright_picture()
    reference, _ = detect(bmp_of(upright, "colours.bmp"))
    # 16-bit RGB: the same 8-bit pixels after the conversion.
    if VIPS is not None:
        p8, p16 = path("rgb8.png"), path("rgb16.png")
        upright.save(p8)
        subprocess.run([VIPS, "colourspace", p8, p16, "rgb16"], check=True)
        got, _ = detect(p16)
        if got != reference:
            fail("16-bit PNG: %s, 8-bit %s" % (got, reference))
    # CMYK JPEG, through libvips' CMYK profile: a face is found and cropped to RGB.
    cmyk = save(upright.convert("CMYK"), "cmyk.jpg", quality=95)
    done = run(cmyk, path("cmyk-face.jpg"))
    if done.returncode != 0:
        fail("CMYK JPEG: %s %s" % (done.returncode, done.stderr))
    else:
        with Image.open(path("cmyk-face.jpg")) as face:
            if face.mode != "RGB":
                fail("CMYK JPEG crop is %s" % face.mode)
    # Greyscale: no skin, so no face, and said so.
    grey = save(upright.convert("L"), "grey.png")
    got, status = detect(grey)
    if status != 2:
        fail("greyscale: %s (%d)" % (got, status))
    # Alpha: kept in PNG, flattened on white in JPEG.
    rgba = upright.convert("RGBA")
    rgba.putalpha(Image.new("L", rgba.size, 200))
    alpha = save(rgba, "alpha.png")
    got, _ = detect(alpha)
    if got != reference:
        fail("RGBA PNG: %s, RGB %s" % (got, reference))
    for out, mode in (("alpha-face.png", "RGBA"), ("alpha-face.jpg", "RGB")):
        done = run(alpha, path(out))
        with Image.open(path(out)) as face:
            if done.returncode != 0 or face.mode != mode:
                fail("%s: %s %s" % (out, done.returncode, face.mode))
    # An embedded profile (sRGB) stays with the crop; the input's EXIF does not.
    profile = ImageCms.ImageCmsProfile(ImageCms.createProfile("sRGB")).tobytes()
    tagged = save(upright, "icc.jpg", quality=95, icc_profile=profile,
                  exif=exif_with(1, {0x010F: "Camera maker", 0x0110: "Model", 0x0131: "editor"}))
    for out in ("icc-face.jpg", "icc-face.png", "icc-face.webp", "icc-face.tif"):
        done = run(tagged, path(out))
        with Image.open(path(out)) as face:
            if done.returncode != 0 or not face.info.get("icc_profile"):
                fail("%s: no ICC profile kept" % out)
            exif = face.getexif()
            if any(tag in exif for tag in (0x010F, 0x0110, 0x0131)) or exif.get(274, 1) != 1:
                fail("%s: metadata left: %s" % (out, dict(exif)))
    # No profile and a phone's EXIF: the crop has no EXIF at all.
    phone = save(upright.transpose(DO[6]), "phone.jpg", 6, quality=90)
    for out in ("phone-face.jpg", "phone-face.webp", "phone-face.png"):
        run(phone, path(out))
        with Image.open(path(out)) as face:
            if face.getexif() or face.info.get("icc_profile"):
                fail("%s: metadata %s" % (out, dict(face.getexif())))


def check_framing():
    picture = save(upright_picture(), "frame.png")
    face, _ = detect(picture)
    cases = [(["--margin", "0.2"], None), (["--aspect", "35:45"], None),
             (["--margin", "0.3", "--aspect", "1:1"], None), (["--size", "70x90"], (70, 90)),
             (["--size", "31x17", "--margin", "1"], (31, 17))]
    for options, size in cases:
        framed, status = detect(picture, *options)
        out = path("framed.png")
        done = run(picture, out, *options)
        with Image.open(out) as crop:
            got = crop.size
        want = size or framed[2:]
        if status != 0 or done.returncode != 0 or got != tuple(want):
            fail("%s: crop %s, want %s" % (" ".join(options), got, want))
        if "--aspect" in options:
            w, h = framed[2:]
            a, b = (int(v) for v in options[options.index("--aspect") + 1].split(":"))
            if abs(w * b - h * a) > max(a, b):
                fail("%s: %d x %d is not %d:%d" % (" ".join(options), w, h, a, b))
        if "--margin" in options and size is None:
            if not (framed[0] <= face[0] and framed[1] <= face[1] and
                    framed[0] + framed[2] >= face[0] + face[2] and
                    framed[1] + framed[3] >= face[1] + face[3]):
                fail("%s: %s does not hold the face %s" % (" ".join(options), framed, face))
    # --format wins over the name; --quality changes a lossy file.
    run(picture, path("forced.jpg"), "--format", "png")
    with Image.open(path("forced.jpg")) as forced:
        if forced.format != "PNG":
            fail("--format png wrote %s" % forced.format)
    run(picture, path("q30.jpg"), "--quality", "30")
    run(picture, path("q95.jpg"), "--quality", "95")
    if os.path.getsize(path("q30.jpg")) >= os.path.getsize(path("q95.jpg")):
        fail("--quality 30 is not smaller than 95")
    for bad in (["--aspect", "35x45"], ["--size", "0x10"], ["--margin", "-1"],
                ["--quality", "101"], ["--format", "xyz"], ["--size", "70x90", "--aspect", "1:1"]):
        if run(picture, path("bad.png"), *bad).returncode != 64:
            fail("%s: not a command-line error" % " ".join(bad))


def check_odd_inputs():
    upright = upright_picture()
    jpeg = io.BytesIO()
    upright.save(jpeg, format="JPEG", quality=90)
    reference, _ = detect(save(upright, "odd-reference.jpg", quality=90))
    odd = {"my face (1).JPG": jpeg.getvalue(), "visage-\u00e9t\u00e9.jpeg": jpeg.getvalue(),
           "-starts-with-a-dash.jpg": jpeg.getvalue(), "no-extension": jpeg.getvalue()}
    png = io.BytesIO()
    upright.save(png, format="PNG")
    odd["png-named.jpg"] = png.getvalue()  # the content decides
    for name, data in odd.items():
        with open(path(name), "wb") as f:
            f.write(data)
        if name.startswith("-"):  # after "--", as any command takes such a name
            done = run("--detect", "--", name, cwd=WORK)
            status, got = done.returncode, done.stdout.strip()
        else:
            got, status = detect(path(name))
        if status != 0:
            fail("%r: %s" % (name, got))
    # An output name without a known extension gets the input's format.
    run(path("no-extension"), path("face-out"))
    with Image.open(path("face-out")) as face:
        if face.format != "JPEG":
            fail("no-extension output is %s" % face.format)
    # Broken pictures are refused (exit 1) with a reason, never a crash.
    with open(path("odd-reference.jpg"), "rb") as f:
        good = f.read()
    broken = {"truncated.jpg": good[: len(good) // 2], "header-only.jpg": good[:200],
              "empty.jpg": b"", "garbage.png": b"\x89PNG\r\n\x1a\n" + bytes(range(256)) * 4,
              "text.jpg": b"not a picture at all\n", "svg.png": b"<svg xmlns='x'/>"}
    corrupt = bytearray(good)
    for i in range(len(corrupt) // 3, len(corrupt) // 3 + 64):
        corrupt[i] ^= 0x5A
    broken["corrupt-middle.jpg"] = bytes(corrupt)
    for name, data in broken.items():
        with open(path(name), "wb") as f:
            f.write(data)
        done = run(path(name), path("broken-out.jpg"))
        allowed = (0, 1, 2) if name == "corrupt-middle.jpg" else (1,)
        if done.returncode not in allowed or (done.returncode == 1 and not done.stderr.strip()):
            fail("%s: exit %d, %r" % (name, done.returncode, done.stderr))
    # Not regular files: refused at once, never waited on.
    fifo = path("fifo.jpg")
    os.mkfifo(fifo)
    for special in (fifo, WORK, "/dev/zero"):
        try:
            done = run("--detect", special, timeout=10)
        except subprocess.TimeoutExpired:
            fail("%s: blocked" % special)
            continue
        if done.returncode != 1 or not ("not a regular file" in done.stdout or
                                        "Is a directory" in done.stdout):
            fail("%s: %d %r" % (special, done.returncode, done.stdout))
    # An output that cannot be written: status 4, no partial file.
    done = run(path("odd-reference.jpg"), path("no/such/folder/face.jpg"))
    if done.returncode != 4:
        fail("unwritable output: %d" % done.returncode)
    # A full disk: status 4, and the device is left alone.
    if os.path.exists("/dev/full"):
        done = run(path("odd-reference.jpg"), "/dev/full")
        if done.returncode != 4 or not stat.S_ISCHR(os.stat("/dev/full").st_mode):
            fail("full disk: %d" % done.returncode)
    del reference


def main():
    version = run("--version").stdout
    if "libvips" not in version:
        print("bmpface built without libvips: nothing to test here")
        return 0
    try:
        check_format_and_orientations()
        check_heif()
        check_colours()
        check_framing()
        check_odd_inputs()
    finally:
        shutil.rmtree(WORK, ignore_errors=True)
    print("%d failures" % len(FAILURES))
    return 1 if FAILURES else 0


if __name__ == "__main__":
    sys.exit(main())
