"""The repaired wheel, installed (make test-wheel sets TARNU_WHEEL to its
path): the libraries inside it are the ones loaded, it gives the same
distances on older CPUs, emulated by qemu-user, and the README installs it by
its name."""

import json
import math
import os
import platform
import random
import subprocess
import sys
from pathlib import Path

import pytest

import tarnu

pytestmark = pytest.mark.skipif(not os.environ.get("TARNU_WHEEL"),
                                reason="checks an installed repaired wheel (make test-wheel)")


def test_bundled_libraries_are_the_ones_loaded():
    # libtarnu beside the modules, SLEEF where repairing put it. GeographicLib
    # is linked into libtarnu: no shared copy of it, the system's or another
    # package's, may be loaded in its place.
    package = Path(tarnu.__file__).parent.resolve()
    fields = (line.split(maxsplit=5) for line in Path("/proc/self/maps").read_text().splitlines())
    mapped = {Path(f[5]) for f in fields if len(f) == 6 and f[5].startswith("/")}
    for name, folder in {"libtarnu": package, "libsleef": package.parent / "tarnu.libs"}.items():
        paths = {path for path in mapped if path.name.startswith(name)}
        assert paths and {path.parent for path in paths} == {folder}, paths
    assert not [path for path in mapped if path.name.startswith("libGeographicLib")]


def test_readme_installs_the_wheel_that_make_wheel_writes():
    readme = (Path(__file__).resolve().parents[1] / "README.md").read_text(encoding="utf-8")
    assert f"pip install dist/{Path(os.environ['TARNU_WHEEL']).name}\n" in readme


# Ways to run without the widest kernels: older CPUs emulated by qemu-user,
# as (command prefix, environment, the instruction set that must run there,
# or None where NumPy, and so the batch functions and the ufuncs, cannot:
# NumPy needs x86-64-v2, SSE4.2 and POPCNT). On aarch64, itself emulated
# here, every CPU has AdvSIMD: only the cap remains.
NARROW = {
    "x86_64": {
        "qemu64, the x86-64 baseline: SSE2": (["qemu-x86_64", "-cpu", "qemu64"], {}, None),
        "Nehalem: no AVX": (["qemu-x86_64", "-cpu", "Nehalem"], {}, "sse2"),
        "SandyBridge: AVX, no AVX2 or FMA": (["qemu-x86_64", "-cpu", "SandyBridge"], {}, "avx"),
        "Haswell: AVX2 and FMA, no AVX-512": (["qemu-x86_64", "-cpu", "Haswell"], {}, "avx2"),
        "TARNU_SIMD=sse2": ([], {"TARNU_SIMD": "sse2"}, "sse2"),
        "TARNU_SIMD=scalar": ([], {"TARNU_SIMD": "scalar"}, "scalar"),
    },
    "aarch64": {
        "TARNU_SIMD=advsimd": ([], {"TARNU_SIMD": "advsimd"}, "advsimd"),
        "TARNU_SIMD=scalar": ([], {"TARNU_SIMD": "scalar"}, "scalar"),
    },
}[platform.machine()]

PROBE = """
import json, sys
from tarnu import distance
rows = json.load(sys.stdin)
out = {"sphere": [distance.great_circle_distance(*row) for row in rows],
       "ellipsoid": [distance.geodesic_distance(*row) for row in rows]}
avx512f = None
if sys.argv[1] == "batch":
    from tarnu import _ufunc
    runtime = _ufunc._runtime()
    out["isa"] = [runtime["sphere"]["isa"], runtime["solver"]["isa"]]
    import numpy as np
    from numpy._core._multiarray_umath import __cpu_features__
    columns = [np.array(column) for column in zip(*rows)]
    out["sphere batch"] = distance.great_circle_distance_batch(*columns).tolist()
    out["ellipsoid batch"] = distance.geodesic_distance_batch(*columns).tolist()
    from tarnu import ufunc
    out["ellipsoid solver"] = ufunc.geodesic_distance(*columns).tolist()
    avx512f = __cpu_features__.get("AVX512F")
print(json.dumps([out, avx512f]))
"""


def probe(prefix, env, rows, batch):
    argv = [*prefix, sys.executable, "-c", PROBE, "batch" if batch else "one"]
    return json.loads(subprocess.run(argv, env={**os.environ, **env}, input=json.dumps(rows),
                                     capture_output=True, text=True, check=True).stdout)


@pytest.mark.parametrize("prefix, env, isa", NARROW.values(), ids=NARROW)
def test_narrower_kernels_give_the_same_distances(prefix, env, isa):
    batch = isa is not None
    rng = random.Random(0)
    # 37 rows: every vector width ends on a padded tail.
    rows = [[rng.uniform(-90, 90), rng.uniform(-180, 180), rng.uniform(-90, 90),
             rng.uniform(-180, 180)] for _ in range(37)]
    native, _ = probe([], {}, rows, batch)
    narrow, avx512f = probe(prefix, env, rows, batch)
    assert not (prefix and avx512f), "the emulated CPU has AVX-512"
    if batch:
        assert narrow.pop("isa") == [isa, isa] and native.pop("isa")
    for key, values in narrow.items():
        # SLEEF's FMA and non-FMA families, and glibc's own, may differ in the
        # last bits; a wrong kernel or lane is off by far more.
        assert all(math.isclose(a, b, rel_tol=1e-14) for a, b in zip(values, native[key])), key
    if batch:
        assert narrow["sphere batch"] == narrow["sphere"]
        assert narrow["ellipsoid batch"] == narrow["ellipsoid"]
