"""crop_folder: the faces of every picture below a folder, on a thread pool, as ``bmpface batch``
does it: each crop written to a temporary file beside its place and renamed there whole, a
failed picture counted and named without stopping the rest, resume, a JSON-lines report."""
import concurrent.futures
import json
import os
import pathlib
import sys
import tempfile
from typing import IO, Any, Dict, Iterator, List, NamedTuple, Optional, Tuple, Union

from . import _bmpface

# What the command finds in a folder by name; with libvips, every format it reads.
_SUFFIXES = ({".bmp", ".dib", ".jpg", ".jpeg", ".jpe", ".png", ".webp", ".tif", ".tiff", ".gif",
              ".heic", ".heif", ".avif"} if _bmpface.HAVE_VIPS else {".bmp", ".dib"})

Folder = Union[str, "os.PathLike[str]"]


class Summary(NamedTuple):
    """How the pictures of a crop_folder ended; ``failed`` is 0 when every picture was read."""

    done: int
    no_face: int
    failed: int
    skipped: int

    def __str__(self) -> str:
        total = sum(self)
        return "%d picture%s: %d done, %d no face, %d failed, %d skipped" % (
            total, "" if total == 1 else "s", self.done, self.no_face, self.failed, self.skipped)


def pictures(folder: Folder) -> Iterator[pathlib.Path]:
    """The picture files below `folder` at any depth, by name, in a stable order."""
    for root, folders, files in os.walk(folder):
        folders.sort()
        for name in sorted(files):
            if os.path.splitext(name)[1].lower() in _SUFFIXES and not name.startswith("."):
                yield pathlib.Path(root, name)


Outcome = Tuple[str, str, Optional[Tuple[int, int, int, int]]]


def _one(source: pathlib.Path, target: pathlib.Path, options: Any) -> Outcome:
    """Crops one picture; (the report's word, the reason for a failure, the rectangle written).
    Never raises for the
    picture's own faults, and never leaves a partial crop: the temporary file is renamed only
    once written whole, and removed otherwise."""
    from . import Error, LoadError, SaveError, extract, facts
    target.parent.mkdir(parents=True, exist_ok=True)
    # The temporary name ends with the crop's own, so that its extension picks the format.
    handle, temporary = tempfile.mkstemp(prefix="." + target.stem + ".",
                                         suffix=".part" + target.suffix, dir=target.parent)
    os.close(handle)
    try:
        rect = extract(source, temporary, **options)
        if rect is None:
            if not options.get("verify"):
                return "no_face", "", None
            # No face, or one the face detector did not confirm: the report tells them apart.
            asked = {k: v for k, v in options.items() if k not in ("format", "quality")}
            return facts(source, **asked).status, "", None
        os.replace(temporary, target)
        return "done", "", (rect.x, rect.y, rect.width, rect.height)
    except SaveError as error:
        return "save_failed", str(error), None
    except LoadError as error:
        return "load_failed", str(error), None
    except (Error, MemoryError, ValueError) as error:
        return "failed", str(error), None
    finally:
        if os.path.exists(temporary):
            os.remove(temporary)


def _progress(total: int, show: Optional[bool]) -> Any:
    if show is False or (show is None and not sys.stderr.isatty()):
        return None
    try:
        from tqdm import tqdm  # Debian python3-tqdm
    except ImportError:
        return None
    return tqdm(total=total, unit="picture")


def crop_folder(photos: Folder, faces: Folder, *, jobs: Optional[int] = None,
                resume: bool = False, report: Union[Folder, IO[str], None] = None,
                progress: Optional[bool] = None, format: Optional[str] = None,
                **options: Any) -> Summary:
    """Writes the face of every picture below ``photos`` under ``faces`` at the same place
    (``photos/2019/a.jpg`` gives ``faces/2019/a.jpg``, or ``a.png`` with ``format="png"``), on
    ``jobs`` threads (default: the cores). ``options`` are ``extract``'s (``margin``, ``aspect``,
    ``size``, ``quality``, ``orient``, ``verify``, ``frame``). With ``resume``, pictures whose
    crop exists are skipped. ``report`` (a path or a text file) gets one JSON line per picture as
    ``bmpface batch --report`` writes them: path, status (done, no_face, unverified, load_failed,
    save_failed, skipped), the rectangle, output, error. A progress bar shows on a
    terminal where tqdm is installed (``progress=False`` hides it). Returns the counts."""
    sources: List[pathlib.Path] = list(pictures(photos))
    targets = []
    for source in sources:
        target = pathlib.Path(faces, source.relative_to(photos))
        targets.append(target.with_suffix("." + format) if format else target)
    bar = _progress(len(sources), progress)
    opened: Optional[IO[str]] = None
    lines: Optional[IO[str]]
    if isinstance(report, (str, os.PathLike)):
        opened = lines = open(report, "w", encoding="utf-8")
    else:
        lines = report
    counts = {"done": 0, "no_face": 0, "failed": 0, "skipped": 0}

    def run(pair: Tuple[pathlib.Path, pathlib.Path]) -> Outcome:
        if resume and pair[1].exists():
            return "skipped", "", None
        return _one(pair[0], pair[1], dict(options, format=format))

    try:
        with concurrent.futures.ThreadPoolExecutor(max_workers=jobs or os.cpu_count()) as pool:
            for (source, target), (word, reason, rect) in zip(
                    zip(sources, targets), pool.map(run, zip(sources, targets))):
                # Unverified pictures count with those without a face; load and save failures
                # as failed.
                counts[word if word in counts else "no_face" if word == "unverified" else
                       "failed"] += 1
                if reason:
                    print("bmpface: %s: %s" % (source, reason), file=sys.stderr)
                if lines is not None:  # as bmpface batch --report writes them
                    line: Dict[str, Any] = {"path": str(source), "status": word}
                    if rect is not None:
                        line.update(zip(("x", "y", "width", "height"), rect))
                    line["output"] = str(target) if word in ("done", "skipped") else None
                    if reason:
                        line["error"] = reason
                    lines.write(json.dumps(line, separators=(",", ":")) + "\n")
                if bar is not None:
                    bar.update()
    finally:
        if bar is not None:
            bar.close()
        if opened is not None:
            opened.close()
    return Summary(counts["done"], counts["no_face"], counts["failed"], counts["skipped"])
