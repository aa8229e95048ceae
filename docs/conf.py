"""Sphinx configuration of tarnu's documentation site (``make docs``).

The site documents the installed package: ``make docs`` builds tarnu into the
venv first, so every signature, command-line option and figure comes from the
code that the tests run.
"""

import tarnu

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
