"""The Python package: every call on the sample in each form a caller may hold it, bad sources,
arrays in any memory layout, the interpreter lock, and the export's answers on the generated
check pictures. BMPFACE_LIBRARY may name the shared library whose BMPFaceExtract to compare with;
without it the package's own extract() stands in."""
import ctypes
import errno
import importlib.util
import io
import os
import pathlib
import sys
import threading
import time

import numpy as np
import pytest

import bmpface
from bmpface import Rect, Region

ROOT = pathlib.Path(__file__).resolve().parents[2]
SAMPLE = ROOT / "examples" / "hopper.bmp"
FACE = Rect(72, 0, 332, 369)
CHOSEN = Region(99, 0, 277, 410, 47234, 0, 31174.4375, True)


def read_bmp(path):
    """The pixels of a plain 24- or 32-bit BMP file (54-byte header, rows bottom-up), blue first."""
    data = pathlib.Path(path).read_bytes()
    width, height = (int.from_bytes(data[o:o + 4], "little", signed=True) for o in (18, 22))
    channels = data[28] // 8
    stride = (width * channels + 3) // 4 * 4
    offset = int.from_bytes(data[10:14], "little")
    rows = np.frombuffer(data, np.uint8, stride * abs(height), offset).reshape(abs(height), stride)
    pixels = rows[:, :width * channels].reshape(abs(height), width, channels)
    return pixels[::-1].copy() if height > 0 else pixels.copy()


def write_bmp(path, bgr):
    """`bgr` (height, width, 3 or 4) as a plain bottom-up BMP file."""
    height, width, channels = bgr.shape
    stride = (width * channels + 3) // 4 * 4
    rows = np.zeros((height, stride), np.uint8)
    rows[:, :width * channels] = bgr[::-1].reshape(height, -1)
    header = b"BM" + (54 + rows.size).to_bytes(4, "little") + bytes(4) + (54).to_bytes(4, "little")
    header += ((40).to_bytes(4, "little") + width.to_bytes(4, "little")
               + height.to_bytes(4, "little"))
    header += (1).to_bytes(2, "little") + (8 * channels).to_bytes(2, "little") + bytes(24)
    pathlib.Path(path).write_bytes(header + rows.tobytes())


@pytest.fixture(scope="module")
def bgr():
    return read_bmp(SAMPLE)


@pytest.fixture(scope="module")
def export():
    """BMPFaceExtract(input, output) -> status, from the shared library where it is named."""
    library = os.environ.get("BMPFACE_LIBRARY")
    if not library:
        def statuses(input, output):
            try:
                return bmpface.OK if bmpface.extract(input, output) else bmpface.NO_FACE
            except bmpface.LoadError:
                return bmpface.LOAD_FAILED
        return statuses
    function = ctypes.CDLL(library).BMPFaceExtract
    function.argtypes, function.restype = [ctypes.c_wchar_p, ctypes.c_wchar_p], ctypes.c_int32
    return lambda input, output: function(str(input), str(output))


# The sample as a caller may hold it: (name, source from the blue-first pixels, order, the crop's
# channels as indices into the blue-first pixels).
SAMPLE_FORMS = [
    ("path", lambda p: str(SAMPLE), "rgb", [2, 1, 0]),
    ("file contents as bytes, blue first", lambda p: SAMPLE.read_bytes(), "bgr", [0, 1, 2]),
    ("file contents as a bytearray", lambda p: bytearray(SAMPLE.read_bytes()), "rgb", [2, 1, 0]),
    ("path-like", lambda p: SAMPLE, "rgb", [2, 1, 0]),
    ("RGB array", lambda p: np.ascontiguousarray(p[..., ::-1]), "rgb", [2, 1, 0]),
    ("BGR array", lambda p: p, "bgr", [0, 1, 2]),
    ("RGB array read as BGR through a reversed view",
     lambda p: np.ascontiguousarray(p[..., ::-1])[..., ::-1], "bgr", [0, 1, 2]),
    ("RGBA array", lambda p: np.dstack([p[..., ::-1], np.full(p.shape[:2], 7, np.uint8)]), "rgb",
     [2, 1, 0, 3]),
]


@pytest.mark.parametrize("make, order, channels", [f[1:] for f in SAMPLE_FORMS],
                         ids=[f[0] for f in SAMPLE_FORMS])
def test_the_sample_in_every_form(bgr, make, order, channels):
    source = make(bgr)
    rect = bmpface.detect(source, order)
    assert rect == FACE and tuple(rect) == (72, 0, 332, 369)
    x, y, width, height = rect
    crop = bmpface.crop(source, order)
    held = np.dstack([bgr, np.full(bgr.shape[:2], 7, np.uint8)])[..., channels]
    assert crop.dtype == np.uint8 and np.array_equal(crop, held[y:y + height, x:x + width])
    if isinstance(source, np.ndarray):
        assert not np.shares_memory(crop, source)
    found = bmpface.regions(source, order, min_side=1)
    assert [r for r in found if r.chosen] == [CHOSEN]
    assert sum(r.pixel_count for r in found) == np.count_nonzero(skin(bgr))
    # By default only what explain shows: regions of at least 30 x 30 pixels.
    assert bmpface.regions(source, order) == [r for r in found if min(r.width, r.height) >= 30]


def test_test_words_come_from_the_library():
    """The words come from the library through the binding, and the Region help lists them."""
    assert [bmpface.test_words(t) for t in (1, 5, 7)] == [
        "narrower than 30 pixels", "width / height outside 0.5 to 2",
        "centre in the lowest 30 % of the picture"]
    assert "    6 less than 0.3 full\n" in Region.__doc__
    for wrong in (0, 8):
        with pytest.raises(ValueError):
            bmpface.test_words(wrong)


def skin(bgr):
    """The skin rule, written out again as the test's own oracle."""
    b, g, r = (bgr[..., i].astype(int) for i in range(3))
    spread = np.maximum(np.maximum(r, g), b) - np.minimum(np.minimum(r, g), b)
    return (r > 95) & (g > 40) & (b > 20) & (spread > 15) & (r > g) & (r > b) & (abs(r - g) > 15)


def test_extract_results_errors_and_files(tmp_path, bgr, export):
    write_bmp(tmp_path / "dark.bmp", np.zeros((60, 80, 3), np.uint8))
    cases = [  # input, output, the result or the exception (its class, errno), file's first bytes
        (SAMPLE, tmp_path / "face.bmp", FACE, b"BM"),
        (SAMPLE.read_bytes(), os.fsencode(tmp_path / "face-bytes.bmp"), FACE, b"BM"),
        (SAMPLE, tmp_path / "face.png", FACE, b"\x89PNG"),
        (SAMPLE, tmp_path / "face.jpeg", FACE, b"\xff\xd8"),
        (tmp_path / "absent.bmp", tmp_path / "out.bmp", (bmpface.MissingFileError, errno.ENOENT),
         None),
        (tmp_path, tmp_path / "out.bmp", (bmpface.LoadError, errno.EISDIR), None),
        (tmp_path / os.fsdecode(b"caf\xe9.jpg"), tmp_path / "out.bmp",
         (bmpface.MissingFileError, errno.ENOENT), None),  # a name that is not UTF-8
        (tmp_path / "dark.bmp", tmp_path / "out.bmp", None, None),
        (SAMPLE, tmp_path / "no" / "out.bmp", (bmpface.SaveError, errno.ENOENT), None),
    ]
    if not bmpface._bmpface.HAVE_VIPS:  # BMP only: other formats are refused
        cases = [c for c in cases if c[3] != b"\x89PNG" and c[3] != b"\xff\xd8"]
        with pytest.raises(ValueError, match="libvips"):
            bmpface.extract(SAMPLE, tmp_path / "face.png")
    for input, output, result, head in cases:
        if type(result) is tuple:  # an exception (a Rect is a result)
            with pytest.raises(result[0]) as raised:
                bmpface.extract(input, output)
            assert raised.value.errno == result[1], (input, output)
            assert os.strerror(result[1]) in str(raised.value)
            named = input if result[0] is not bmpface.SaveError else output
            assert raised.value.filename == os.fspath(named)
            assert isinstance(raised.value, (OSError, bmpface.Error))
        else:
            assert bmpface.extract(input, output) == result, (input, output)
        assert os.path.exists(output) == (head is not None)
        if head is not None:
            assert pathlib.Path(os.fsdecode(output)).read_bytes().startswith(head)
    assert isinstance(raised.value, OSError)
    assert (tmp_path / "face.bmp").read_bytes() == (tmp_path / "face-bytes.bmp").read_bytes()
    assert export(SAMPLE, tmp_path / "exported.bmp") == bmpface.OK
    assert (tmp_path / "face.bmp").read_bytes() == (tmp_path / "exported.bmp").read_bytes()
    assert np.array_equal(read_bmp(tmp_path / "face.bmp"), bmpface.crop(bgr, "bgr"))


def test_bad_sources_raise(tmp_path):
    cut = tmp_path / "cut.bmp"
    cut.write_bytes(SAMPLE.read_bytes()[:5000])  # fewer rows than the header declares
    picture = np.zeros((40, 50, 3), np.uint8)
    cases = [  # source, order, exception
        (picture.astype(np.float32), "rgb", TypeError),
        (picture.astype(np.uint16), "rgb", TypeError),
        (picture.astype(np.int8), "rgb", TypeError),
        (picture.tolist(), "rgb", TypeError),
        (None, "rgb", TypeError),
        (picture[0, :, 0], "rgb", ValueError),
        (picture[np.newaxis], "rgb", ValueError),
        (picture[..., :2], "rgb", ValueError),
        (np.zeros((40, 50, 5), np.uint8), "rgb", ValueError),
        (picture[:0], "rgb", ValueError),
        (picture[:, :0], "bgr", ValueError),
        (picture, "RGB", ValueError),
        (picture, "gbr", ValueError),
        ("bad\0name.bmp", "rgb", ValueError),
        (tmp_path / "absent.bmp", "rgb", OSError),
        (cut, "rgb", OSError),
        (cut.read_bytes(), "rgb", OSError),
        (io.StringIO("text"), "rgb", TypeError),
        (object(), "rgb", TypeError),
    ]
    for call in (bmpface.detect, bmpface.crop, bmpface.regions):
        for source, order, error in cases:
            with pytest.raises(error):
                call(source, order)
    with pytest.raises(ValueError):
        bmpface.extract(SAMPLE, "out\0.bmp")
    for keywords in ({"frame": "face"}, {"frame": "Region"}, {"frame": None}):
        with pytest.raises((ValueError, TypeError)):
            bmpface.detect(SAMPLE, **keywords)


def test_every_memory_layout_gives_the_same_answers(bgr):
    """Views that are not packed rows of adjacent pixels: the same answers as their packed copy,
    and nothing read outside them (checked by the copy's values, and by AddressSanitizer where
    the module is built with it)."""
    wide = np.full((bgr.shape[0], bgr.shape[1] + 9, 3), 250, np.uint8)
    wide[:, 5:5 + bgr.shape[1]] = bgr
    layouts = [
        ("rows with fill", wide[:, 5:5 + bgr.shape[1]]),
        ("four-byte pixels read as three", np.dstack([bgr, bgr[..., :1]])[..., :3]),
        ("column-major", np.asfortranarray(bgr)),
        ("upside down", bgr[::-1]),
        ("every other column", bgr[:, ::2]),
        ("mirrored", bgr[:, ::-1]),
        ("read-only", np.frombuffer(bgr.tobytes(), np.uint8).reshape(bgr.shape)),
    ]
    # A grey picture, 2-D: read as three equal channels.
    grey = bgr[..., 2]
    for order in ("bgr", "rgb"):
        assert bmpface.regions(grey, order, min_side=1) == bmpface.regions(
            np.dstack([grey] * 3), order, min_side=1)
    for name, view in layouts:
        packed = np.ascontiguousarray(view)
        for order in ("bgr", "rgb"):
            assert bmpface.detect(view, order) == bmpface.detect(packed, order), name
            expected = bmpface.crop(packed, order)
            got = bmpface.crop(view, order)
            assert (got is None and expected is None) or np.array_equal(got, expected), name
            assert bmpface.regions(view, order) == bmpface.regions(packed, order), name


def test_calls_release_the_interpreter_lock(tmp_path, bgr):
    """Two calls on two threads overlap in time, which they cannot while one holds the lock. With
    no forced switches between threads, a thread gives up the lock only where it waits or where
    the library releases it, so each span is measured by a thread that holds the lock."""
    # Large enough (about 7 MP) that a call lasts far longer than the other thread takes to start;
    # a pair that still does not overlap is tried again (up to ten times, for a loaded machine), as
    # a scheduler may delay a thread; a call that held the lock would never overlap.
    big = np.tile(bgr, (4, 6, 1))
    write_bmp(tmp_path / "big.bmp", big)
    sources = [(big, "bgr"), (big, "rgb"), (tmp_path / "big.bmp", "rgb")]
    calls = [(call, source, order) for call in (bmpface.detect, bmpface.crop, bmpface.regions)
             for source, order in sources]
    calls.append((lambda source, order: bmpface.extract(source, tmp_path / "out.bmp"),
                  tmp_path / "big.bmp", "rgb"))
    interval = sys.getswitchinterval()
    sys.setswitchinterval(1000)
    try:
        def overlap(call, source, order):
            barrier = threading.Barrier(2)
            spans = []

            def run():
                barrier.wait()
                start = time.perf_counter()
                call(source, order)
                spans.append((start, time.perf_counter()))

            threads = [threading.Thread(target=run) for _ in range(2)]
            for thread in threads:
                thread.start()
            for thread in threads:
                thread.join()
            return max(s for s, _ in spans) < min(e for _, e in spans)

        for call, source, order in calls:
            assert any(overlap(call, source, order) for _ in range(10)), (call, order)
    finally:
        sys.setswitchinterval(interval)


def load_check_pictures(folder):
    """The generated pictures at the limits of the detection (bench/make_pictures.py)."""
    found = importlib.util.spec_from_file_location("make_pictures",
                                                   ROOT / "bench" / "make_pictures.py")
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module.make_check_pictures(str(folder))


def test_same_answers_as_the_export_on_generated_pictures(tmp_path, export):
    pytest.importorskip("PIL", reason="the check pictures are drawn with Pillow")
    names = load_check_pictures(tmp_path)
    faces = 0
    for index, name in enumerate(names):
        output = tmp_path / "out.bmp"
        status = export(name, output)
        pixels = read_bmp(name)
        # Half of them as red-first arrays, as most Python code holds pictures.
        order, source = (("bgr", pixels) if index % 2
                         else ("rgb", pixels[..., [2, 1, 0, 3][:pixels.shape[2]]]))
        rect = bmpface.detect(source, order)
        crop = bmpface.crop(source, order)
        assert (rect is None) == (crop is None) == (status == bmpface.NO_FACE), name
        if status == bmpface.OK:
            faces += 1
            written = read_bmp(output)
            assert crop.shape == written.shape == (rect.height, rect.width, pixels.shape[2]), name
            assert np.array_equal(
                crop if order == "bgr" else crop[..., [2, 1, 0, 3][:crop.shape[2]]], written), name
            os.remove(output)
        chosen = [r for r in bmpface.regions(source, order) if r.chosen]
        assert len(chosen) == (status == bmpface.OK), name
    assert faces >= len(names) // 2
