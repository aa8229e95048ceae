"""The machine a run was timed on, read from the system at run time."""

from __future__ import annotations

import importlib.metadata
import os
import platform
import re
from pathlib import Path

from peers import optional_module

PACKAGES = ("tarnu", "numpy", "pyproj", "geographiclib", "geopy", "haversine", "numkong", "matplotlib")


def cpuinfo() -> str:
    try:
        return Path("/proc/cpuinfo").read_text()
    except OSError:
        return ""


def cpu_flags() -> set[str]:
    m = re.search(r"^flags\s*:\s*(.*)$", cpuinfo(), re.M)
    return set(m.group(1).split()) if m else set()


def cpu_model() -> str:
    text = cpuinfo()
    m = re.search(r"^model name\s*:\s*(.+)$", text, re.M)
    model = m.group(1).strip() if m else (platform.processor() or platform.machine())
    mhz = re.search(r"^cpu MHz\s*:\s*([\d.]+)", text, re.M)
    return model + (f" at {float(mhz.group(1)):.0f} MHz" if mhz else "")


def cpus_available() -> int:
    return len(os.sched_getaffinity(0))


def memory_gib() -> str:
    try:
        kb = int(re.search(r"^MemTotal:\s*(\d+)", Path("/proc/meminfo").read_text(), re.M).group(1))
        return f"{kb / 2**20:.1f} GiB"
    except (OSError, AttributeError):
        return "unknown"


def load_1min() -> float:
    return os.getloadavg()[0]


def describe() -> dict[str, str]:
    versions = []
    for pkg in PACKAGES:
        try:
            versions.append(f"{pkg} {importlib.metadata.version(pkg)}")
        except importlib.metadata.PackageNotFoundError:
            versions.append(f"{pkg} not installed")
    pyproj = optional_module("pyproj")
    try:
        from numpy._core._multiarray_umath import __cpu_features__
        numpy_simd = ", ".join(k for k in ("AVX2", "AVX512F", "AVX512_SKX") if __cpu_features__.get(k))
    except ImportError:
        numpy_simd = "unknown"
    numkong = optional_module("numkong")
    numkong_simd = (", ".join(k for k, on in numkong.get_capabilities().items() if on)
                    if numkong is not None else "not installed")
    blas_env = ", ".join(f"{k}={os.environ[k]}" for k in ("OPENBLAS_CORETYPE", "OPENBLAS_L2_SIZE")
                         if k in os.environ) or "unset"
    flags = cpu_flags()
    return {
        "CPU": cpu_model(),
        "CPU vector extensions": ", ".join(f for f in ("sse2", "avx2", "fma", "avx512f") if f in flags)
                                 or "none reported",
        "Cores": f"{os.cpu_count()} logical CPUs, {cpus_available()} available to this process",
        "Memory": memory_gib(),
        "OS": f"{platform.system()} {platform.release()}",
        "Python": f"{platform.python_implementation()} {platform.python_version()}",
        "Packages": ", ".join(versions) + (f" (PROJ {pyproj.proj_version_str})" if pyproj else ""),
        "NumPy CPU features": numpy_simd,
        "NumKong kernels": numkong_simd,
        "OpenBLAS variables": f"{blas_env} (left as found; the ufuncs timed here do not use BLAS)",
    }
