"""Shared fixtures: the package of this checkout's build, the shared library's C
entries through ctypes with prototypes of their own, and the bundled example case."""

import ctypes
import sys
from pathlib import Path

import numpy as np
import pytest

TESTS_DIR = Path(__file__).resolve().parent
REPOSITORY = TESTS_DIR.parents[1]
# CTest puts the build's package on PYTHONPATH; by hand, the release build's.
try:
    import qav  # noqa: F401
except ImportError:
    sys.path.insert(0, str(REPOSITORY / "build" / "release" / "python"))
    import qav  # noqa: F401

import c_library  # noqa: E402


@pytest.fixture(scope="session")
def example():
    """The bundled foreshore and storm series, with a dike normal of 270 deg."""
    x, z = np.loadtxt(REPOSITORY / "examples" / "profile.csv", delimiter=",", skiprows=3, unpack=True)
    hm0, tp, wlev, angle = np.loadtxt(REPOSITORY / "examples" / "series.csv", delimiter=",", skiprows=3,
                                      unpack=True)
    return dict(profile_x=x, profile_z=z, hm0=hm0, tp=tp, wlev=wlev, angle=angle, dike_normal=270.0)


class Entries:
    """The two main entries called straight through ctypes, with prototypes
    written here from the C header rather than taken from the package."""

    def __init__(self, path):
        self.path = path
        lib = ctypes.CDLL(str(path))
        i, d, c, n = (ctypes.POINTER(ctypes.c_int), ctypes.POINTER(ctypes.c_double), ctypes.c_char_p,
                      ctypes.c_int64)
        self.fortran = lib.FORTRANENTRY_ROLLERMODEL5
        self.fortran.argtypes = [i, d, d, i, d, d, d, d, d, i, d, d, i, c, d, d, d, c, n, n]
        self.fortran.restype = ctypes.c_int
        self.c = lib.C_FORTRANENTRY_RollerModel5
        self.c.argtypes = [i, d, d, d, d, i, d, d, d, d, d, i, d, d, d, d, i, c, n, d, d, d, d, d, c]
        self.c.restype = ctypes.c_int

    @staticmethod
    def _arguments(profile_x, profile_z, hm0, tp, wlev, angle, dike_normal=0.0, dam_type=0,
                   dam_height=0.0, ag=9.81, rho=1025.0, alpha=1.0, fc=0.01, ratio_depth=0.5,
                   min_step_size=1.0, invalid_value=-999.0):
        arrays = [np.array(a, dtype=np.float64) for a in (profile_x, profile_z, hm0, tp, wlev, angle)]
        n = len(arrays[2])
        outputs = [np.full(n, 12345.0) for _ in range(3)]
        return arrays, outputs, n, dict(dam_type=dam_type, dam_height=dam_height, ag=ag, rho=rho,
                                        alpha=alpha, fc=fc, ratio_depth=ratio_depth,
                                        min_step_size=min_step_size, invalid_value=invalid_value,
                                        dike_normal=dike_normal)

    def run_fortran(self, **kwargs):
        """FORTRANENTRY_ROLLERMODEL5: (hm0_toe, tp_toe, angle_toe, code, message)."""
        (x, z, hm0, tp, wlev, angle), out, n, s = self._arguments(**kwargs)
        p = np.array([s["ag"], s["rho"], s["alpha"], s["fc"], s["ratio_depth"], s["invalid_value"],
                      s["min_step_size"]])
        ref = lambda v, t=ctypes.c_double: ctypes.byref(t(v))  # noqa: E731
        ptr = lambda a: a.ctypes.data_as(ctypes.POINTER(ctypes.c_double))  # noqa: E731
        message = ctypes.create_string_buffer(1000)
        code = self.fortran(ref(s["dam_type"], ctypes.c_int), ref(s["dam_height"]), ptr(p),
                            ref(n, ctypes.c_int), ptr(hm0), ptr(tp), ptr(wlev), ptr(angle),
                            ref(s["dike_normal"]), ref(len(x), ctypes.c_int), ptr(x), ptr(z),
                            ref(0, ctypes.c_int), b" ", ptr(out[0]), ptr(out[1]), ptr(out[2]), message,
                            1, 1000)
        return (*out, code, message.raw[:1000].decode("latin-1").rstrip(" "))

    def run_c(self, **kwargs):
        """C_FORTRANENTRY_RollerModel5: (hm0_toe, tp_toe, angle_toe, code, message)."""
        (x, z, hm0, tp, wlev, angle), out, n, s = self._arguments(**kwargs)
        ref = lambda v, t=ctypes.c_double: ctypes.byref(t(v))  # noqa: E731
        ptr = lambda a: a.ctypes.data_as(ctypes.POINTER(ctypes.c_double))  # noqa: E731
        message = ctypes.create_string_buffer(1000)
        code = self.c(ref(s["dam_type"], ctypes.c_int), ref(s["dam_height"]), ref(s["alpha"]),
                      ref(s["fc"]), ref(s["invalid_value"]), ref(n, ctypes.c_int), ptr(hm0), ptr(tp),
                      ptr(wlev), ptr(angle), ref(s["dike_normal"]), ref(len(x), ctypes.c_int), ptr(x),
                      ref(s["min_step_size"]), ptr(z), ref(s["ratio_depth"]), ref(0, ctypes.c_int), b" ",
                      1, ref(s["ag"]), ref(s["rho"]), ptr(out[0]), ptr(out[1]), ptr(out[2]), message)
        return (*out, code, message.value.decode("latin-1"))


@pytest.fixture(scope="session")
def entries():
    return Entries(c_library.locate())
