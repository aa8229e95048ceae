"""The documentation site's sources (docs/): every >>> example of every page
run as a doctest, each page in a namespace of its own; every `$ ` line of its
console blocks run in a shell; and a reference page for every public name."""

import argparse
import importlib
import os
import pkgutil
import re
import subprocess
import sysconfig
import types
from pathlib import Path

import pytest

import tarnu
from conftest import SANITIZED, assert_same_output, run_examples

DOCS = Path(__file__).resolve().parents[1] / "docs"
pytestmark = pytest.mark.skipif(not DOCS.is_dir(), reason="no docs/ beside tests/")
PAGES = sorted(p for p in DOCS.rglob("*.rst") if "_build" not in p.parts)
SANITIZER_VARIABLES = ("LD_PRELOAD", "ASAN_OPTIONS", "UBSAN_OPTIONS", "PYTHONMALLOC")
CONSOLE = re.compile(r"^( *)\.\. code-block:: console\n\n(.*?)(?=^\1?\S|\Z)", re.M | re.S)


def page_id(page):
    return str(page.relative_to(DOCS))


@pytest.mark.parametrize("page", [p for p in PAGES if ">>>" in p.read_text()], ids=page_id)
def test_docs_examples(page):
    if SANITIZED and page.parent.name == "coming-from":
        pytest.skip("the peer libraries these pages import are not built for the sanitizers")
    run_examples(page.read_text(encoding="utf-8"), {"__name__": "docs"}, page_id(page), page)


def console_examples():
    """(page, commands, expected output) of every console block: each `$ `
    line with the lines below it that are not commands."""
    found = []
    for page in PAGES:
        for _, block in CONSOLE.findall(page.read_text(encoding="utf-8")):
            block = "\n".join(line.strip() for line in block.strip().splitlines()) + "\n"
            for command, output in re.findall(r"^\$ (.*)\n((?:(?!\$ ).*\n)*)", block, re.M):
                found.append((page, command.split("  #")[0].strip(), output))
    return found


@pytest.mark.parametrize("commands", [pytest.param(
    [(c, o) for p, c, o in console_examples() if p == page], id=page_id(page))
    for page in sorted({p for p, _, _ in console_examples()})])
def test_docs_console_examples(commands, tmp_path):
    """The commands of one page, in order, in one directory (a later command
    may read a file an earlier one wrote)."""
    env = {"PATH": f"{sysconfig.get_path('scripts')}:/usr/bin:/bin"}
    # Nothing else of the caller's, but the sanitizer run's preloads and options.
    env |= {k: v for k, v in os.environ.items() if k in SANITIZER_VARIABLES}
    for command, output in commands:
        result = subprocess.run(["bash", "-c", command], cwd=tmp_path, capture_output=True,
                                text=True, timeout=60, env=env)
        assert result.returncode == 0, (command, result.stderr)
        assert_same_output(result.stdout, output)


def documented_modules():
    """The package's public modules: the native submodules it exports and its
    public module files (the command line is documented as `cli`)."""
    files = {m.name for m in pkgutil.iter_modules(tarnu.__path__) if not m.name.startswith("_")}
    native = {n for n in tarnu.__all__ if isinstance(getattr(tarnu, n), types.ModuleType)}
    return sorted(native | files)


def test_docs_have_a_page_for_every_public_name():
    from tarnu.cli import build_parser

    missing, extra = [], []
    for module in documented_modules():
        if module == "cli":
            names = {name for action in build_parser()._actions
                     if isinstance(action, argparse._SubParsersAction) for name in action.choices}
        else:
            namespace = vars(importlib.import_module(f"tarnu.{module}"))
            names = {n for n in namespace.get("__all__", namespace)
                     if not n.startswith("_") and callable(namespace[n])}
        pages = {p.stem for p in (DOCS / "api" / module).glob("*.rst")} - {"index"}
        missing += [f"{module}.{n}" for n in sorted(names - pages)]
        extra += [f"{module}/{p}.rst" for p in sorted(pages - names)]
    assert (missing, extra) == ([], [])


@pytest.mark.parametrize("page", [p for p in (DOCS / "api").glob("*/*.rst")
                                  if p.stem != "index" and p.parent.name != "cli"], ids=page_id)
def test_docs_api_page_states_its_promise_and_an_example(page):
    text = page.read_text(encoding="utf-8")
    assert ":start-after: promise: " in text and ">>> " in text
    for section in ("Conventions", "Accuracy", "Example"):
        assert f"\n{section}\n---" in text, section
