"""What runs in this process, for ``tarnu info``: the version, the kernel of
each vectorised family, the worker pool's size and the native libraries
with their files."""

from __future__ import annotations

import importlib
import os
from pathlib import Path
from typing import Any

from tarnu import __version__

# Each native library by the start of its file name (a wheel's copies carry
# a hash after it: libsleef-1a2b3c4d.so.3.5.1).
LIBRARIES = {"libtarnu": "libtarnu", "GeographicLib": "libGeographicLib", "SLEEF": "libsleef"}


def loaded_libraries() -> dict[str, list[str]]:
    """The files of each native library mapped into this process."""
    try:
        with open("/proc/self/maps") as maps:
            fields = [line.split(maxsplit=5) for line in maps]
    except OSError:  # not Linux
        return {}
    mapped = {f[5].strip() for f in fields if len(f) == 6 and f[5].startswith("/")}
    return {label: sorted(path for path in mapped
                          if Path(path).name.startswith((stem + ".", stem + "-")))
            for label, stem in LIBRARIES.items()}


def report() -> str:
    # tarnu._ufunc has no stub: the runtime dict is typed by hand here.
    runtime: dict[str, Any] = importlib.import_module("tarnu._ufunc")._runtime()
    lines = [f"tarnu {__version__}"]
    for family in ("sphere", "solver"):
        kernel = runtime[family]
        lanes = kernel["lanes"]
        lines.append(f"{family} kernel: {kernel['isa']}, {lanes} double{'s' * (lanes != 1)} "
                     f"per vector, SLEEF {kernel['family']}")
    names = runtime["simd_names"]
    cap = os.environ.get("TARNU_SIMD") or "(unset)"
    ignored = ", ignored" if cap != "(unset)" and cap not in names else ""
    lines.append(f"TARNU_SIMD: {cap}{ignored} (one of {', '.join(names)})")
    lines.append(f"threads: {runtime['threads']}")
    versions = runtime["versions"]
    for label, paths in loaded_libraries().items():
        # A wheel links GeographicLib into libtarnu itself: no file of its own.
        where = ", ".join(paths) or ("built into libtarnu" if label in versions else "not loaded")
        lines.append(f"{label}: " + ", ".join(filter(None, [versions.get(label), where])))
    return "\n".join(lines)
