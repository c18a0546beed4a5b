"""The package's exceptions: one base, and load and save failures that are OSErrors as Python's
own file errors are, with ``errno`` (where the system gave one) and ``filename``."""
import errno as _errno
import os
from typing import Optional, Type, Union

__all__ = ["Error", "LoadError", "SaveError", "MissingFileError", "PermissionDeniedError"]


class Error(Exception):
    """The base of every exception bmpface raises for a picture it cannot read or write."""


class LoadError(Error, OSError):
    """A picture that cannot be read: missing, not a regular file, of another format, truncated
    or corrupt, or larger than the library's 32-bit sizes. ``errno`` is the system's reason
    where there is one (None for a file that is there but holds no picture bmpface reads)."""


class MissingFileError(LoadError, FileNotFoundError):
    """The picture's path names nothing (errno ENOENT)."""


class PermissionDeniedError(LoadError, PermissionError):
    """The picture may not be read (errno EACCES or EPERM)."""


class SaveError(Error, OSError):
    """The crop's file cannot be written: its folder is missing, the disk is full, ..."""


_BY_ERRNO = {_errno.ENOENT: MissingFileError, _errno.EACCES: PermissionDeniedError,
             _errno.EPERM: PermissionDeniedError}

Name = Union[str, bytes, None]


def load_error(reason: str, filename: Name) -> LoadError:
    """The exception for a picture the photo layer refused with `reason`. For a path, the system
    is asked again why, so that the exception carries its errno."""
    code: Optional[int] = None
    if filename is not None:
        try:
            if os.path.isdir(filename):
                code = _errno.EISDIR
            elif not os.access(filename, os.R_OK):
                os.stat(filename)  # raises with the reason it cannot be seen
                code = _errno.EACCES
        except OSError as error:
            code = error.errno
        if code is not None:
            reason = os.strerror(code)
    if reason == "out of memory":
        raise MemoryError("out of memory for the picture")
    if code is None:
        reason = _PLAINER.get(reason, reason) + _HINTS.get(reason, "")
    if code is None:  # no system reason: the message alone, naming the file
        named = reason if filename is None else "%s: %s" % (os.fsdecode(filename), reason)
        plain = LoadError(named)
        plain.filename = filename
        return plain
    kind: Type[LoadError] = _BY_ERRNO.get(code, LoadError)
    return kind(code, reason, filename) if filename is not None else kind(code, reason)


def save_error(code: int, reason: str, filename: Name) -> SaveError:
    return SaveError(code or None, reason, filename)


# The library reader's words cover every case; here the file is known to be there and readable.
_PLAINER = {
    "missing, unreadable, or not a 24- or 32-bit BMP picture":
        "a 24- or 32-bit BMP that is cut short or corrupt",
}

# What to do about the usual refusals, said with them.
_HINTS = {
    "not a picture bmpface reads":
        " (it reads BMP, JPEG, PNG, WebP, TIFF, GIF, HEIF and AVIF by their content; convert "
        "others first, for example with Pillow: Image.open(p).convert('RGB'))",
}
