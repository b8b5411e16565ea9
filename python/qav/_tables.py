"""The CSV files of the command-line program `qav`, read by its own reader."""

from __future__ import annotations

import os
from typing import NamedTuple

import numpy as np

from . import _qav

#: A file that cannot be used: the text names the file, line and column, as `qav` does
#: ("series.csv:3:3: '5x' in column 'tp' is not a number"). A ValueError.
InputError = _qav.InputError


class Profile(NamedTuple):
    """A foreshore profile: x (m, increasing towards the dike) and z (m, bottom level)."""
    x: np.ndarray
    z: np.ndarray

    def to_frame(self):
        """The profile as a pandas DataFrame with the columns x and z (m)."""
        import pandas as pd
        return pd.DataFrame({"x": self.x, "z": self.z})


class Series(NamedTuple):
    """Offshore conditions per time step: hm0 (m), tp (s), wlev (m), angle (deg)."""
    hm0: np.ndarray
    tp: np.ndarray
    wlev: np.ndarray
    angle: np.ndarray

    def to_frame(self):
        """The series as a pandas DataFrame with the columns hm0 (m), tp (s), wlev (m), angle (deg)."""
        import pandas as pd
        return pd.DataFrame(self._asdict())


def read_profile(path: str | os.PathLike) -> Profile:
    """Reads a profile file as `qav run --profile` does.

    A header row names the columns x and z (any order, case and surrounding
    blanks ignored, further columns allowed), then one row of numbers per
    line; '#' comment lines and blank lines are skipped. Returns a Profile
    (x, z: float64 arrays, m). Raises InputError naming the file, line and
    column of the first fault.
    """
    return Profile(*_qav.read_table(os.fsencode(path), ["x", "z"]))


def read_series(path: str | os.PathLike) -> Series:
    """Reads a series file as `qav run --series` does: the columns hm0 (m), tp (s),
    wlev (m) and angle (deg), one row per time step, by the rules of read_profile.
    Returns a Series of float64 arrays; raises InputError on the first fault."""
    return Series(*_qav.read_table(os.fsencode(path), ["hm0", "tp", "wlev", "angle"]))
