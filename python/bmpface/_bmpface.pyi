# The compiled part of the bmpface package (python/_bmpface.cpp); use the functions of bmpface.
from typing import List, Optional, Tuple, Union

import numpy as np

OK: int
LOAD_FAILED: int
NO_FACE: int
EXTRACT_FAILED: int
SAVE_FAILED: int

_Source = Union[bytes, np.ndarray]

def extract(input: bytes, output: bytes) -> int: ...
def detect(source: _Source, bgr: bool) -> Optional[Tuple[int, int, int, int]]: ...
def crop(source: _Source, bgr: bool) -> Optional[np.ndarray]: ...
def regions(
    source: _Source, bgr: bool
) -> List[Tuple[int, int, int, int, int, int, float, bool]]: ...
