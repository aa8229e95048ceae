"""Sphinx configuration of tarnu's documentation site (``make docs``).

The site documents the installed package: ``make docs`` builds tarnu into the
venv first, so every signature, command-line option and figure comes from the
code that the tests run.
"""

import re
from pathlib import Path

import tarnu

# `make accuracy` writes its region tables here; the page accuracy-regions
# shows them as they stand (markdown_tables below).
ACCURACY_TABLES = Path(__file__).resolve().parents[1] / "bench" / "ACCURACY.md"

project = "tarnu"
author = "the tarnu developers"
copyright = "the tarnu developers"
version = release = tarnu.__version__

extensions = [
    "sphinx.ext.autodoc",
    "sphinxarg.ext",
    "matplotlib.sphinxext.plot_directive",
]

# Every reference must resolve; there is no intersphinx (the build needs no
# network), so names of other libraries are written as literals, not links.
nitpicky = True
exclude_patterns = ["_build", "_snippets", "README.md"]
default_role = "literal"
highlight_language = "python"

html_theme = "furo"
html_title = f"tarnu {release}"
html_static_path = ["_static"]
html_favicon = "_static/tarnu.svg"

# Gallery: each script in gallery/ is run when the site builds and its
# figure saved as a PNG; its source is linked below the figure.
plot_formats = [("png", 120)]
plot_html_show_formats = False
plot_html_show_source_link = True
plot_include_source = False
plot_rcparams = {"figure.dpi": 120, "savefig.bbox": "tight", "font.size": 9}


def markdown_tables(text):
    """reStructuredText for the markdown that `make accuracy` writes: its
    paragraphs, "###" headings and pipe tables (the "#" title is dropped)."""
    out = []
    for block in text.strip().split("\n\n"):
        lines = block.strip().splitlines()
        if lines[0].startswith("### "):
            out += [lines[0][4:], "-" * len(lines[0][4:])]
        elif lines[0].startswith("|"):
            rows = [[c.strip() for c in line.strip().strip("|").split("|")]
                    for line in lines if not line.startswith("|---")]
            out += [".. list-table::", "   :header-rows: 1", ""]
            for row in rows:
                out += [f"   * - {row[0]}", *(f"     - {cell}" for cell in row[1:])]
        elif not lines[0].startswith("# "):
            out.append(re.sub(r"`([^`]+)`", r"``\1``", " ".join(lines)))
        out.append("")
    return "\n".join(out)


def append_accuracy_tables(app, docname, source):
    if docname == "accuracy-regions":
        source[0] += "\n" + markdown_tables(ACCURACY_TABLES.read_text(encoding="utf-8"))


def setup(app):
    app.connect("source-read", append_accuracy_tables)
