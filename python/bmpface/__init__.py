"""Finds the face in a picture by skin colour: the bmpface library for Python.

A *source* is any of:

- a path (``str`` or ``os.PathLike``) to a picture of any format this build reads: BMP of any
  depth, and with libvips JPEG, PNG, WebP, TIFF, GIF, HEIF and AVIF, decided by the content;
- a picture file's contents: ``bytes``, ``bytearray``, ``memoryview``, or a file object opened in
  binary mode (``io.BytesIO``, ``open(p, "rb")``), read from its current position;
- a Pillow image, converted by its mode (L, LA, P, RGB, RGBA, CMYK, I;16, ...) as the command
  converts a file of that mode, turned upright by its EXIF orientation;
- a NumPy ``uint8`` array of shape (height, width, 3 or 4), red first by default as Pillow and
  Matplotlib give them (``order="bgr"`` for OpenCV's), or (height, width) for grey. A fourth
  channel is carried into crops and plays no part in the search. Arrays are taken as they are:
  nothing turns them upright.

Pictures read from files, contents and Pillow images go through the command's photo layer: upright
by their EXIF orientation (``orient=False`` keeps the stored pixels), in 8-bit sRGB, so every
call gives the rectangle ``bmpface --detect`` gives for the same picture. A path given as
``bytes`` is taken as contents: pass ``os.fsdecode(path)`` or a ``pathlib.Path`` instead.

Framing is asked with keywords, as the command's options: ``margin=0.25`` adds a quarter of the
rectangle on each side, ``aspect="35:45"`` (or ``(35, 45)``) grows the shorter side, ``size=
"256x256"`` (or ``(256, 256)``) resizes the crop and implies that aspect; ``frame`` says what they
start from: ``"rule"`` (the face rectangle, default), ``"region"`` (the chosen skin region's box)
or ``"face"`` (the face ``verify`` found). ``verify=True`` asks a face detector (dlib's, the
command's ``--verify``) to confirm the chosen region: a region without a frontal face gives no
face (``facts`` tells it apart as ``"unverified"``).

Results: ``detect``, ``crop`` and ``extract`` return ``None`` for a picture without a face; that
is a result, not an error. Every failure raises a ``bmpface.Error``: ``LoadError`` (an
``OSError``, with ``errno`` and ``filename``; ``MissingFileError`` is a ``FileNotFoundError``)
for a picture that cannot be read, ``SaveError`` (an ``OSError``) for a crop that cannot be
written. Wrong arguments raise ``TypeError`` and ``ValueError``; memory that runs out,
``MemoryError``.

Every call releases the interpreter lock while it works, so a thread pool runs requests on all
cores. Arrays are never modified, and never read outside their own memory. Resizing an array
(``ndarray.resize(refcheck=False)``) while another thread reads it is unsafe, as NumPy says.
"""
import os
from typing import Any, List, Literal, NamedTuple, Optional, Tuple, Union, overload

import numpy as np
import numpy.typing as npt

from . import _bmpface, _sources
from ._bmpface import EXTRACT_FAILED, LOAD_FAILED, NO_FACE, OK, SAVE_FAILED
from ._errors import Error, LoadError, MissingFileError, PermissionDeniedError, SaveError
from ._errors import load_error, save_error

__version__: str = _bmpface.__version__

__all__ = ["Rect", "Region", "Facts", "extract", "detect", "facts", "crop", "regions",
           "crop_folder", "test_words",
           "Error", "LoadError", "MissingFileError", "PermissionDeniedError", "SaveError",
           "OK", "LOAD_FAILED", "NO_FACE", "EXTRACT_FAILED", "SAVE_FAILED", "__version__"]

PathType = Union[str, "os.PathLike[str]", "os.PathLike[bytes]"]
Source = Any  # a path, contents, a file object, a PIL image or an array (see above)
Order = Literal["rgb", "bgr"]
Pair = Union[str, Tuple[int, int], None]
Frame = Literal["rule", "region", "face"]


class Rect(NamedTuple):
    """A rectangle of the picture: its top-left corner (column, row from the top) and size."""

    x: int
    y: int
    width: int
    height: int


class Region(NamedTuple):
    """One skin region as the search judged it (what ``bmpface explain`` draws).

    ``failed_test`` is the first candidate test the region failed, 0 when it passed them all
    (``test_words`` says each in words):
    {tests}
    ``score`` is a candidate's (1 - centre row / height) * pixel count, 0 for the rest. ``chosen``
    marks the region the face rectangle is made from.
    """

    x: int
    y: int
    width: int
    height: int
    pixel_count: int
    failed_test: int
    score: float
    chosen: bool


def test_words(test: int) -> str:
    """Candidate test ``test`` (1 to 7, as ``Region.failed_test``) in words, from the library's
    own thresholds: ``test_words(1)`` is ``"narrower than ... pixels"``."""
    return _bmpface.test_words(test)


Region.__doc__ = (Region.__doc__ or "").format(tests="\n    ".join(
    "%d %s" % (test, _bmpface.test_words(test))
    for test in range(1, _bmpface.CANDIDATE_TESTS + 1)))

# The size tests: a region that fails one of them is too small for ``bmpface explain`` to show.
_SIZE_TESTS = (1, 2)


class Facts(NamedTuple):
    """The search's answer and how sure it is (the fields of ``bmpface --detect --json``).

    ``status`` is ``"face"``, ``"no_face"`` or ``"unverified"`` (``verify=True`` and the face
    detector found no face in the chosen region). ``rect`` is the (framed) rectangle with a face.
    ``region`` is the chosen skin region's box, ``pixel_count`` its skin pixels and ``fill`` the
    share of its box they fill; ``score`` is its score and ``runner_up`` the best score of every
    other candidate (0 when it was alone): the nearer the two, the closer the choice. ``candidates``
    counts the regions that passed every test, ``skin_share`` is the share of the picture that is
    skin (much skin: warm light or walls). ``verified`` is None unless ``verify`` was asked, and
    ``face`` the face the detector found.
    """

    status: str
    rect: Optional[Rect]
    region: Optional[Rect]
    pixel_count: int
    fill: float
    score: float
    runner_up: float
    candidates: int
    skin_share: float
    verified: Optional[bool]
    face: Optional[Rect]


def _pair(value: Pair, separator: str, name: str) -> str:
    if value is None:
        return ""
    if isinstance(value, str):
        return value
    if isinstance(value, tuple) and len(value) == 2 and all(isinstance(v, int) for v in value):
        return "%d%s%d" % (value[0], separator, value[1])
    raise TypeError("%s must be a string such as %r or a pair of ints" %
                    (name, "35:45" if separator == ":" else "256x256"))


def _bgr(order: str) -> bool:
    if order not in ("rgb", "bgr"):
        raise ValueError('order must be "rgb" (Pillow, Matplotlib) or "bgr" (pass order="bgr" '
                         'for OpenCV arrays), got %r' % (order,))
    return order == "bgr"


def _call(function: Any, source: Source, order: str, orient: bool, margin: float = 0.0,
          aspect: Pair = None, size: Pair = None, fmt: str = "", quality: int = 0,
          extra: Tuple[Any, ...] = (), verify: bool = False, frame: str = "rule") -> Any:
    bgr = _bgr(order)
    (held, kind, name), orient = _sources.sort(source, orient)
    # A Pillow image's pixels are red first whatever `order` asks of the result.
    swap = bgr and kind == _bmpface.ARRAY and held is not source
    options = _bmpface.Options(orient, float(margin), _pair(aspect, ":", "aspect"),
                               _pair(size, "x", "size"), fmt, quality, bool(verify), frame)
    try:
        found = function(held, kind, bgr and not swap, options, *extra)
    except _bmpface.LoadFailure as error:
        raise load_error(str(error), name) from None
    if swap and function is _bmpface.crop and found is not None:
        pixels, alpha = found
        found = pixels[..., [2, 1, 0, 3][:pixels.shape[2]]], alpha
    return found


def detect(source: Source, order: Order = "rgb", *, orient: bool = True, margin: float = 0.0,
           aspect: Pair = None, size: Pair = None, verify: bool = False,
           frame: Frame = "rule") -> Optional[Rect]:
    """The face rectangle of ``source`` (the one ``extract`` would crop), framed as asked, in the
    upright picture's coordinates; None without a face (or, with ``verify``, without one the
    face detector confirms). ``size`` only shapes the rectangle (its aspect)."""
    found = _call(_bmpface.detect, source, order, orient, margin, aspect, size, verify=verify,
                  frame=frame)
    return None if found is None else Rect(*found)


def facts(source: Source, order: Order = "rgb", *, orient: bool = True, margin: float = 0.0,
          aspect: Pair = None, size: Pair = None, verify: bool = False,
          frame: Frame = "rule") -> Facts:
    """What ``detect`` decides and how sure it is: see ``Facts``."""
    f = _call(_bmpface.facts, source, order, orient, margin, aspect, size, verify=verify,
              frame=frame)
    rect, region, face = (None if r is None else Rect(*r) for r in (f[1], f[2], f[10]))
    return Facts(f[0], rect, region, f[3], f[4], f[5], f[6], f[7], f[8], f[9], face)


@overload
def crop(source: Source, order: Order = ..., *, orient: bool = ..., margin: float = ...,
         aspect: Pair = ..., size: Pair = ..., as_pil: Literal[False] = ...,
         verify: bool = ..., frame: Frame = ...) -> Optional[npt.NDArray[np.uint8]]: ...
@overload
def crop(source: Source, order: Order = ..., *, orient: bool = ..., margin: float = ...,
         aspect: Pair = ..., size: Pair = ..., as_pil: Literal[True],
         verify: bool = ..., frame: Frame = ...) -> Any: ...
def crop(source: Source, order: Order = "rgb", *, orient: bool = True, margin: float = 0.0,
         aspect: Pair = None, size: Pair = None, as_pil: bool = False, verify: bool = False,
         frame: Frame = "rule") -> Any:
    """The face's pixels (framed, resized to ``size``) as a new array (height, width, channels),
    or a Pillow image with ``as_pil=True`` (RGB, or RGBA where the picture has alpha); None
    without a face. The array shares no memory with ``source`` and is in the channel order
    ``order`` names, for a file as for an array."""
    made = _call(_bmpface.crop, source, "rgb" if as_pil else order, orient, margin, aspect, size,
                 verify=verify, frame=frame)
    if made is None:
        return None
    pixels, alpha = made
    if not as_pil:
        return pixels
    from PIL import Image
    return Image.fromarray(pixels if alpha or pixels.shape[2] == 3 else pixels[..., :3])


def extract(input: Source, output: PathType, order: Order = "rgb", *, orient: bool = True,
            margin: float = 0.0, aspect: Pair = None, size: Pair = None,
            format: Optional[str] = None, quality: int = 0, verify: bool = False,
            frame: Frame = "rule") -> Optional[Rect]:
    """Writes the face of ``input`` as the file ``output``, as ``bmpface INPUT OUTPUT`` does: in
    ``format`` (bmp, jpg, png, webp, tif, gif, heic, avif), else the output name's extension,
    else the input's format (BMP for arrays); JPEG at ``quality`` (default 90). A BMP of a BMP is
    exactly the C export's file. Returns the rectangle written, or None without a face (nothing
    is written). Raises LoadError, SaveError, or as ``detect``.

    This is not a mirror of the C export ``BMPFaceExtract``, whose statuses (``OK``,
    ``LOAD_FAILED``, ...) stay here as constants for code that calls the C library."""
    target = _sources.path_bytes(output)
    try:
        found = _call(_bmpface.extract, input, order, orient, margin, aspect, size, format or "",
                      quality, (target,), verify=verify, frame=frame)
    except _bmpface.SaveFailure as error:
        raise save_error(error.args[0], error.args[1], os.fspath(output)) from None
    return None if found is None else Rect(*found)


def regions(source: Source, order: Order = "rgb", *, min_side: Optional[int] = None,
            orient: bool = True) -> List[Region]:
    """The skin regions of ``source`` at least ``min_side`` pixels wide and tall (None: those
    ``bmpface explain`` shows, which pass the size tests 1 and 2; 1: every one), in the order the
    search met them (by their first pixel, top to bottom and left to right), with its judgement.
    At most one is chosen, none when there is no face."""
    seen = _call(_bmpface.regions, source, order, orient)
    return [Region(*r) for r in seen
            if (r[5] not in _SIZE_TESTS if min_side is None
                else r[2] >= min_side and r[3] >= min_side)]


from ._folder import crop_folder  # noqa: E402  (it uses the calls above)
