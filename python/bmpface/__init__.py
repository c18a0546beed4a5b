"""Finds the face in a picture by skin colour: the bmpface library for Python.

A *source* is a path to a 24- or 32-bit BMP file (``str``, ``bytes`` or ``os.PathLike``) or a
NumPy ``uint8`` array of shape (height, width, 3) or (height, width, 4), top row first. Arrays are
red first by default, as Pillow and Matplotlib give them; pass ``order="bgr"`` for OpenCV's. A
fourth channel is carried into crops and plays no part in the search.

Every call releases the interpreter lock while it works, so a thread pool runs requests on all
cores. Arrays are never modified, and never read outside their own memory: an array whose pixels
are not adjacent bytes (a slice, a channel-reversed view) or that is red first is copied first.
"""
import os
from typing import List, NamedTuple, Optional, Union

import numpy as np

from . import _bmpface
from ._bmpface import EXTRACT_FAILED, LOAD_FAILED, NO_FACE, OK, SAVE_FAILED

__all__ = ["Rect", "Region", "extract", "detect", "crop", "regions",
           "OK", "LOAD_FAILED", "NO_FACE", "EXTRACT_FAILED", "SAVE_FAILED"]

PathType = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]
Source = Union[PathType, np.ndarray]


class Rect(NamedTuple):
    """A rectangle of the picture: its top-left corner (column, row from the top) and size."""

    x: int
    y: int
    width: int
    height: int


class Region(NamedTuple):
    """One skin region as the search judged it (what ``bmpface explain`` draws).

    ``failed_test`` is the first candidate test the region failed, 0 when it passed them all:
    1 narrower than 30 pixels, 2 shorter than 30, 3 wider than 0.9 of the picture, 4 taller than
    0.9 of it, 5 width / height outside 0.5 to 2, 6 less than 0.3 full, 7 centre in the lowest
    30 % of the picture. ``score`` is a candidate's (1 - centre row / height) * pixel count, 0 for
    the rest. ``chosen`` marks the region the face rectangle is made from.
    """

    x: int
    y: int
    width: int
    height: int
    pixel_count: int
    failed_test: int
    score: float
    chosen: bool


def _path(path: PathType) -> bytes:
    encoded = os.fsencode(path)
    if b"\0" in encoded:
        raise ValueError("embedded null byte in path")
    return encoded


def _source(source: Source):
    if isinstance(source, np.ndarray):
        return source
    if isinstance(source, (str, bytes, os.PathLike)):
        return _path(source)
    raise TypeError("expected a path or a numpy.ndarray, got %s" % type(source).__name__)


def _bgr(order: str) -> bool:
    if order not in ("rgb", "bgr"):
        raise ValueError('order must be "rgb" or "bgr", got %r' % (order,))
    return order == "bgr"


def extract(input: PathType, output: PathType) -> int:
    """Crops the face of the BMP file ``input`` into a new BMP file ``output``.

    Returns the status ``BMPFaceExtract`` returns: ``OK`` (999) written, ``LOAD_FAILED`` (1),
    ``NO_FACE`` (222), ``EXTRACT_FAILED`` (333, no memory for the crop) or ``SAVE_FAILED`` (444).
    Unlike the C function it prints nothing; the status says it all.
    """
    return _bmpface.extract(_path(input), _path(output))


def detect(source: Source, order: str = "rgb") -> Optional[Rect]:
    """The face rectangle of ``source`` (the one ``extract`` would crop), or None without a face.

    Raises TypeError for a source that is neither a path nor an array, or an array that is not
    uint8; ValueError for an array of another shape, an empty one, or ``order`` other than "rgb"
    or "bgr"; OSError for a file that cannot be loaded; MemoryError when memory runs out.
    """
    found = _bmpface.detect(_source(source), _bgr(order))
    return None if found is None else Rect(*found)


def crop(source: Source, order: str = "rgb") -> Optional[np.ndarray]:
    """The face rectangle's pixels as a new array (height, width, channels), or None.

    The crop is a copy that shares no memory with ``source``, in the channel order ``order``
    names; for a file that means red first unless ``order="bgr"``. Raises as ``detect``.
    """
    return _bmpface.crop(_source(source), _bgr(order))


def regions(source: Source, order: str = "rgb") -> List[Region]:
    """Every skin region of ``source`` in the order the search met them, with its judgement.

    The search meets regions by their first pixel, top to bottom and left to right. At most one
    region is chosen, none when there is no face. Raises as ``detect``.
    """
    seen = _bmpface.regions(_source(source), _bgr(order))
    chosen = max((i for i, r in enumerate(seen) if r[7]), default=-1)
    return [Region(*r[:7], i == chosen) for i, r in enumerate(seen)]
