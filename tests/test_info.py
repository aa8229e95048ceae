"""`tarnu info`, and the vector width cap TARNU_SIMD as a user sets it."""

import os
import re
import subprocess
import sysconfig
from pathlib import Path

import pytest

from tarnu import __version__

SCRIPT = Path(sysconfig.get_path("scripts")) / "tarnu"
NAMES = "scalar, sse2, avx, avx2, avx512"


def info(simd):
    env = {k: v for k, v in os.environ.items() if k != "TARNU_SIMD" and not k.startswith("RAYON_")}
    env["RAYON_NUM_THREADS"] = "3"
    if simd is not None:
        env["TARNU_SIMD"] = simd
    return subprocess.run([SCRIPT, "info"], capture_output=True, text=True, env=env, timeout=60)


# (TARNU_SIMD, the instruction set both kernels run, or None for the CPU's
# own as with TARNU_SIMD unset; standard error)
CAPS = [
    ("sse2", "sse2", ""),
    ("avx", "avx", ""),
    ("scalar", "scalar", ""),
    ("", None, ""),
    ("avx3", None, f"tarnu: TARNU_SIMD=avx3 is not one of {NAMES}; ignored\n"),
    ("sse2\nx", None, f"tarnu: TARNU_SIMD=sse2?x is not one of {NAMES}; ignored\n"),
]


@pytest.mark.parametrize("simd, isa, stderr", CAPS)
def test_info_names_the_kernels_and_an_unknown_cap_is_said_once(simd, isa, stderr):
    native = info(None).stdout.splitlines()
    if isa == "avx" and "avx" not in native[1] + native[2]:
        pytest.skip("this CPU has no AVX")
    child = info(simd)
    assert (child.returncode, child.stderr) == (0, stderr)
    lines = child.stdout.splitlines()
    assert lines[0] == f"tarnu {__version__}"
    for line, family in zip(lines[1:3], ("sphere", "solver")):
        want = next(n for n in native if n.startswith(family)) if isa is None else None
        assert line.startswith(f"{family} kernel: {isa}, ") if isa else line == want
    assert "threads: 3" in lines and any(NAMES in line for line in lines)
    for label, stem in (("GeographicLib", "libGeographicLib"), ("SLEEF", "libsleef")):
        (found,) = [line.split(": ", 1)[1] for line in lines if line.startswith(label + ":")]
        version, path = found.split(", ")
        assert re.fullmatch(r"\d+\.\d+\.\d+", version), found
        # A wheel carries GeographicLib inside libtarnu, SLEEF as its own file.
        if path != "built into libtarnu" or label != "GeographicLib":
            assert Path(path).name.startswith(stem) and Path(path).is_file(), path
