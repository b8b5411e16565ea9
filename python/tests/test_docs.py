"""The Python examples of the README and of docs/python.md run as written, and so do the two
example scripts."""

import contextlib
import io
import os
import re
import subprocess
import sys
from pathlib import Path

import pytest

import qav
from conftest import REPOSITORY

PACKAGE_ROOT = str(Path(qav.__file__).resolve().parents[1])


def python_blocks(page):
    return re.findall(r"```python\n(.*?)```", (REPOSITORY / page).read_text(), re.S)


@pytest.fixture
def in_scratch_folder(tmp_path, monkeypatch):
    # The pages run from the root of the repository; here their examples are
    # reached through a link, and their output files land in a scratch folder.
    (tmp_path / "examples").symlink_to(REPOSITORY / "examples")
    monkeypatch.chdir(tmp_path)
    # Dask's worker processes find the package on PYTHONPATH.
    monkeypatch.setenv("PYTHONPATH", os.pathsep.join(p for p in (PACKAGE_ROOT, os.environ.get("PYTHONPATH")) if p))
    return tmp_path


def run_blocks(page, count):
    blocks = python_blocks(page)
    assert len(blocks) == count
    namespace = {"__name__": "docs"}
    for number, block in enumerate(blocks, 1):
        out = io.StringIO()
        with contextlib.redirect_stdout(out):
            exec(compile(block, f"{page} python block {number}", "exec"), namespace)
        assert out.getvalue(), number
        # "# text" right below a print: the text it prints.
        lines = block.splitlines()
        for line, next_line in zip(lines, lines[1:]):
            if line.startswith("print(") and next_line.startswith("# "):
                assert next_line[2:] in out.getvalue(), (page, number, out.getvalue())


def test_readme_python_block(in_scratch_folder):
    run_blocks("README.md", 1)


def test_python_page_blocks(in_scratch_folder):
    run_blocks("docs/python.md", 5)  # the basics, pandas, xarray, Dask, OpenTURNS
    assert (in_scratch_folder / "toe.nc").exists()


def run_example(name, *arguments, cwd):
    environment = dict(os.environ, PYTHONPATH=PACKAGE_ROOT)
    done = subprocess.run([sys.executable, str(REPOSITORY / "examples" / name), *arguments], cwd=cwd,
                          env=environment, capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stderr
    return done.stdout


def test_dask_example(tmp_path):
    out = run_example("dask_sections.py", "--sections", "8", "--steps", "100", "--chunk-sections", "2",
                      cwd=tmp_path)
    assert re.search(r"^8 sections x 100 steps -> toe\.nc: \d+ angle outside range, \d+ computed", out)
    assert (tmp_path / "toe.nc").exists()


def test_probability_example(tmp_path):
    out = run_example("probability.py", cwd=tmp_path)
    monte_carlo = re.search(r"Monte Carlo: P\(Hm0 toe > 2\.0 m\) = ([\d.e-]+) .*, (\d+) model evaluations", out)
    form = re.search(r"FORM: P\(Hm0 toe > 2\.0 m\) = ([\d.e-]+) .*, (\d+) model evaluations", out)
    assert monte_carlo and form, out
    # Monte Carlo runs whole blocks of 10^4 points; FORM needs far fewer.
    assert int(monte_carlo.group(2)) % 10_000 == 0
    assert 0 < int(form.group(2)) < 1000
    # The two estimates agree within a factor of two.
    assert 0.5 < float(form.group(1)) / float(monte_carlo.group(1)) < 2.0
