"""The model as an OpenTURNS function, for probabilistic runs.

    >>> import openturns as ot, qav
    >>> model = qav.openturns.function(qav.read_profile("examples/profile.csv"), dike_normal=270.0)
    >>> model.getInputDescription(), model.getOutputDescription()
    ([hm0,tp,wlev,angle], [hm0_toe,tp_toe,angle_toe])
    >>> model(ot.Sample([[2.0, 7.0, 1.0, 260.0], [3.0, 9.0, 2.0, 250.0]]))

A sample is evaluated in one call of the model (its points are the time
steps of one run), so Monte Carlo in blocks of 10^4 points costs one call per
block.

A point the model refuses (a negative Hm0 drawn from a normal distribution,
say) raises a ValueError naming the point, by default. OpenTURNS' simulation
algorithms count an output of NaN as a failure event, so keeping NaN
(refused="nan") biases a probability upwards by the share of refused points:
truncate the input distribution to what the model accepts instead. Calm
points and waves from behind the dike give 0 at the toe: real answers. The function pickles (OpenTURNS' n_cpus, multiprocessing, Dask): it
carries the profile and the parameters, and each process loads the compiled
module itself.
"""

from __future__ import annotations

from typing import Optional, Sequence, Union

import numpy as np
import openturns as ot

from . import FAILED_STATUS_NAMES, _ProgressBar, run

__all__ = ["function", "INPUT_NAMES", "OUTPUT_NAMES"]

#: The inputs of the function, in order: Hm0 (m), Tp (s), water level (m), direction (deg).
INPUT_NAMES = ("hm0", "tp", "wlev", "angle")
#: The outputs it can give: Hm0 (m), Tp (s) and direction (deg) at the toe.
OUTPUT_NAMES = ("hm0_toe", "tp_toe", "angle_toe")


class ToeModel:
    """The model over a sample of offshore conditions for one profile: a
    picklable callable, from an (N, 4) array-like of hm0, tp, wlev, angle to
    an (N, len(outputs)) array. A refused or failed step raises ValueError
    (refused="error") or gives NaN (refused="nan")."""

    def __init__(self, x, z, outputs: Sequence[str], run_arguments: dict, progress: bool = False,
                 refused: str = "error"):
        self.x = np.ascontiguousarray(x, dtype=np.float64)
        self.z = np.ascontiguousarray(z, dtype=np.float64)
        self.outputs = tuple(outputs)
        self.run_arguments = dict(run_arguments)
        self.refused = refused
        self.progress = progress
        self.points = 0
        self.bar = None

    def __getstate__(self) -> dict:
        # The bar stays with the process that shows it.
        return {**self.__dict__, "bar": None}

    def __call__(self, sample) -> np.ndarray:
        points = np.asarray(sample, dtype=np.float64).reshape(-1, len(INPUT_NAMES))
        result = run(self.x, self.z, points[:, 0], points[:, 1], points[:, 2], points[:, 3],
                     **self.run_arguments)
        if self.progress:
            # The points evaluated so far: Monte Carlo's blocks add up, their number unknown.
            self.bar = self.bar or _ProgressBar("qav.openturns", unit="point")
            self.points += len(points)
            self.bar(self.points, None)
        failed = np.isin(result.status, FAILED_STATUS_NAMES)
        if self.refused == "error" and failed.any():
            i = int(np.argmax(failed))
            values = ", ".join(f"{name}={points[i, k]!r}" for k, name in enumerate(INPUT_NAMES))
            raise ValueError(f"the model refuses point {i} of the sample ({values}): {result.messages[i]}; "
                             f"{int(failed.sum())} of {len(failed)} points refused. OpenTURNS would count a "
                             "NaN as a failure event: truncate the input distribution to what the model "
                             "accepts, or pass refused='nan' to get NaN")
        columns = [np.where(failed, np.nan, getattr(result, name)) for name in self.outputs]
        return np.column_stack(columns)


def function(profile, *, dike_normal: float, dam_type: Union[int, str] = 0,
             dam_height: Optional[float] = None, outputs: Sequence[str] = OUTPUT_NAMES, ag: float = 9.81,
             rho: float = 1025.0, alpha: float = 1.0, fc: float = 0.01, ratio_depth: float = 0.5,
             min_step_size: float = 1.0, cache_size: Optional[int] = None,
             n_cpus: Optional[int] = None, threads: Optional[int] = None,
             progress: bool = False, refused: str = "error") -> ot.Function:
    """The model at one profile as an OpenTURNS function.

    profile      the foreshore: a pair (x, z) of arrays (m), or what
                 qav.read_profile returns
    dike_normal  direction of the dike normal (deg); required
    dam_type, dam_height, ag, rho, alpha, fc, ratio_depth, min_step_size
                 as in qav.run
    outputs      which of OUTPUT_NAMES the function gives, in that order
    cache_size   when set, the function remembers the last cache_size points it
                 evaluated (ot.MemoizeFunction) and gives them again without
                 running the model; None: no memory
    n_cpus       when set, samples are split over this many processes
                 (OpenTURNS' multiprocessing); None: this process
    threads      threads of each call of the model (the results do not depend on it);
                 None: every core, or one when the samples are split over n_cpus processes
    progress     True: a running count of the points evaluated (tqdm when installed),
                 one block of a Monte Carlo simulation after another
    refused      "error" (default): a point the model refuses or fails raises a
                 ValueError naming the first such point of the sample (its index and
                 values) and the library's reason. "nan": such a point gives NaN,
                 which OpenTURNS' simulation algorithms (ProbabilitySimulationAlgorithm,
                 Monte Carlo, FORM's sampling) count as a failure event: the
                 probability then includes every refused point

    Returns an ot.Function with the inputs INPUT_NAMES (hm0 in m, tp in s,
    wlev in m, angle in deg) and the outputs asked for (m, s, deg). A whole
    sample is evaluated in one call of the model; for a point the model
    refuses or fails, see refused. Calm points and waves from behind the dike
    give 0 at the toe. Its getCallsNumber() counts the points the model ran.
    Raises ValueError on an unknown output, a profile the model refuses, or
    misuse of an argument.
    """
    if hasattr(profile, "x") and hasattr(profile, "z"):
        x, z = profile.x, profile.z
    else:
        x, z = profile
    unknown = [name for name in outputs if name not in OUTPUT_NAMES]
    if unknown or not outputs:
        raise ValueError(f"outputs must be some of {OUTPUT_NAMES}, got {list(outputs)}")
    if cache_size is not None and (isinstance(cache_size, bool) or int(cache_size) != cache_size
                                   or cache_size < 1):
        raise ValueError(f"cache_size must be a whole number of 1 or more, got {cache_size!r}")
    if refused not in ("error", "nan"):
        raise ValueError(f"refused must be 'error' or 'nan', got {refused!r}")
    arguments = dict(dike_normal=dike_normal, dam_type=dam_type, dam_height=dam_height, ag=ag, rho=rho,
                     alpha=alpha, fc=fc, ratio_depth=ratio_depth, min_step_size=min_step_size,
                     threads=threads)
    if threads is None and n_cpus is not None:
        arguments["threads"] = 1
    model = ToeModel(x, z, outputs, arguments, progress=bool(progress), refused=refused)
    # Misuse shows now, not in the middle of an analysis: one calm step runs
    # every check of the set-up and of the arguments.
    check = run(model.x, model.z, [0.0], [1.0], [0.0], [0.0], **arguments)
    if check.status[0] == "refused set-up":
        raise ValueError(f"the model refuses this set-up: {check.message}")

    result = ot.PythonFunction(len(INPUT_NAMES), len(outputs), func_sample=model, n_cpus=n_cpus)
    result.setInputDescription(list(INPUT_NAMES))
    result.setOutputDescription(list(outputs))
    if cache_size is None:
        return result
    # MemoizeFunction takes its size from the resource map when it is made.
    previous = ot.ResourceMap.GetAsUnsignedInteger("Cache-MaxSize")
    ot.ResourceMap.SetAsUnsignedInteger("Cache-MaxSize", int(cache_size))
    try:
        memoized = ot.MemoizeFunction(result)
    finally:
        ot.ResourceMap.SetAsUnsignedInteger("Cache-MaxSize", previous)
    return memoized
