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
VENV := .venv
PY := $(VENV)/bin/python
STAMPS := .stamps
DEBIAN_PACKAGES := libgeographiclib-dev libsleef-dev libgtest-dev pkg-config g++
SOURCES := CMakeLists.txt pyproject.toml $(shell find core src python -type f -not -name '*.pyc')
CPP_BUILD := build/cpp

.PHONY: demo test test-cpp test-python install clean

demo: $(STAMPS)/install
	$(PY) -m tarnu

test: test-cpp test-python

test-cpp: $(STAMPS)/venv
	$(VENV)/bin/cmake -S . -B $(CPP_BUILD) -G Ninja -DCMAKE_MAKE_PROGRAM=$(abspath $(VENV))/bin/ninja \
	    -DTARNU_BUILD_TESTS=ON -DCMAKE_BUILD_TYPE=Release >/dev/null
	$(VENV)/bin/cmake --build $(CPP_BUILD)
	$(VENV)/bin/ctest --test-dir $(CPP_BUILD) --output-on-failure

test-python: $(STAMPS)/install
	$(PY) -m pytest

install: $(STAMPS)/install

$(STAMPS)/debian:
	@mkdir -p $(STAMPS)
	@if ! dpkg -s $(DEBIAN_PACKAGES) >/dev/null 2>&1; then \
	    SUDO=$$([ "$$(id -u)" = 0 ] || echo sudo); \
	    $$SUDO apt-get update -qq && \
	    DEBIAN_FRONTEND=noninteractive $$SUDO apt-get install -y -qq $(DEBIAN_PACKAGES); \
	fi
	@touch $@

$(STAMPS)/venv: requirements-dev.txt $(STAMPS)/debian
	@test -n "$(PYTHON312)" || { echo "Python 3.12 not found: set PYTHON312=/path/to/python3.12" >&2; exit 1; }
	test -x $(PY) || $(PYTHON312) -m venv $(VENV)
	$(PY) -m pip install -q --upgrade pip
	$(PY) -m pip install -q -r requirements-dev.txt
	@touch $@

$(STAMPS)/install: $(STAMPS)/venv $(SOURCES)
	$(PY) -m pip install -q --no-build-isolation --no-deps .
	@touch $@

clean:
	rm -rf build $(STAMPS)

# Performance against the peers (bench/requirements.txt, installed into the same
# venv): writes bench/RESULTS.md and the README's Performance table.
.PHONY: bench
bench: $(STAMPS)/install $(STAMPS)/bench
	$(PY) bench/run.py

$(STAMPS)/bench: bench/requirements.txt $(STAMPS)/venv
	$(PY) -m pip install -q -r bench/requirements.txt
	@touch $@
