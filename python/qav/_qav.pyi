# The compiled module qav._qav (python/module/qav_module.cpp): the model's
# driver for the functions of qav, which are the ones to call.
from typing import Any, Callable, Optional, Sequence

import numpy as np
import numpy.typing as npt

DAM_TYPES: dict[str, int]
STATUS_NAMES: tuple[str, ...]
FAILED_STATUS_NAMES: tuple[str, ...]
MESSAGE_LENGTH: int

class InputError(ValueError): ...

def run(profile_x: npt.ArrayLike, profile_z: npt.ArrayLike, hm0: npt.ArrayLike, tp: npt.ArrayLike,
        wlev: npt.ArrayLike, angle: npt.ArrayLike, dike_normal: float, dam_type: int | str, dam_height: float,
        ag: float, rho: float, alpha: float, fc: float, ratio_depth: float, min_step_size: float,
        invalid_value: float, log_file: Optional[bytes], threads: Optional[int],
        progress: Optional[Callable[[int, int], Any]], /) -> Any: ...
def set_run_result(type: type, pandas_index: Callable[..., Any]) -> None: ...
def toe_block(x: np.ndarray, z: np.ndarray, hm0: np.ndarray, tp: np.ndarray, wlev: np.ndarray,
              angle: np.ndarray, settings: np.ndarray, threads: Optional[int],
              progress: Optional[Callable[[int, int], Any]]) -> np.ndarray: ...
def transect(profile_x: npt.ArrayLike, profile_z: npt.ArrayLike, hm0: float, tp: float, wlev: float,
             angle: float, dike_normal: float, dam_type: int | str, dam_height: float, ag: float, rho: float,
             alpha: float, fc: float, ratio_depth: float, min_step_size: float, invalid_value: float,
             /) -> tuple[int, str, str, float, float, float, bool, np.ndarray]: ...
def validate_profile(x: npt.ArrayLike, z: npt.ArrayLike, /) -> tuple[int, str]: ...
def validate_series(hm0: npt.ArrayLike, tp: npt.ArrayLike, wlev: npt.ArrayLike, angle: npt.ArrayLike,
                    invalid_value: float, /) -> tuple[int, str]: ...
def read_profile(path: bytes, separator: int, decimal: int, columns: Sequence[tuple[str, str]],
                 /) -> tuple[np.ndarray, np.ndarray]: ...
def read_series(path: bytes, separator: int, decimal: int, columns: Sequence[tuple[str, str]],
                missing_as_invalid: bool, invalid_value: float,
                /) -> tuple[np.ndarray, np.ndarray, np.ndarray, np.ndarray]: ...
def version() -> str: ...
def march_path() -> str: ...
