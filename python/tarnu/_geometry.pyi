# Type stubs of tarnu._geometry, the native core of tarnu.geometry (which
# documents the arguments).
import numpy as np
from numpy.typing import NDArray

_Doubles = NDArray[np.float64]
_Offsets = tuple[NDArray[np.int64] | None, ...]

def length(lat: _Doubles, lon: _Doubles, offsets: _Offsets, xy: bool, /) -> _Doubles: ...
def area_perimeter(
    lat: _Doubles, lon: _Doubles, offsets: _Offsets, xy: bool, rule: int, area: bool,
    perimeter: bool, /,
) -> tuple[_Doubles | None, _Doubles | None]: ...
def densify(
    lat: _Doubles, lon: _Doubles, offsets: _Offsets, xy: bool, rings: bool, max_segment: float,
    pieces: int, /,
) -> tuple[_Doubles | tuple[_Doubles, _Doubles], NDArray[np.int64]]: ...
