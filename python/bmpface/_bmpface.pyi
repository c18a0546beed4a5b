# The compiled part of the bmpface package (python/_bmpface.cpp); use the functions of bmpface.
from typing import Any, List, Optional, Tuple

import numpy as np
import numpy.typing as npt

__version__: str
OK: int
LOAD_FAILED: int
NO_FACE: int
EXTRACT_FAILED: int
SAVE_FAILED: int
HAVE_VIPS: bool
PATH: int
CONTENTS: int
ARRAY: int
CANDIDATE_TESTS: int

class LoadFailure(OSError): ...
class SaveFailure(OSError): ...

class Options:
    def __init__(self, orient: bool = ..., margin: float = ..., aspect: str = ..., size: str = ...,
                 format: str = ..., quality: int = ..., verify: bool = ...,
                 frame: str = ...) -> None: ...

_Rect = Tuple[int, int, int, int]

def support() -> str: ...
def detect(source: Any, kind: int, bgr: bool, options: Options) -> Optional[_Rect]: ...
def crop(source: Any, kind: int, bgr: bool,
         options: Options) -> Optional[Tuple[npt.NDArray[np.uint8], bool]]: ...
def extract(source: Any, kind: int, bgr: bool, options: Options,
            output: bytes) -> Optional[_Rect]: ...
def facts(source: Any, kind: int, bgr: bool, options: Options) -> Tuple[
    str, Optional[_Rect], Optional[_Rect], int, float, float, float, int, float, Optional[bool],
    Optional[_Rect]]: ...
def regions(source: Any, kind: int, bgr: bool,
            options: Options) -> List[Tuple[int, int, int, int, int, int, float, bool]]: ...
def test_words(test: int) -> str: ...
