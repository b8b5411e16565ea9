"""The package as installed: its version is the CMake project's, and its type stub
names what the compiled module holds."""

import ast
import inspect
import os
import sys
from importlib import metadata
from pathlib import Path

import pytest

import qav

PACKAGE = Path(qav.__file__).resolve().parent


def test_version_is_the_projects():
    assert qav.__version__ == qav.version()
    if "QAV_EXPECTED_VERSION" in os.environ:
        assert qav.__version__ == os.environ["QAV_EXPECTED_VERSION"]


@pytest.mark.skipif(not os.environ.get("QAV_INSTALLED"), reason="the package of a build tree")
def test_installed_package_is_the_one_imported():
    # CI installs the wheel into a fresh environment and runs every test against it.
    assert PACKAGE.is_relative_to(Path(sys.prefix).resolve()) and PACKAGE.parent.name == "site-packages"
    assert metadata.version("qav") == qav.__version__
    assert (PACKAGE / "py.typed").exists()


def test_stub_names_what_the_compiled_module_holds():
    stub = ast.parse((PACKAGE / "_qav.pyi").read_text())
    named = {node.name for node in stub.body if isinstance(node, (ast.FunctionDef, ast.ClassDef))}
    named |= {node.target.id for node in stub.body if isinstance(node, ast.AnnAssign)}
    held = {name for name in dir(qav._qav) if not name.startswith("_")}
    assert named == held
    arguments = {node.name: len(node.args.posonlyargs) + len(node.args.args)
                 for node in stub.body if isinstance(node, ast.FunctionDef)}
    # qav.run and qav.transect hand the compiled ones every argument in the order it reads them.
    order = qav._qav.RUN_ARGUMENTS
    assert arguments["run"] == len(order) and tuple(inspect.signature(qav.run).parameters) == order
    transect = tuple(inspect.signature(qav.transect).parameters)
    assert arguments["transect"] == len(transect) and transect == order[:order.index("log_file")]
