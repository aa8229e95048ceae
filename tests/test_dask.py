"""tarnu on Dask, on both of Dask's array backends and its threaded, process
and distributed schedulers; and importing tarnu changes no other module."""

import doctest

import pytest

from conftest import assert_ok, run_python

pytest.importorskip("dask.array")

# Every ufunc through tarnu.dask on a 2-D array, a 1-D one chunked otherwise,
# a NumPy array and a scalar; the single-output ones directly too, on Dask
# arrays whose chunks line up (on the query-planning backend Dask's own
# elementwise path fails on others, or on a NumPy array, for NumPy's ufuncs
# too). In a fresh interpreter: the backend is fixed when dask.array is first
# imported.
ON_DASK = """
    import dask
    dask.config.set({{"array.query-planning": {planning}}})
    import numpy as np, dask.array as da
    from tarnu import ufunc, dask as tdask
    from conftest import random_pairs

    def check(compute):
        grid = np.stack(random_pairs(20_000, seed=4)).reshape(4, 2, 10_000)
        plain = [grid[0], grid[1][0], grid[2], 12.5, 0.25]
        lazy = [da.from_array(grid[0], chunks=(1, 3_000)), da.from_array(grid[1][0], chunks=4_000),
                grid[2], 12.5, 0.25]
        aligned = [lazy[0], da.from_array(grid[1][0], chunks=3_000),
                   da.from_array(grid[2], chunks=(1, 3_000)), 12.5, 0.25]
        got, want = [], []
        for name in ufunc.__all__:
            f = getattr(ufunc, name)
            expected = f(*plain[:f.nin])
            expected = list(expected) if f.nout > 1 else [expected]
            results = getattr(tdask, name)(*lazy[:f.nin])
            got += list(results) if f.nout > 1 else [results, f(*aligned[:f.nin])]
            want += expected * (2 if f.nout == 1 else 1)
            if f.nout > 1:
                try:
                    f(*lazy[:f.nin])
                except TypeError as e:
                    assert "returned NotImplemented" in str(e), e
                else:
                    raise AssertionError(f"Dask took {{name}}: say so in tarnu.dask")
        assert all(isinstance(g, da.Array) for g in got)
        assert [g.tobytes() for g in compute(*got)] == [w.tobytes() for w in want]
        misaligned = np.hypot(*lazy[:2])
        try:
            compute(misaligned)
        except NotImplementedError:
            assert {planning}, "misaligned chunks fail on the classic backend"
        else:
            assert not {planning}, "misaligned chunks work: say so in tarnu.dask"

    if __name__ == "__main__":
        assert da.array_expr_enabled() == {planning}
        if "{scheduler}" == "distributed":
            from distributed import Client, LocalCluster
            with LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                              dashboard_address=None) as cluster, Client(cluster) as client:
                check(lambda *arrays: client.compute(list(arrays), sync=True))
        else:
            check(lambda *arrays: dask.compute(*arrays, scheduler="{scheduler}"))
        print("ok")
"""


@pytest.mark.parametrize("scheduler", ["threads", "processes", "distributed"])
@pytest.mark.parametrize("planning", [False, True], ids=["classic", "query-planning"])
def test_every_ufunc_on_dask(planning, scheduler):
    if scheduler == "distributed":
        pytest.importorskip("distributed")
    assert_ok(run_python(ON_DASK.format(planning=planning, scheduler=scheduler), timeout=300))


# Imports tarnu's modules `ours` (after the modules in `first`) and lists what
# changed outside tarnu: the import system's hooks, and any name bound in a
# module that was already loaded, other than a submodule that the import
# itself loaded. Then Dask's ufuncs, imported, hold no tarnu name and the
# import system no tarnu finder.
UNCHANGED = """
    import importlib, sys, types
    for name in {first}:
        importlib.import_module(name)

    def state():
        modules = {{name: dict(vars(m)) for name, m in list(sys.modules.items())
                   if isinstance(m, types.ModuleType) and m not in (sys, sys.modules["__main__"])}}
        return modules, list(sys.meta_path), list(sys.path_hooks)

    before, meta_path, path_hooks = state()
    for name in {ours}:
        importlib.import_module(name)
    after, *hooks = state()
    assert hooks == [meta_path, path_hooks], hooks
    for name, names in before.items():
        for key in set(names) | set(after[name]):
            old, new = names.get(key), after[name].get(key)
            loaded = isinstance(new, types.ModuleType) and new.__name__ not in before
            assert old is new or loaded, (name, key)
    import dask.array.ufunc
    from tarnu import ufunc
    assert not set(ufunc.__all__) & set(vars(dask.array.ufunc))
    assert not [f for f in sys.meta_path if type(f).__module__.startswith("tarnu")]
    print("ok")
"""

TARNU = ["tarnu", "tarnu.ufunc", "tarnu.cli"]


# tarnu.dask imports dask.array, which changes the import system by itself.
@pytest.mark.parametrize("first, ours", [([], TARNU),
                                         (["dask.array.ufunc"], [*TARNU, "tarnu.dask"])])
def test_importing_tarnu_changes_no_other_module(first, ours):
    assert_ok(run_python(UNCHANGED.format(first=first, ours=ours)))


def test_the_module_covers_every_ufunc_and_its_example_runs():
    from tarnu import dask as tdask, ufunc
    assert tdask.__all__ == ufunc.__all__
    failed, attempted = doctest.testmod(tdask)
    assert attempted and not failed
