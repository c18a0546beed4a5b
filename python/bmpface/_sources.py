"""What a caller may hand bmpface as a picture, sorted into the three kinds the compiled part
reads: a path, a file's contents, or a uint8 array. Pillow images are turned into one of these by
their mode, upright by their EXIF orientation unless asked not to."""
import io
import os
import sys
from typing import Any, Optional, Tuple, Union

import numpy as np

from . import _bmpface

PathType = Union[str, "os.PathLike[str]", "os.PathLike[bytes]"]

# (the source as the compiled part takes it, its kind, the path for error messages)
Sorted = Tuple[Any, int, Optional[Union[str, bytes]]]


def path_bytes(path: Union[str, bytes, "os.PathLike[Any]"]) -> bytes:
    encoded = os.fsencode(path)
    if b"\0" in encoded:
        raise ValueError("embedded null byte in path")
    return encoded


def sort(source: Any, orient: bool) -> Tuple[Sorted, bool]:
    """The source as the compiled part reads it, and whether the photo layer should still turn it
    upright (False where it has been turned here already)."""
    if isinstance(source, np.ndarray):
        return (source, _bmpface.ARRAY, None), orient
    if isinstance(source, (str, os.PathLike)):
        return (path_bytes(source), _bmpface.PATH, os.fspath(source)), orient
    if isinstance(source, (bytes, bytearray, memoryview)):
        if isinstance(source, memoryview) and not source.c_contiguous:
            source = source.tobytes()  # the bytes in order, for a view with gaps
        return (source, _bmpface.CONTENTS, None), orient
    image = sys.modules.get("PIL.Image")
    if image is not None and isinstance(source, image.Image):
        return from_pil(source, orient), False
    read = getattr(source, "read", None)
    if callable(read):
        contents = _read_all(source)
        return (contents, _bmpface.CONTENTS, getattr(source, "name", None)), orient
    raise TypeError("expected a path, the bytes of a picture file, a file object, a PIL image or "
                    "a numpy.ndarray, got %s" % type(source).__name__)


def _read_all(stream: Any) -> Union[bytes, memoryview]:
    contents = stream.read()
    if not isinstance(contents, (bytes, bytearray, memoryview)):
        raise TypeError("the file object gave %s, not bytes: open the file in binary mode "
                        "(open(path, 'rb'))" % type(contents).__name__)
    return contents


# Pillow modes taken as arrays as they are, and those whose colours are better converted by the
# photo layer (as the command converts them from a file of that mode): saved losslessly in memory
# as PNG (TIFF for CMYK), then read like any picture's contents.
_AS_ARRAY = {"L", "RGB", "RGBA"}
_THROUGH_FILE = {"LA": "PNG", "P": "PNG", "PA": "PNG", "I;16": "PNG", "I;16B": "PNG",
                 "I;16L": "PNG", "I": "PNG", "CMYK": "TIFF", "1": "PNG"}
_ORIENTATION = 0x0112  # the EXIF tag
_BY_PILLOW = {"YCbCr": "RGB", "RGBX": "RGB", "RGBa": "RGBA", "La": "LA"}


def from_pil(image: Any, orient: bool) -> Sorted:
    from PIL import ImageOps
    image.load()  # the size and the pixels as loaded (a reader may turn them while loading)
    # Pillow 9's TIFF reader turns the pixels itself while loading (and keeps the tag).
    turned = getattr(image, "_tile_orientation", None)
    if orient and not turned and image.getexif().get(_ORIENTATION, 1) not in (None, 1):
        image = ImageOps.exif_transpose(image)
    mode = image.mode
    if mode in _BY_PILLOW:
        image = image.convert(_BY_PILLOW[mode])
        mode = image.mode
    profile = image.info.get("icc_profile")
    if mode in _AS_ARRAY and not (profile and _bmpface.HAVE_VIPS):
        return np.asarray(image), _bmpface.ARRAY, None
    if mode in _THROUGH_FILE or mode in _AS_ARRAY:
        if not _bmpface.HAVE_VIPS:  # no photo layer beyond BMP: Pillow's own conversion
            alpha = "A" in mode or "transparency" in image.info
            return np.asarray(image.convert("RGBA" if alpha else "RGB")), _bmpface.ARRAY, None
        kind = _THROUGH_FILE.get(mode, "PNG")
        held = io.BytesIO()
        extra = {"icc_profile": profile} if profile else {}
        if kind == "PNG":
            extra["compress_level"] = 0
        image.save(held, kind, **extra)
        return held.getbuffer(), _bmpface.CONTENTS, None
    raise TypeError("a PIL image of mode %s is not read: convert it with img.convert('RGB')" % mode)
