"""The two checks, the version, and how the tests find the shared library."""

import os
import re

import pytest

import qav
import c_library as _library


class TestValidateProfile:
    def test_accepted_profile(self):
        assert qav.validate_profile([0.0, 50.0, 100.0], [-5.0, -3.0, -1.0]) == (0, "")

    def test_repeated_x_is_refused(self):
        assert qav.validate_profile([0.0, 10.0, 10.0], [-2.0, -1.0, 0.0]) == (-1, "x-values not increasing")

    def test_example_profile_is_accepted(self, example):
        assert qav.validate_profile(example["profile_x"], example["profile_z"]) == (0, "")


class TestValidateSeries:
    def test_acceptable_series(self):
        assert qav.validate_series([1.0, 2.0], [5.0, 7.0], [0.0, 1.0], [270.0, 260.0]) == (0, "")

    def test_calm_step(self):
        assert qav.validate_series([1.0, 0.0], [5.0, 5.0], [0.0, 0.0], [0.0, 0.0]) == (1, "Hm0 is (almost) zero")

    def test_negative_hm0_is_refused(self):
        assert qav.validate_series([1.0, -1.0], [5.0, 5.0], [0.0, 0.0], [0.0, 0.0]) == (-1, "Hm0 is negative")

    def test_empty_series_is_accepted(self):
        assert qav.validate_series([], [], [], []) == (0, "")

    def test_invalid_marker_is_passed_on(self):
        # -999 in Tp is a missing value only when -999 is the marker.
        with_marker = qav.validate_series([1.0], [-999.0], [0.0], [0.0], invalid_value=-999.0)
        other_marker = qav.validate_series([1.0], [-999.0], [0.0], [0.0], invalid_value=-1.0)
        assert with_marker[0] == -1 and other_marker[0] == -1
        assert with_marker[1] != other_marker[1]


def test_version_is_the_project_version():
    expected = os.environ.get("QAV_EXPECTED_VERSION")
    text = qav.version()
    assert re.fullmatch(r"\d+\.\d+\.\d+\.\d+", text)
    if expected:
        assert text == expected


class TestLocate:
    def test_environment_variable_wins(self, tmp_path):
        library = tmp_path / "elsewhere.so"
        library.write_bytes(b"")
        beside = tmp_path / "qav"
        beside.mkdir()
        (beside / _library.LIBRARY_NAME).write_bytes(b"")
        assert _library.locate({"QAV_LIBRARY": str(library)}, beside) == library

    def test_environment_variable_naming_no_file_is_an_error(self, tmp_path):
        missing = tmp_path / "nothing.so"
        with pytest.raises(_library.LibraryNotFoundError, match=re.escape(str(missing))):
            _library.locate({"QAV_LIBRARY": str(missing)}, tmp_path)

    def test_beside_the_package(self, tmp_path):
        package = tmp_path / "qav"
        package.mkdir()
        (package / _library.LIBRARY_NAME).write_bytes(b"")
        assert _library.locate({}, package) == package / _library.LIBRARY_NAME

    def test_installed_prefix(self, tmp_path):
        package = tmp_path / "share" / "qav" / "python" / "qav"
        package.mkdir(parents=True)
        (tmp_path / "lib").mkdir()
        (tmp_path / "lib" / _library.LIBRARY_NAME).write_bytes(b"")
        assert _library.locate({}, package) == tmp_path / "lib" / _library.LIBRARY_NAME

    def test_build_tree_prefers_release(self, tmp_path):
        package = tmp_path / "python" / "qav"
        package.mkdir(parents=True)
        for preset in ("asan-ubsan", "release"):
            (tmp_path / "build" / preset).mkdir(parents=True)
            (tmp_path / "build" / preset / _library.LIBRARY_NAME).write_bytes(b"")
        assert _library.locate({}, package) == tmp_path / "build" / "release" / _library.LIBRARY_NAME

    def test_nothing_found_lists_the_places_searched(self, tmp_path):
        package = tmp_path / "python" / "qav"
        package.mkdir(parents=True)
        with pytest.raises(_library.LibraryNotFoundError, match="QAV_LIBRARY") as error:
            _library.locate({}, package)
        assert str(package / _library.LIBRARY_NAME) in str(error.value)


def test_package_imported_from_the_sources_uses_a_build_of_the_checkout():
    # As the README of earlier versions had it: python/ on sys.path.
    import subprocess
    import sys
    from conftest import REPOSITORY
    code = ("import sys; sys.path.insert(0, 'python'); import qav; "
            "print(qav.library_path()); print(qav.run([0.0, 100.0], [-5.0, -1.0], [1.0], [5.0], [0.0], [0.0], dike_normal=0.0).code)")
    environment = {k: v for k, v in os.environ.items() if k != "PYTHONPATH"}
    done = subprocess.run([sys.executable, "-c", code], cwd=REPOSITORY, env=environment, capture_output=True,
                          text=True)
    assert done.returncode == 0, done.stderr
    path, code_line = done.stdout.splitlines()
    assert path.startswith(str(REPOSITORY / "build")) and "/python/qav/_qav" in path
    assert code_line == "0"
