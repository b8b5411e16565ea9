"""qav.xr: sections x time steps from CF-named loads, eager and lazy, through NetCDF."""

import numpy as np
import pytest
import xarray as xr

import qav
import qav.xr

SECTIONS = 3


def make_profiles(example, sections=SECTIONS):
    """The example profile per section, the last one without its final two
    points (padded with NaN), each with its own normal and dam."""
    x, z = example["profile_x"], example["profile_z"]
    xs = np.tile(x, (sections, 1))
    zs = np.tile(z, (sections, 1)) + np.arange(sections)[:, None] * 0.25
    xs[-1, -2:] = np.nan
    zs[-1, -2:] = np.nan
    return xr.Dataset(
        {"x": (("section", "point"), xs, {"units": "m"}),
         "z": (("section", "point"), zs, {"units": "m"}),
         "dike_normal": ("section", 270.0 - 10.0 * np.arange(sections), {"units": "degree"}),
         "dam_type": ("section", [["dam", "none", "wall"][k % 3] for k in range(sections)]),
         "dam_height": ("section", [[-1.0, 0.0, 0.5][k % 3] for k in range(sections)])},
        coords={"section": [f"dike {k}" for k in range(sections)]})


def make_loads(example, sections=SECTIONS):
    hours = len(example["hm0"])
    scale = 1.0 + 0.1 * np.arange(sections)[:, None]
    variables = {}
    for key, standard_name, units in [("hm0", "sea_surface_wave_significant_height", "m"),
                                      ("tp", "sea_surface_wave_period_at_variance_spectral_density_maximum", "s"),
                                      ("wlev", "sea_surface_height", "m"),
                                      ("angle", "sea_surface_wave_from_direction", "degree")]:
        values = np.tile(example[key], (sections, 1))
        if key == "hm0":
            values = values * scale
        if key == "tp":
            values[:, 5] = -1.0  # a step the model refuses
        # Names of the data's own; the standard names tell what they are.
        variables[f"{key}_offshore"] = (("section", "time"), values,
                                        {"standard_name": standard_name, "units": units})
    return xr.Dataset(variables, coords={"time": np.arange(hours) * np.timedelta64(1, "h") +
                                         np.datetime64("2024-01-01T00")})


def serial(loads, profiles):
    """Each section with qav.run, as a user would write it by hand."""
    rows = []
    for s in range(profiles.sizes["section"]):
        keep = ~np.isnan(profiles.x[s].values)
        rows.append(qav.run(profiles.x[s].values[keep], profiles.z[s].values[keep],
                            loads.hm0_offshore[s].values, loads.tp_offshore[s].values,
                            loads.wlev_offshore[s].values, loads.angle_offshore[s].values,
                            dike_normal=float(profiles.dike_normal[s]), dam_type=str(profiles.dam_type[s].values),
                            dam_height=None if str(profiles.dam_type[s].values) == "none"
                            else float(profiles.dam_height[s])))
    return rows


def assert_equals_serial(toe, rows):
    for s, row in enumerate(rows):
        failed = np.isin(row.status, qav.FAILED_STATUS_NAMES)
        assert failed.any()  # the NaN rule below is exercised
        expected = np.where(failed, np.nan, row.hm0_toe)
        assert toe.hm0_toe[s].values.tobytes() == expected.tobytes(), s
        assert toe.angle_toe[s].values.tobytes() == np.where(failed, np.nan, row.angle_toe).tobytes(), s
        assert [qav.STATUS_NAMES[code] for code in toe.status[s].values] == list(row.status), s
        assert toe.flags[s].values.tobytes() == row.flags.tobytes(), s


def test_eager_equals_each_section_run_alone(example):
    loads, profiles = make_loads(example), make_profiles(example)
    heard = []
    toe = qav.xr.toe_conditions(loads, profiles, progress=lambda done, total: heard.append((done, total)))
    assert heard[-1] == (toe.hm0_toe.size,) * 2
    assert toe.hm0_toe.dims == ("section", "time")
    assert (toe.time == loads.time).all() and list(toe.section.values) == list(profiles.section.values)
    assert toe.hm0_toe.attrs["standard_name"] == "sea_surface_wave_significant_height"
    assert (toe.hm0_toe.attrs["units"], toe.tp_toe.attrs["units"], toe.angle_toe.attrs["units"]) == \
           ("m", "s", "degree")
    assert_equals_serial(toe, serial(loads, profiles))


def test_lazy_over_dask_through_netcdf(example, tmp_path):
    loads, profiles = make_loads(example), make_profiles(example)
    loads.to_netcdf(tmp_path / "loads.nc")
    profiles.to_netcdf(tmp_path / "profiles.nc")
    with xr.open_dataset(tmp_path / "loads.nc", chunks={"section": 1, "time": 10}) as lazy_loads, \
            xr.open_dataset(tmp_path / "profiles.nc") as stored_profiles:
        toe = qav.xr.toe_conditions(lazy_loads, stored_profiles)
        # Nothing has run: one task per chunk waits in the graph.
        assert toe.hm0_toe.chunks == ((1, 1, 1), (10, 10, 3))
        toe.to_netcdf(tmp_path / "toe.nc")
    with xr.open_dataset(tmp_path / "toe.nc") as stored:
        assert stored.hm0_toe.attrs["standard_name"] == "sea_surface_wave_significant_height"
        assert stored.attrs["Conventions"].startswith("CF-")
        assert_equals_serial(stored, serial(loads, profiles))


def test_status_and_flags_are_cf_flags_and_findings_name_their_section(example):
    loads, profiles = make_loads(example), make_profiles(example)
    turned = profiles.assign(dike_normal=("section", [270.0, 90.0, 260.0]))
    with pytest.warns(qav.QavWarning, match=r"^section dike 1: .* is dike_normal 180 deg off") as said:
        toe = qav.xr.toe_conditions(loads, turned)
    assert len(said) == 1
    status = toe.status
    assert status.dtype == np.int8
    meanings = status.attrs["flag_meanings"].split()
    assert len(meanings) == len(status.attrs["flag_values"]) == len(qav.STATUS_NAMES)
    named = np.array(meanings)[status.values]
    assert (named[1] == "angle_outside_range").sum() == (toe.flags[1].values == 8).sum() >= 20
    assert list(toe.flags.attrs["flag_masks"]) == [1, 2, 4, 8]
    assert toe.flags.attrs["flag_meanings"].split()[0] == "dry_toe"


def test_loads_shared_by_every_section(example):
    profiles = make_profiles(example)
    loads = make_loads(example, sections=1).isel(section=0, drop=True)
    toe = qav.xr.toe_conditions(loads, profiles)
    assert toe.hm0_toe.dims == ("section", "time") and toe.sizes["section"] == SECTIONS


def test_loads_of_some_sections_run_with_their_own_profiles(example):
    # Loads for two of the three sections, named by label and in another order:
    # the result holds those two, each the run of its own profile.
    loads, profiles = make_loads(example), make_profiles(example)
    rows = serial(loads, profiles)
    picked = loads.assign_coords(section=list(profiles.section.values)).isel(section=[2, 0])
    for toe in (qav.xr.toe_conditions(picked, profiles),
                qav.xr.toe_conditions(picked.chunk({"section": 1}), profiles).compute()):
        assert list(toe.section.values) == ["dike 2", "dike 0"]
        assert_equals_serial(toe, [rows[2], rows[0]])
    # A section without a profile, and unlabelled loads of another count, are named.
    with pytest.raises(ValueError, match=r"lack 1 of the loads' 2 sections: 'dike 9'"):
        qav.xr.toe_conditions(picked.assign_coords(section=["dike 9", "dike 0"]), profiles)
    with pytest.raises(ValueError, match="the loads have 2 sections and the profiles 3"):
        qav.xr.toe_conditions(loads.isel(section=[0, 1]), profiles)


def test_missing_or_wrong_inputs_are_named(example):
    loads, profiles = make_loads(example), make_profiles(example)
    with pytest.raises(ValueError, match="sea_surface_height"):
        qav.xr.toe_conditions(loads.drop_vars("wlev_offshore"), profiles)
    centimetres = loads.copy()
    centimetres["hm0_offshore"] = centimetres.hm0_offshore.assign_attrs(units="cm")
    with pytest.raises(ValueError, match="units 'cm'"):
        qav.xr.toe_conditions(centimetres, profiles)
    with pytest.raises(ValueError, match="dike_normal"):
        qav.xr.toe_conditions(loads, profiles.drop_vars("dike_normal"))
    with pytest.raises(ValueError, match="dam_height"):
        qav.xr.toe_conditions(loads, profiles.drop_vars("dam_height"))
    with pytest.raises(ValueError, match="dam_type"):
        qav.xr.toe_conditions(loads, profiles.assign(dam_type=("section", [3, 7, 0])))
    with pytest.raises(ValueError, match="dam_type"):
        qav.xr.toe_conditions(loads.chunk({"section": 1}), profiles.assign(dam_type=("section", [3, 0, -1]))).compute()
    # A code is whole, as qav.run takes it: 2.9 runs as no wall, NaN as no dam.
    for codes in ([3, 2.9, 0], [0.99, 0, 0], [3, 0, np.nan], [True, False, False]):
        with pytest.raises(ValueError, match="dam_type must be 0"):
            qav.xr.toe_conditions(loads, profiles.assign(dam_type=("section", codes)))
    whole = qav.xr.toe_conditions(loads, profiles.assign(dam_type=("section", [3.0, 0.0, 2.0])), threads=np.int64(2))
    codes = qav.xr.toe_conditions(loads, profiles.assign(dam_type=("section", [3, 0, 2])))
    assert whole.hm0_toe.values.tobytes() == codes.hm0_toe.values.tobytes()


def test_lazy_tasks_of_the_model_wait_for_nothing_and_any_chunks_give_the_serial_run(example):
    import dask
    loads, profiles = make_loads(example), make_profiles(example)
    rows = serial(loads, profiles)
    # Loads chunked by dask from numpy: a task of the model holds its numbers
    # and its sections' profiles, so it depends on no other task (no rechunk,
    # no transfer between workers before it can start).
    toe = qav.xr.toe_conditions(loads.chunk({"section": 2, "time": 7}), profiles)
    graph = dict(dask.base.collections_to_dsk([toe.hm0_toe.data], optimize_graph=True))
    model_tasks = [task for key, task in graph.items() if key[0].startswith("toe_block-")]
    assert len(model_tasks) == 2 * 4
    assert all(not dask.core.get_dependencies(graph, task=task) for task in model_tasks)
    assert_equals_serial(toe.compute(scheduler="sync"), rows)
    # Profiles dask-backed in other chunks, loads of mixed chunks and one numpy-backed.
    mixed = loads.chunk({"section": 1, "time": 10})
    mixed["tp_offshore"] = mixed.tp_offshore.chunk({"section": 3, "time": 5})
    mixed["wlev_offshore"] = loads.wlev_offshore
    toe = qav.xr.toe_conditions(mixed, profiles.chunk({"section": 2}))
    assert toe.hm0_toe.chunks is not None
    assert_equals_serial(toe.compute(scheduler="threads"), rows)


def test_loads_stored_time_first_in_single_precision_with_a_dimension_more(example):
    # As NetCDF files often hold them: (time, section), float32, and a
    # dimension of load cases; each case's table is the serial run's.
    loads, profiles = make_loads(example), make_profiles(example)
    cases = xr.concat([loads, loads], dim="case").astype(np.float32).transpose("time", "case", "section")
    rows = serial(loads.astype(np.float32).astype(np.float64), profiles)
    for toe in (qav.xr.toe_conditions(cases, profiles),
                qav.xr.toe_conditions(cases.chunk({"time": 10, "case": 1}), profiles).compute()):
        assert toe.hm0_toe.dims == ("section", "time", "case")
        for case in range(2):
            assert_equals_serial(toe.isel(case=case), rows)


def test_parameters_per_section_or_along_a_dimension_of_the_loads(example):
    loads, profiles = make_loads(example), make_profiles(example)
    loads = loads.assign_coords(section=profiles.section.values,
                                lon=("section", [4.1, 4.2, 4.3], {"standard_name": "longitude",
                                                                 "units": "degrees_east"}))
    # Friction per section, labelled in another order than the loads: paired by label.
    fc = xr.DataArray([0.03, 0.01, 0.02], dims="section", coords={"section": profiles.section.values[[2, 0, 1]]})
    toe = qav.xr.toe_conditions(loads, profiles, fc=fc, alpha=0.9)
    for s, label in enumerate(profiles.section.values):
        alone = qav.xr.toe_conditions(loads.isel(section=[s]), profiles.isel(section=[s]),
                                      fc=float(fc.sel(section=label)), alpha=0.9)
        assert toe.hm0_toe[s].values.tobytes() == alone.hm0_toe[0].values.tobytes(), label
    assert toe.lon.attrs == {"standard_name": "longitude", "units": "degrees_east"}
    assert (toe.fc.sel(section="dike 2") == 0.03) and toe.attrs["alpha"] == 0.9 and "fc" not in toe.attrs
    assert qav.version() in toe.attrs["source"] and qav.march_path() in toe.attrs["history"]

    # Along a dimension of the loads that is not section: one run per section and case.
    cases = loads.expand_dims(case=2)
    ratio_depth = xr.DataArray([0.5, 0.25], dims="case")
    expected = [qav.xr.toe_conditions(loads, profiles, ratio_depth=float(r)).hm0_toe for r in ratio_depth]
    for lazy in (False, True):
        both = qav.xr.toe_conditions(cases.chunk({"section": 2, "time": 10}) if lazy else cases, profiles,
                                     ratio_depth=ratio_depth)
        for c in range(2):
            got = both.hm0_toe.isel(case=c).transpose(*expected[c].dims).values
            assert got.tobytes() == expected[c].values.tobytes(), (lazy, c)
    assert not np.array_equal(expected[0].values, expected[1].values, equal_nan=True)


@pytest.mark.parametrize("value, words", [
    (np.full((3, 20000), 0.01), "fc must be a number or an xarray DataArray .* got ndarray of shape"),
    ("0.01", "fc must be a number or an xarray DataArray .* got str"),
    (xr.DataArray(np.zeros(2), dims="scenario"), "fc is a DataArray along .'scenario',.: .* 'scenario' is not one"),
    (xr.DataArray([0.01, 0.02], dims="section"), "the loads have 3 sections and fc 2"),
])
def test_a_wrong_parameter_is_a_short_error_naming_it(example, value, words):
    with pytest.raises(ValueError, match=words) as error:
        qav.xr.toe_conditions(make_loads(example), make_profiles(example), fc=value)
    assert len(str(error.value)) < 200
