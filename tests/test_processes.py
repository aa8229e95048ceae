"""The module across interpreters and processes: a second interpreter is
refused cleanly, the scalar functions need no NumPy, and the batch functions
survive fork, spawn, forkserver and a keyboard interrupt. Each case runs in
a fresh child process, so a crash or a hang fails the test, not the run."""

import os
import signal
import subprocess
import sys
import textwrap
import time

import pytest

from surface_walk import BATCH_FUNCTIONS, WGS84_USERS

TESTS = os.path.dirname(__file__)
needs_batch = pytest.mark.skipif(not BATCH_FUNCTIONS, reason="no batch functions in this build")


def run_python(code, timeout=120, **kwargs):
    return subprocess.run([sys.executable, "-X", "faulthandler", "-c",
                           f"import sys; sys.path.insert(0, {TESTS!r})\n" + textwrap.dedent(code)],
                          capture_output=True, text=True, timeout=timeout, **kwargs)


def assert_ok(child, expected="ok"):
    assert child.returncode == 0, f"exit {child.returncode}\n{child.stdout}\n{child.stderr}"
    assert child.stdout.strip().splitlines()[-1:] == [expected], child.stdout + child.stderr


# --- a second interpreter ------------------------------------------------------

# Runs `import tarnu._tarnu` in a new interpreter of the given kind and prints
# the exception it raised there. 3.12 calls the module _xxsubinterpreters,
# 3.13 _interpreters; "legacy" shares the main interpreter's GIL and allows
# single-phase modules, so the module's own refusal is what answers there.
SUBINTERPRETER = """
    import sys
    try:
        import _interpreters as interpreters
        def create(kind):
            return interpreters.create(kind)
        def run(interp, code):
            failure = interpreters.exec(interp, code)
            return None if failure is None else f"{{failure.type.__name__}}: {{failure.msg}}"
    except ImportError:
        import _xxsubinterpreters as interpreters
        def create(kind):
            return interpreters.create(isolated=kind == "isolated")
        def run(interp, code):
            try:
                interpreters.run_string(interp, code)
            except interpreters.RunFailedError as e:
                return str(e).replace("<class 'ImportError'>", "ImportError")

    {before}
    interp = create({kind!r})
    print(run(interp, "import tarnu._tarnu"))
    interpreters.destroy(interp)
    {after}
"""

MAIN_WORKS = """
    from tarnu import _tarnu
    assert _tarnu.distance.great_circle_distance(0, 0, 0, 1) > 0
    print("ok")
"""


@pytest.mark.parametrize("kind", ["isolated", "legacy"])
def test_second_interpreter_gets_import_error(kind):
    code = SUBINTERPRETER.format(kind=kind, before="import tarnu._tarnu", after=MAIN_WORKS)
    child = run_python(code)
    assert_ok(child)
    refusal = child.stdout.splitlines()[0]
    assert refusal.startswith("ImportError: ")
    if kind == "legacy":
        assert "subinterpreters" in refusal


def test_module_first_imported_in_a_subinterpreter_refuses_the_main_one():
    # 3.12 runs a single-phase module's init in the subinterpreter itself, so
    # that one wins; 3.13 runs it in the main interpreter first, so the main
    # interpreter holds the module and the subinterpreter is refused. Either
    # way exactly one of the two gets the module and the process survives.
    code = SUBINTERPRETER.format(kind="legacy", before="", after="""
    try:
        from tarnu import _tarnu
        assert _tarnu.distance.great_circle_distance(0, 0, 0, 1) > 0
        print("main: imported")
    except ImportError as e:
        print("main: ImportError:", e)
    print("ok")
    """)
    child = run_python(code)
    assert_ok(child)
    sub, main = child.stdout.splitlines()[:2]
    if sub == "None":
        assert main.startswith("main: ImportError: ")
    else:
        assert sub.startswith("ImportError: ") and main == "main: imported"


# --- no NumPy ------------------------------------------------------------------

HIDE_NUMPY = """
    import importlib.abc, sys

    class HideNumpy(importlib.abc.MetaPathFinder):
        def find_spec(self, name, path=None, target=None):
            if name == "numpy" or name.startswith("numpy."):
                raise ImportError(f"{name} is hidden")

    sys.meta_path.insert(0, HideNumpy())
"""


def test_scalar_functions_work_without_numpy():
    child = run_python(HIDE_NUMPY + """
    from surface_walk import SCALAR, scalar_args
    for f in SCALAR:
        result = f.fn(*scalar_args(f))
        flat = result.values() if isinstance(result, dict) else \\
            result if isinstance(result, tuple) else (result,)
        assert all(type(x) is float for x in flat), f
    assert not any(m == "numpy" or m.startswith("numpy.") for m in sys.modules)
    print("ok")
    """)
    assert_ok(child)


@needs_batch
def test_batch_without_numpy_is_a_panic_not_a_crash():
    child = run_python(HIDE_NUMPY + """
    from surface_walk import BATCH_FUNCTIONS
    for f in BATCH_FUNCTIONS:
        try:
            f.fn([0.0], [0.0], [0.0], [0.0])
        except BaseException as e:
            assert type(e).__name__ == "PanicException", repr(e)
            assert str(e).startswith("Failed to access NumPy array API capsule"), str(e)
        else:
            raise AssertionError("no exception")
    print("ok")
    """)
    assert_ok(child)


# --- batch under other start methods -----------------------------------------------

# The parent makes a batch call first, so its worker pool exists (with running
# threads) when the child starts; a forked child inherits the pool's state but
# not its threads.
START_METHOD = """
    import multiprocessing as mp, numpy as np
    from surface_walk import BATCH_FUNCTIONS, batch_args, bits

    def compute(name, n):
        fn = next(f.fn for f in BATCH_FUNCTIONS if f.name == name)
        return [bits(fn(*batch_args(np, n=n, seed=n))) for _ in range(3)]

    if __name__ == "__main__":
        expected = {{(f.name, n): compute(f.name, n) for f in BATCH_FUNCTIONS for n in (1, 1000)}}
        ctx = mp.get_context({method!r})
        with ctx.Pool(2) as pool:
            jobs = {{key: pool.apply_async(compute, key) for key in expected}}
            for key, job in jobs.items():
                assert job.get(timeout=60) == expected[key], key
        print("ok")
"""


@needs_batch
@pytest.mark.parametrize("method", ["fork", "spawn", "forkserver"])
def test_batch_in_child_processes(method, tmp_path):
    script = tmp_path / "start_method.py"
    script.write_text(f"import sys; sys.path.insert(0, {TESTS!r})\n"
                      + textwrap.dedent(START_METHOD.format(method=method)))
    child = subprocess.run([sys.executable, "-X", "faulthandler", "-W", "ignore", str(script)],
                           capture_output=True, text=True, timeout=180)
    assert_ok(child)


# --- SIGINT during a long batch call -----------------------------------------------

LONG_BATCH = """
    import time, numpy as np
    from surface_walk import BATCH_FUNCTIONS, BY_NAME, BATCH, batch_args, bits
    fn = BY_NAME[{name!r}].fn
    lat, lon = np.linspace(-80.0, 80.0, {n}), np.linspace(-170.0, 170.0, {n})
    interrupted = False
    try:
        print("calling", flush=True)
        fn(lat, lon, lon, lat)
        time.sleep(30)  # the interrupt is raised here at the latest
    except KeyboardInterrupt:
        interrupted = True
    assert interrupted
    small = batch_args(np, n=100)
    scalar = BY_NAME[BATCH[{name!r}]].fn
    assert bits(fn(*small)) == bits(np.array([scalar(*x) for x in zip(*small)]))
    print("ok")
"""


@needs_batch
@pytest.mark.parametrize("function", BATCH_FUNCTIONS, ids=[f.name for f in BATCH_FUNCTIONS])
def test_sigint_during_a_long_batch_call(function):
    # About a second of work for the geodesic batch on two cores; the sphere
    # is far faster, and memory bounds it.
    n = 1_500_000 if function.name in WGS84_USERS else 8_000_000
    child = subprocess.Popen(
        [sys.executable, "-X", "faulthandler", "-c",
         f"import sys; sys.path.insert(0, {TESTS!r})\n"
         + textwrap.dedent(LONG_BATCH.format(name=function.name, n=n))],
        stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        assert child.stdout.readline().strip() == "calling"
        time.sleep(0.3)
        child.send_signal(signal.SIGINT)
        out, err = child.communicate(timeout=120)
    finally:
        child.kill()
    assert child.returncode == 0, f"exit {child.returncode}\n{out}\n{err}"
    assert out.splitlines()[-1:] == ["ok"], out + err
