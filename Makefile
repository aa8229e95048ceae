# Set-up, build and tests. `make demo` and `make test` install what is
# missing (Debian packages, a Python 3.12 venv and its packages), build and
# install tarnu into the venv, then run the demo or every test. Both are quick
# when nothing changed.

SHELL := /bin/bash
.DEFAULT_GOAL := demo

# Python 3.12: on PATH, or where pyenv keeps it.
PYTHON312 ?= $(shell for p in python3.12 $$HOME/.pyenv/versions/3.12*/bin/python3.12 \
                 /usr/local/bin/python3.12 /usr/bin/python3.12; do \
                 $$p -c 'import sys; assert sys.version_info[:2] == (3, 12)' 2>/dev/null \
                 && { echo $$p; break; }; done)
# Python 3.13, for a second run of the test suite (skipped when not found).
PYTHON313 ?= $(shell for p in python3.13 $$HOME/.pyenv/versions/3.13*/bin/python3.13 \
                 /usr/local/bin/python3.13 /usr/bin/python3.13; do \
                 $$p -c 'import sys; assert sys.version_info[:2] == (3, 13)' 2>/dev/null \
                 && { echo $$p; break; }; done)
VENV := .venv
PY := $(VENV)/bin/python
STAMPS := .stamps
DEBIAN_PACKAGES := libgeographiclib-dev libsleef-dev libgtest-dev pkg-config g++ cppcheck
SOURCES := CMakeLists.txt pyproject.toml $(shell find core src python -type f -not -name '*.pyc')
CPP_BUILD := build/cpp

.PHONY: demo test test-cpp test-python typecheck test-python313 test-wheel install clean check lint test-asan test-cpp-asan test-python-asan accuracy

demo: $(STAMPS)/install
	$(PY) -m tarnu

test: test-cpp test-python typecheck test-python313 test-wheel check

test-cpp: $(STAMPS)/venv
	$(VENV)/bin/cmake -S . -B $(CPP_BUILD) -G Ninja -DCMAKE_MAKE_PROGRAM=$(abspath $(VENV))/bin/ninja \
	    -DTARNU_BUILD_TESTS=ON -DCMAKE_BUILD_TYPE=Release >/dev/null
	$(VENV)/bin/cmake --build $(CPP_BUILD)
	$(VENV)/bin/ctest --test-dir $(CPP_BUILD) --output-on-failure

# The vectorised WGS84 solver against GeographicLib: ten million random pairs
# plus the edge sets at every width the CPU has, the worst error per
# quantity, and ns per pair on one thread (bench/solver_check.cpp). Not part
# of `make test`: it takes several minutes. PAIRS=1000000 makes it quicker.
PAIRS ?= 10000000

accuracy: $(STAMPS)/venv
	$(VENV)/bin/cmake -S . -B build/accuracy -G Ninja -DCMAKE_MAKE_PROGRAM=$(abspath $(VENV))/bin/ninja \
	    -DTARNU_BUILD_SOLVER_CHECK=ON -DCMAKE_BUILD_TYPE=Release >/dev/null
	$(VENV)/bin/cmake --build build/accuracy --target solver_check
	build/accuracy/solver_check $(PAIRS)

test-python: $(STAMPS)/install
	$(PY) -m pytest

# The stubs against a typed use of every function (mypy --strict) and against
# the built module (stubtest).
typecheck: $(STAMPS)/install
	$(PY) -m mypy --strict --warn-unused-ignores tests/typing/usage.py python/tarnu
	$(PY) -m mypy.stubtest tarnu

# The same test suite under Python 3.13, in its own venv and build directory.
VENV313 := .venv313
PY313 := $(VENV313)/bin/python

test-python313:
	@if [ -z "$(PYTHON313)" ]; then \
	    echo "Python 3.13 not found: skipping the 3.13 run (set PYTHON313=/path/to/python3.13)"; \
	else $(MAKE) --no-print-directory $(STAMPS)/install313 && $(PY313) -m pytest -q; fi

$(STAMPS)/venv313: requirements-dev.txt $(STAMPS)/debian
	$(call make-venv,$(PYTHON313),$(VENV313))

$(STAMPS)/install313: $(STAMPS)/venv313 $(SOURCES)
	$(PY313) -m pip install -q --no-build-isolation --no-deps .
	@touch $@

# What a user gets from an index: an sdist, a wheel built from that sdist, the
# wheel installed into a fresh venv with its declared dependencies, and the
# tests run from a directory where the source tree cannot shadow the package.
WHEEL_TEST := build/wheel-test

test-wheel: $(STAMPS)/venv
	rm -rf $(WHEEL_TEST) && mkdir -p $(WHEEL_TEST)/dist
	$(PY) -m build --sdist --no-isolation --outdir $(WHEEL_TEST)/dist . >/dev/null
	$(PY) -m pip wheel -q --no-deps --no-build-isolation --wheel-dir $(WHEEL_TEST)/dist \
	    $(WHEEL_TEST)/dist/tarnu-*.tar.gz
	$(PYTHON312) -m venv $(WHEEL_TEST)/venv
	$(WHEEL_TEST)/venv/bin/python -m pip install -q $(WHEEL_TEST)/dist/tarnu-*.whl \
	    $$(grep -E '^(pytest|geographiclib|dask|hypothesis)' requirements-dev.txt)
	cp -r tests README.md $(WHEEL_TEST)/
	cd $(WHEEL_TEST) && venv/bin/python -m pytest -q -p no:cacheprovider tests

install: $(STAMPS)/install

$(STAMPS)/debian:
	@mkdir -p $(STAMPS)
	@if ! dpkg -s $(DEBIAN_PACKAGES) >/dev/null 2>&1; then \
	    SUDO=$$([ "$$(id -u)" = 0 ] || echo sudo); \
	    $$SUDO apt-get update -qq && \
	    DEBIAN_FRONTEND=noninteractive $$SUDO apt-get install -y -qq $(DEBIAN_PACKAGES); \
	fi
	@touch $@

# $(call make-venv,PYTHON,DIR): a venv in DIR with the development requirements.
define make-venv
@test -n "$(1)" || { echo "Python not found for $(2): set PYTHON312 / PYTHON313" >&2; exit 1; }
test -x $(2)/bin/python || $(1) -m venv $(2)
$(2)/bin/python -m pip install -q --upgrade pip
$(2)/bin/python -m pip install -q -r requirements-dev.txt
@touch $@
endef

$(STAMPS)/venv: requirements-dev.txt $(STAMPS)/debian
	$(call make-venv,$(PYTHON312),$(VENV))

$(STAMPS)/install: $(STAMPS)/venv $(SOURCES)
	$(PY) -m pip install -q --no-build-isolation --no-deps .
	@touch $@

clean:
	rm -rf build $(STAMPS)

# --- reliability checks (part of `make test`; `make check` alone runs them) ---
#
# lint: cppcheck over core/ and src/. useStlAlgorithm is off: it asks for
# std::find_if in place of short explicit loops, which read better here.
# test-asan: the C++ tests and the whole pytest suite against a build with
# AddressSanitizer and UndefinedBehaviorSanitizer, in its own venv. Python is
# not built with ASan, so its runtime is preloaded; PYTHONMALLOC=malloc routes
# every Python object through it too, so a reference-count slip that frees an
# object early is caught as a use after free. libstdc++ is preloaded too, or
# ASan cannot find the real __cxa_throw when the module throws (the Python
# binary itself does not link libstdc++). Leak detection is off because the
# interpreter never frees everything at exit.

check: lint test-asan

lint: $(STAMPS)/debian
	cppcheck --std=c++20 --language=c++ --enable=warning,style,performance,portability \
	    --suppress=useStlAlgorithm --inline-suppr --quiet --error-exitcode=1 \
	    -I core/include -I core -I src core src

ASAN_VENV := .venv-asan
ASAN_PY := $(ASAN_VENV)/bin/python
ASAN_ENV = LD_PRELOAD="$$(g++ -print-file-name=libasan.so) $$(g++ -print-file-name=libstdc++.so)" \
    ASAN_OPTIONS=detect_leaks=0 \
    UBSAN_OPTIONS=print_stacktrace=1 PYTHONMALLOC=malloc

test-asan: test-cpp-asan test-python-asan

test-cpp-asan: $(STAMPS)/venv
	$(VENV)/bin/cmake -S . -B build/cpp-asan -G Ninja -DCMAKE_MAKE_PROGRAM=$(abspath $(VENV))/bin/ninja \
	    -DTARNU_BUILD_TESTS=ON -DTARNU_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	$(VENV)/bin/cmake --build build/cpp-asan
	$(VENV)/bin/ctest --test-dir build/cpp-asan --output-on-failure

# The suite must run the sanitized module: the installed .so links libasan
# and the test process has the runtime loaded.
test-python-asan: $(STAMPS)/install-asan
	so=$$(ls $$($(ASAN_PY) -c 'import importlib.util as u, os; print(os.path.dirname(u.find_spec("tarnu").origin))')/_tarnu*.so) && \
	    readelf -d "$$so" | grep -q 'NEEDED.*libasan' || { echo "$$so: not built with ASan" >&2; exit 1; }
	$(ASAN_ENV) $(ASAN_PY) -c 'import tarnu._tarnu as m; \
	    assert "/$(ASAN_VENV)/" in m.__file__ and "libasan" in open("/proc/self/maps").read()'
	$(ASAN_ENV) TARNU_SANITIZED=1 $(ASAN_PY) -m pytest -q

$(STAMPS)/venv-asan: requirements-dev.txt $(STAMPS)/debian
	$(call make-venv,$(PYTHON312),$(ASAN_VENV))

$(STAMPS)/install-asan: $(STAMPS)/venv-asan $(SOURCES)
	$(ASAN_PY) -m pip install -q --no-build-isolation --no-deps -C cmake.define.TARNU_SANITIZE=ON \
	    -C cmake.build-type=RelWithDebInfo -C 'build-dir=build/asan/{wheel_tag}' .
	@touch $@

# Performance against the peers (bench/requirements.txt, installed into the same
# venv): writes bench/RESULTS.md and the README's Performance table.
.PHONY: bench
bench: $(STAMPS)/install $(STAMPS)/bench
	$(PY) bench/run.py

$(STAMPS)/bench: bench/requirements.txt $(STAMPS)/venv
	$(PY) -m pip install -q -r bench/requirements.txt
	@touch $@
