# Set-up, build and tests. `make demo` and `make test` install what is
# missing (Debian packages, a Python 3.12 venv and its packages), build and
# install tarnu into the venv, then run the demo or every test. Both are quick
# when nothing changed. `make -j2 test` is safe: each venv, build directory,
# stamp and pytest run directory belongs to one recipe, and no recipe calls
# make again.

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
# qemu-user runs the wheel test's older, emulated CPUs, and aarch64.
# chromium opens the documentation site in the browser check (make docs-check).
# The cross compiler and the :arm64 packages (multiarch) build and run the
# aarch64 C++ tests; dpkg-dev unpacks Debian's sources.
DEBIAN_PACKAGES := libgeographiclib-dev libsleef-dev libgtest-dev pkg-config g++ cppcheck qemu-user \
    chromium dpkg-dev crossbuild-essential-arm64 libsleef-dev:arm64 libgeographiclib23:arm64 \
    libgtest-dev:arm64
SOURCES := CMakeLists.txt pyproject.toml $(shell find core pool ext python -type f -not -name '*.pyc')
CPP_BUILD := build/cpp

.PHONY: demo test test-cpp test-python docs docs-check typecheck test-python313 wheel test-wheel install clean check lint test-asan test-cpp-asan test-python-asan accuracy FORCE

demo: $(STAMPS)/install
	$(PY) -m tarnu

test: test-cpp test-python docs-check typecheck test-python313 test-wheel test-aarch64 check

test-cpp: $(STAMPS)/venv
	$(VENV)/bin/cmake -S . -B $(CPP_BUILD) -G Ninja -DCMAKE_MAKE_PROGRAM=$(abspath $(VENV))/bin/ninja \
	    -DTARNU_BUILD_TESTS=ON -DCMAKE_BUILD_TYPE=Release
	$(VENV)/bin/cmake --build $(CPP_BUILD)
	$(VENV)/bin/ctest --test-dir $(CPP_BUILD) --output-on-failure

# The vectorised WGS84 solver at every width the CPU has, region by region,
# against a long-double GeographicLib as the truth, beside GeographicLib
# itself: worst and RMS error per quantity, agreement with GeographicLib,
# bit-for-bit agreement of the widths of each family, and ns per pair on one
# thread (bench/solver_check.cpp). Writes bench/ACCURACY.md. Not part of
# `make test`: it takes a few minutes. PAIRS is the sample of each region
# (ten times that for random pairs); PAIRS=10000 makes it quick.
PAIRS ?= 100000
TRUTH := build/truth
GEOGRAPHICLIB_SOURCE := build/src/geographiclib-2.1.2
# Then tarnu.geometry against GeographicLib's PolygonArea and GeodesicLine,
# set by set (bench/geometry_check.cpp); PARCELS random parcels among them.
PARCELS ?= 100000

accuracy: $(STAMPS)/venv $(TRUTH)/libGeographicLibLD.a
	$(VENV)/bin/cmake -S . -B build/accuracy -G Ninja -DCMAKE_MAKE_PROGRAM=$(abspath $(VENV))/bin/ninja \
	    -DTARNU_BUILD_SOLVER_CHECK=ON -DTARNU_TRUTH=$(abspath $(TRUTH)) -DCMAKE_BUILD_TYPE=Release
	$(VENV)/bin/cmake --build build/accuracy --target solver_check geometry_check
	build/accuracy/solver_check $(PAIRS) bench/ACCURACY.md
	build/accuracy/geometry_check $(PARCELS)

# The truth: GeographicLib's geodesic routines from Debian's source, built in
# long double under the namespace GeographicLibLD (bench/truth_config.h
# replaces its Config.h), as a static library with its headers.
$(TRUTH)/libGeographicLibLD.a: bench/truth_config.h | $(GEOGRAPHICLIB_SOURCE)/
	rm -rf $(TRUTH) && mkdir -p $(TRUTH)/include
	cp -r $(GEOGRAPHICLIB_SOURCE)/include/GeographicLib $(TRUTH)/include/
	cp bench/truth_config.h $(TRUTH)/include/GeographicLib/Config.h
	for f in Math Geodesic GeodesicLine; do \
	    g++ -std=c++11 -O2 -w -I$(TRUTH)/include -c $(GEOGRAPHICLIB_SOURCE)/src/$$f.cpp \
	        -o $(TRUTH)/$$f.o || exit 1; done
	ar rcs $@ $(TRUTH)/*.o

# build/src/<package>-<version>/: Debian 12's source package of a library
# tarnu builds on, unpacked with Debian's patches applied, e.g.
# build/src/geographiclib-2.1.2/ or build/src/sleef-3.5.1/. apt reads a
# deb-src list of its own and keeps its index and downloads under
# build/src/apt, so the system's apt sources and state stay as they are.
DEB_SRC := build/src/apt
APT_DEB_SRC = apt-get -q -o DPkg::Lock::Timeout=900 -o APT::Sandbox::User=root \
    -o Dir::Etc::sourcelist=$(abspath $(DEB_SRC))/deb-src.sources -o Dir::Etc::sourceparts=- \
    -o Dir::State::Lists=$(abspath $(DEB_SRC))/lists -o Dir::Cache=$(abspath $(DEB_SRC))/cache

build/src/%/:
	@package=$(firstword $(subst -, ,$*)); version=$(lastword $(subst -, ,$*)); \
	command -v dpkg-source >/dev/null || { SUDO=$$([ "$$(id -u)" = 0 ] || echo sudo); \
	    $$SUDO apt-get -o DPkg::Lock::Timeout=900 install -y -qq --no-install-recommends dpkg-dev; } && \
	mkdir -p $(DEB_SRC)/lists/partial $(DEB_SRC)/cache/archives/partial && \
	printf '%s\n' 'Types: deb-src' 'URIs: http://deb.debian.org/debian' 'Suites: bookworm' \
	    'Components: main' 'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg' \
	    > $(DEB_SRC)/deb-src.sources && \
	$(APT_DEB_SRC) update -qq && \
	(cd $(DEB_SRC) && $(APT_DEB_SRC) source --download-only $$package) && \
	dsc=$$(ls $(DEB_SRC)/$${package}_$$version-*.dsc) && \
	rm -rf build/src/$*.tmp && dpkg-source --no-copy -x $$dsc build/src/$*.tmp && mv build/src/$*.tmp $@

test-python: $(STAMPS)/install
	$(PY) -m pytest

# The documentation site, from docs/ into docs/_build/html, built against the
# installed package: its gallery's figures are drawn by the build, warnings
# are errors and every cross-reference must resolve. Every page is read anew
# (-E), so that a warning is never hidden by a cached page. The examples on
# its pages run in test-python (tests/test_docs.py); docs-check then opens
# the built site in headless Chromium (tests/test_site.py) and saves
# screenshots in docs/_build/screenshots/.
DOCS_HTML := docs/_build/html

docs: $(STAMPS)/install
	$(PY) -m sphinx -E -W --keep-going -n -q -b html docs $(DOCS_HTML)
	@echo "The site is in $(DOCS_HTML)/index.html"

docs-check: docs $(STAMPS)/debian
	TARNU_DOCS_SITE=$(DOCS_HTML) $(PY) -m pytest -q -p no:cacheprovider tests/test_site.py

# The stubs against a typed use of every function (mypy --strict) and against
# the built module (stubtest).
typecheck: $(STAMPS)/install
	$(PY) -m mypy --strict --warn-unused-ignores tests/typing/usage.py python/tarnu
	$(PY) -m mypy.stubtest tarnu

# The same test suite under Python 3.13, in its own venv and build directory.
VENV313 := .venv313
PY313 := $(VENV313)/bin/python

# Every pytest run but the first has a directory of its own for its temporary
# files, and no cache, so that `make -j` can run them side by side.
test-python313: $(if $(PYTHON313),$(STAMPS)/install313)
	@if [ -z "$(PYTHON313)" ]; then \
	    echo "Python 3.13 not found: skipping the 3.13 run (set PYTHON313=/path/to/python3.13)"; \
	else $(PY313) -m pytest -q -p no:cacheprovider --basetemp=build/pytest313; fi

$(STAMPS)/venv313: requirements-dev.txt $(STAMPS)/debian
	$(call make-venv,$(PYTHON313),$(VENV313),3.13)

$(STAMPS)/install313: $(STAMPS)/venv313 $(SOURCES)
	$(PY313) -m pip install -q --no-build-isolation --no-deps .
	@touch $@

# --- wheels -------------------------------------------------------------------
#
# wheel: an sdist, and from it the manylinux_2_28 wheels for Python 3.12 and
# 3.13 (when found) on x86_64 and aarch64, repaired by auditwheel into dist/.
# Each is built by zig's clang and libc++ (the ziglang package), which link
# against glibc 2.28 whatever the build machine has, through cmake/zig.cmake.
# A wheel carries GeographicLib compiled from Debian's source by the same
# compiler, as a static library inside libtarnu, and Debian's own SLEEF for
# its architecture, which asks no glibc newer than 2.17: repairing copies it
# into tarnu.libs/ under a name with a hash, so it cannot clash with a system
# copy, points RPATH there, and tags the wheel manylinux_2_28. libtarnu, found
# through RPATH $ORIGIN, stays where it is. Nothing of the build is kept
# between runs but build/, which `make clean` removes.
DIST := dist
WHEEL_BUILD := build/wheel
WHEEL_ARCHS := x86_64 aarch64
GLIBC_FLOOR := 2.28
DEPS := build/deps
ZIG_ENV = export ZIG=$$($(PY) -c 'import ziglang, os; print(os.path.dirname(ziglang.__file__))')/zig \
    ZIG_GLOBAL_CACHE_DIR=$(abspath build/zig-cache);

wheel: $(STAMPS)/wheel

# auditwheel ARCH ARGS...: auditwheel offers the platform tags of the build
# machine's architecture only, so it is told the wheel's; what it checks, it
# reads from the ELF files, whatever the machine.
AUDITWHEEL = $(PY) -c 'import platform, sys; arch = sys.argv.pop(1); platform.machine = lambda: arch; \
    from auditwheel.main import main; sys.exit(main())'

# $(call build-wheel,PYTHON,ARCH): a wheel from the sdist for PYTHON's version
# on ARCH, built by PYTHON's venv. The module suffix and the platform tag are
# the target's, not those of the Python that builds.
define build-wheel
$(ZIG_ENV) ZIG_TARGET=$(2)-linux-gnu.$(GLIBC_FLOOR) CMAKE_TOOLCHAIN_FILE=$(abspath cmake/zig.cmake) \
    PKG_CONFIG_LIBDIR=$(abspath $(DEPS)/$(2)/pkgconfig) _PYTHON_HOST_PLATFORM=linux-$(2) \
    SETUPTOOLS_EXT_SUFFIX=$$($(1) -c 'import sysconfig; print(sysconfig.get_config_var("EXT_SUFFIX").replace("x86_64", "$(2)"))') \
    $(1) -m pip wheel -q --no-deps --no-build-isolation --wheel-dir $(WHEEL_BUILD) $(DIST)/tarnu-*.tar.gz

endef

$(STAMPS)/wheel: $(STAMPS)/venv $(if $(PYTHON313),$(STAMPS)/venv313) $(SOURCES) README.md cmake/zig.cmake \
                 $(WHEEL_ARCHS:%=$(DEPS)/%/pkgconfig/geographiclib.pc)
	rm -rf $(WHEEL_BUILD) $(DIST)/tarnu-* && mkdir -p $(WHEEL_BUILD) $(DIST)
	$(PY) -m build --sdist --no-isolation --outdir $(DIST) . >/dev/null
	$(foreach arch,$(WHEEL_ARCHS),$(call build-wheel,$(PY),$(arch)))
	$(if $(PYTHON313),$(foreach arch,$(WHEEL_ARCHS),$(call build-wheel,$(PY313),$(arch))), \
	    @echo "Python 3.13 not found: no 3.13 wheels (set PYTHON313=/path/to/python3.13)")
	for arch in $(WHEEL_ARCHS); do \
	    LD_LIBRARY_PATH=$(abspath $(DEPS))/$$arch/lib PATH="$(abspath $(VENV))/bin:$$PATH" $(AUDITWHEEL) $$arch \
	        repair --plat manylinux_$(subst .,_,$(GLIBC_FLOOR))_$$arch --only-plat --wheel-dir $(DIST) \
	        $(WHEEL_BUILD)/*_$$arch.whl || exit 1; done
	@for w in $(DIST)/*.whl; do echo "$$w: $$(stat -c %s $$w) bytes, carries" \
	    $$($(PY) -m zipfile -l $$w | grep -o 'tarnu[^ ]*\.so[^ ]*'); done
	@touch $@

# build/deps/ARCH/: what a wheel for ARCH links, each library with a
# pkg-config file. GeographicLib: the three sources of its geodesic classes,
# compiled from Debian's source package into a static library with hidden
# symbols, in double precision as Debian builds it (its Config.h written
# here; CMake would write the same); no fused multiply-adds, on aarch64 as on
# x86-64. SLEEF: Debian's header and shared library for ARCH (multiarch).
$(DEPS)/%/pkgconfig/geographiclib.pc: $(STAMPS)/venv $(STAMPS)/debian | $(GEOGRAPHICLIB_SOURCE)/
	rm -rf $(DEPS)/$* && mkdir -p $(DEPS)/$*/include/GeographicLib $(DEPS)/$*/lib $(DEPS)/$*/obj $(@D)
	cp $(GEOGRAPHICLIB_SOURCE)/include/GeographicLib/*.hpp $(DEPS)/$*/include/GeographicLib/
	printf '#define %s\n' 'GEOGRAPHICLIB_VERSION_STRING "2.1.2"' 'GEOGRAPHICLIB_VERSION_MAJOR 2' \
	    'GEOGRAPHICLIB_VERSION_MINOR 1' 'GEOGRAPHICLIB_VERSION_PATCH 2' 'GEOGRAPHICLIB_DATA ""' \
	    'GEOGRAPHICLIB_HAVE_LONG_DOUBLE 1' 'GEOGRAPHICLIB_WORDS_BIGENDIAN 0' 'GEOGRAPHICLIB_PRECISION 2' \
	    'GEOGRAPHICLIB_SHARED_LIB 0' > $(DEPS)/$*/include/GeographicLib/Config.h
	$(ZIG_ENV) for f in Math Geodesic GeodesicLine; do \
	    $$ZIG c++ -target $*-linux-gnu.$(GLIBC_FLOOR) -std=c++11 -O2 -fPIC -fvisibility=hidden \
	        -ffp-contract=off -I$(DEPS)/$*/include -c $(GEOGRAPHICLIB_SOURCE)/src/$$f.cpp \
	        -o $(DEPS)/$*/obj/$$f.o || exit 1; done && \
	    $$ZIG ar rcs $(DEPS)/$*/lib/libGeographicLib.a $(DEPS)/$*/obj/*.o
	cp /usr/include/$*-linux-gnu/sleef.h $(DEPS)/$*/include/
	cp /usr/lib/$*-linux-gnu/libsleef.so.3 $(DEPS)/$*/lib/ && ln -s libsleef.so.3 $(DEPS)/$*/lib/libsleef.so
	for lib in GeographicLib:geographiclib:2.1.2 sleef:sleef:3.5.1; do IFS=: read -r name file version <<< "$$lib"; \
	    printf '%s\n' "Name: $$file" "Description: $$name for $*" "Version: $$version" \
	        "Libs: -L$(abspath $(DEPS))/$*/lib -l$$name" "Cflags: -I$(abspath $(DEPS))/$*/include" \
	        > $(@D)/$$file.pc; done

# test-wheel: what a user gets, the repaired 3.12 wheel for x86_64 installed with its
# declared dependencies into a venv that holds only the test tools, and the
# tests run from a directory where the source tree cannot shadow the package.
# TARNU_WHEEL (the wheel's path) turns on tests/test_wheel.py: the libraries
# inside the wheel are the ones loaded, the module runs
# on older, emulated CPUs, and the README names the wheel by its file name. The venv is made anew when the requirements change, and the
# wheel replaced in it when the wheel changes.
WHEEL_TEST := build/wheel-test
WHEEL_VENV := .venv-wheel
# No pyarrow: `tarnu batch` is tested here without it (and with it in .venv).
WHEEL_TEST_PACKAGES := pytest geographiclib dask distributed hypothesis pandas xarray

test-wheel: $(STAMPS)/install-wheel
	rm -rf $(WHEEL_TEST) && mkdir -p $(WHEEL_TEST)
	cp -r tests README.md $(WHEEL_TEST)/
	cd $(WHEEL_TEST) && TARNU_WHEEL=$$(ls $(abspath $(DIST))/tarnu-*-cp312-*_x86_64.whl) \
	    $(abspath $(WHEEL_VENV))/bin/python -m pytest -q -p no:cacheprovider \
	    --basetemp=$(abspath build/pytest-wheel) tests

$(STAMPS)/venv-wheel: requirements-dev.txt | $(STAMPS)/debian
	$(call need-python,$(PYTHON312),3.12)
	rm -rf $(WHEEL_VENV)
	$(PYTHON312) -m venv $(WHEEL_VENV)
	$(WHEEL_VENV)/bin/python -m pip install -q $(WHEEL_TEST_PACKAGES) -c requirements-dev.txt
	@touch $@

$(STAMPS)/install-wheel: $(STAMPS)/venv-wheel $(STAMPS)/wheel
	$(WHEEL_VENV)/bin/python -m pip uninstall -q -y tarnu
	$(WHEEL_VENV)/bin/python -m pip install -q $(DIST)/tarnu-*-cp312-*_x86_64.whl -c requirements-dev.txt
	@touch $@

install: $(STAMPS)/install

# The stamp holds the package list it was made for. It is checked on every
# run and rewritten, after installing what is missing, only when the list has
# changed: a package added later reaches machines set up before.
$(STAMPS)/debian: FORCE
	@mkdir -p $(STAMPS)
	@if [ "$$(cat $@ 2>/dev/null)" != "$(DEBIAN_PACKAGES)" ]; then \
	    if ! dpkg -s $(DEBIAN_PACKAGES) >/dev/null 2>&1; then \
	        SUDO=$$([ "$$(id -u)" = 0 ] || echo sudo); \
	        $$SUDO dpkg --add-architecture arm64 && \
	        $$SUDO apt-get -o DPkg::Lock::Timeout=900 update -qq && \
	        DEBIAN_FRONTEND=noninteractive $$SUDO apt-get -o DPkg::Lock::Timeout=900 \
	            install -y -qq --no-install-recommends $(DEBIAN_PACKAGES); \
	    fi && echo "$(DEBIAN_PACKAGES)" > $@; \
	fi

# $(call need-python,PYTHON,VERSION): stop with a way out when it was not found.
define need-python
@test -n "$(1)" || { echo "Python $(2) not found. Give its path, as in" \
    "PYTHON$(subst .,,$(2))=/path/to/python$(2) make test, or install it with pyenv" \
    "(pyenv install $(2)), whose versions this Makefile finds by itself." >&2; exit 1; }
endef

# $(call make-venv,PYTHON,DIR,VERSION): a venv in DIR with the development
# requirements (pip's own version among them).
define make-venv
$(call need-python,$(1),$(3))
test -x $(2)/bin/python || $(1) -m venv $(2)
$(2)/bin/python -m pip install -q -r requirements-dev.txt
@touch $@
endef

FORCE:

$(STAMPS)/venv: requirements-dev.txt $(STAMPS)/debian
	$(call make-venv,$(PYTHON312),$(VENV),3.12)

$(STAMPS)/install: $(STAMPS)/venv $(SOURCES)
	$(PY) -m pip install -q --no-build-isolation --no-deps .
	@touch $@

clean:
	rm -rf build $(STAMPS)

# --- aarch64, emulated --------------------------------------------------------
#
# test-aarch64: the C++ tests, built by Debian's cross compiler against
# Debian's arm64 libraries, and the test suite against the aarch64 wheel for
# Python 3.13, both run by qemu-aarch64.
#
# The Python that runs them is Debian 13's python3.13 for arm64, with every
# package it depends on down to libc, unpacked into a sysroot: apt reads a
# list of its own and resolves against an empty package status, all under
# build/aarch64/apt, so the system's apt state stays as it is. Its venv is
# one in all but the interpreter: bin/python starts qemu-aarch64 with the
# sysroot, and passes its own path as argv[0], so that sys.executable, and
# every child process started through it, goes through qemu too. The host's
# Python 3.13 installs the aarch64 wheels into it and byte-compiles
# everything (byte code is the same on every architecture), so that emulated
# imports do not compile it each time.
ARM := build/aarch64
ARM_VENV := $(ARM)/venv
ARM_SITE := $(ARM_VENV)/lib/python3.13/site-packages
ARM_APT = apt-get -q -o DPkg::Lock::Timeout=900 -o APT::Sandbox::User=root \
    -o APT::Architecture=arm64 -o APT::Architectures=arm64 -o Dir::Etc::sourcelist=$(abspath $(ARM))/apt/trixie.sources \
    -o Dir::Etc::sourceparts=- -o Dir::Etc::preferencesparts=- -o Dir::State::status=$(abspath $(ARM))/apt/status \
    -o Dir::State::Lists=$(abspath $(ARM))/apt/lists -o Dir::Cache=$(abspath $(ARM))/apt/cache
ARM_PIP = $(PY313) -m pip install -q --only-binary=:all: --platform manylinux_2_28_aarch64 \
    --platform manylinux_2_17_aarch64 --platform manylinux2014_aarch64 \
    --python-version 3.13 --implementation cp --abi cp313 --target $(ARM_SITE)

.PHONY: test-aarch64 test-cpp-aarch64 test-python-aarch64
test-aarch64: test-cpp-aarch64 test-python-aarch64

# qemu-user 7.2 aborts a child forked from a threaded process once the child
# starts threads of its own (TCG asserts cpu == current_cpu). The tests that
# do so run natively on x86-64 only.
QEMU_FORK_EXCLUDE := --exclude-regex '^Pool\.ForkAfterUse$$'
# Under emulation pytest also leaves out those tests (their names say
# "fork"), and pandas and xarray's (large imports, nothing that depends on
# the architecture).
ARM_DESELECT := -k 'not fork and not pandas'

# Debian's libgeographiclib-dev exists for one architecture at a time; its
# headers serve both, and its arm64 library comes with libgeographiclib23.
ARM_PKGCONFIG := $(abspath $(ARM))/pkgconfig:/usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig

test-cpp-aarch64: $(STAMPS)/venv
	mkdir -p $(ARM)/pkgconfig $(ARM)/lib
	ln -sf /usr/lib/aarch64-linux-gnu/libGeographicLib.so.23 $(ARM)/lib/libGeographicLib.so
	printf '%s\n' 'Name: GeographicLib' 'Description: Debian'"'"'s arm64 GeographicLib' 'Version: 2.1.2' \
	    'Libs: -L$(abspath $(ARM))/lib -lGeographicLib' > $(ARM)/pkgconfig/geographiclib.pc
	PKG_CONFIG_LIBDIR=$(ARM_PKGCONFIG) $(VENV)/bin/cmake -S . -B build/cpp-aarch64 -G Ninja \
	    -DCMAKE_MAKE_PROGRAM=$(abspath $(VENV))/bin/ninja -DCMAKE_TOOLCHAIN_FILE=$(abspath cmake/aarch64-linux-gnu.cmake) \
	    -DTARNU_BUILD_TESTS=ON -DCMAKE_BUILD_TYPE=Release
	$(VENV)/bin/cmake --build build/cpp-aarch64
	$(VENV)/bin/ctest --test-dir build/cpp-aarch64 --output-on-failure $(QEMU_FORK_EXCLUDE)

$(STAMPS)/aarch64-python: $(STAMPS)/debian
	$(call need-python,$(PYTHON313),3.13)
	rm -rf $(ARM) && mkdir -p $(ARM)/apt/lists/partial $(ARM)/apt/cache/archives/partial $(ARM)/sysroot
	touch $(ARM)/apt/status
	printf '%s\n' 'Types: deb' 'URIs: http://deb.debian.org/debian' 'Suites: trixie' 'Components: main' \
	    'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg' > $(ARM)/apt/trixie.sources
	$(ARM_APT) update -qq
	$(ARM_APT) install -qq -y --download-only --no-install-recommends python3.13 libstdc++6 >/dev/null
	for deb in $(ARM)/apt/cache/archives/*.deb; do dpkg-deb -x $$deb $(ARM)/sysroot || exit 1; done
	ln -s usr/lib $(ARM)/sysroot/lib
	$(PYTHON313) -m compileall -q -j 2 $(ARM)/sysroot/usr/lib/python3.13 >/dev/null || true
	mkdir -p $(ARM_VENV)/bin $(ARM_SITE)
	printf '%s\n' '#!/bin/sh' 'exec qemu-aarch64 -L $(abspath $(ARM))/sysroot -0 "$$0" $(abspath $(ARM))/sysroot/usr/bin/python3.13 "$$@"' \
	    > $(ARM_VENV)/bin/python && chmod +x $(ARM_VENV)/bin/python
	printf '%s\n' 'home = /usr/bin' 'include-system-site-packages = false' > $(ARM_VENV)/pyvenv.cfg
	$(ARM_VENV)/bin/python -c 'import platform, sys; assert platform.machine() == "aarch64" and sys.prefix != sys.base_prefix'
	@touch $@

# test-python-aarch64: the aarch64 wheel for Python 3.13, installed into the
# emulated venv with the test packages, runs the tests of ARM_TESTS from a
# directory where the source tree cannot shadow it. Emulated Python runs
# some thirty times slower than native, so the whole suite would take most
# of an hour: ARM_TESTS holds the files that exercise the compiled code (the
# values, the batch functions, the ufuncs, the function surface, the wheel's
# own libraries and the widths). The command line, Dask, the documents and
# the reliability tests run natively; they do not depend on the architecture.
ARM_TESTS ?= tests/test_values.py tests/test_batch.py tests/test_ufunc.py tests/test_surface.py \
    tests/test_wheel.py

test-python-aarch64: $(STAMPS)/install-aarch64
	rm -rf $(ARM)/tests && mkdir -p $(ARM)/tests
	cp -r tests README.md $(ARM)/tests/
	cd $(ARM)/tests && TARNU_WHEEL=$$(ls $(abspath $(DIST))/tarnu-*-cp313-*_aarch64.whl) \
	    $(abspath $(ARM_VENV))/bin/python -m pytest -q -p no:cacheprovider \
	    --basetemp=$(abspath $(ARM))/pytest $(ARM_TESTS) $(ARM_DESELECT)

$(STAMPS)/venv-aarch64: $(STAMPS)/aarch64-python requirements-dev.txt
	rm -rf $(ARM_SITE) && mkdir -p $(ARM_SITE)
	$(ARM_PIP) $(WHEEL_TEST_PACKAGES) numpy tqdm -c requirements-dev.txt
	@touch $@

# The wheel replaces the one before it; its command is written as pip would
# write it into a venv's bin/.
$(STAMPS)/install-aarch64: $(STAMPS)/venv-aarch64 $(STAMPS)/wheel
	rm -rf $(ARM_SITE)/tarnu $(ARM_SITE)/tarnu-*.dist-info $(ARM_SITE)/tarnu.libs
	$(ARM_PIP) --no-deps $(DIST)/tarnu-*-cp313-*_aarch64.whl
	printf '%s\n' '#!$(abspath $(ARM_VENV))/bin/python' 'import sys' 'from tarnu.cli import main' \
	    'sys.exit(main())' > $(ARM_VENV)/bin/tarnu && chmod +x $(ARM_VENV)/bin/tarnu
	@touch $@

# --- reliability checks (part of `make test`; `make check` alone runs them) ---
#
# lint: cppcheck over core/, pool/ and ext/. useStlAlgorithm is off: it asks for
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
	    -I core/include -I core -I pool/include -I ext core pool ext

ASAN_VENV := .venv-asan
ASAN_PY := $(ASAN_VENV)/bin/python
ASAN_ENV = LD_PRELOAD="$$(g++ -print-file-name=libasan.so) $$(g++ -print-file-name=libstdc++.so)" \
    ASAN_OPTIONS=detect_leaks=0 \
    UBSAN_OPTIONS=print_stacktrace=1 PYTHONMALLOC=malloc

test-asan: test-cpp-asan test-python-asan

test-cpp-asan: $(STAMPS)/venv
	$(VENV)/bin/cmake -S . -B build/cpp-asan -G Ninja -DCMAKE_MAKE_PROGRAM=$(abspath $(VENV))/bin/ninja \
	    -DTARNU_BUILD_TESTS=ON -DTARNU_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
	$(VENV)/bin/cmake --build build/cpp-asan
	$(VENV)/bin/ctest --test-dir build/cpp-asan --output-on-failure

# The suite must run the sanitized module: the installed .so links libasan
# and the test process has the runtime loaded.
test-python-asan: $(STAMPS)/install-asan
	so=$$(ls $$($(ASAN_PY) -c 'import importlib.util as u, os; print(os.path.dirname(u.find_spec("tarnu").origin))')/_tarnu*.so) && \
	    readelf -d "$$so" | grep -q 'NEEDED.*libasan' || { echo "$$so: not built with ASan" >&2; exit 1; }
	$(ASAN_ENV) $(ASAN_PY) -c 'import tarnu._tarnu as m; \
	    assert "/$(ASAN_VENV)/" in m.__file__ and "libasan" in open("/proc/self/maps").read()'
	$(ASAN_ENV) TARNU_SANITIZED=1 $(ASAN_PY) -m pytest -q -p no:cacheprovider --basetemp=build/pytest-asan

$(STAMPS)/venv-asan: requirements-dev.txt $(STAMPS)/debian
	$(call make-venv,$(PYTHON312),$(ASAN_VENV),3.12)

$(STAMPS)/install-asan: $(STAMPS)/venv-asan $(SOURCES)
	$(ASAN_PY) -m pip install -q --no-build-isolation --no-deps -C cmake.define.TARNU_SANITIZE=ON \
	    -C cmake.build-type=RelWithDebInfo -C 'build-dir=build/asan/{wheel_tag}' .
	@touch $@

# Performance against the peers (bench/requirements.txt, installed into the same
# venv): writes bench/RESULTS.md, bench/throughput.svg and the README's
# Performance block. bench-quick checks that every part runs (few sizes and
# repeats; writes build/bench-quick/ only).
.PHONY: bench bench-quick
bench: $(STAMPS)/install $(STAMPS)/bench $(STAMPS)/wheel
	rm -rf build/bench-wheel && $(PY) -m zipfile -e $$(ls $(DIST)/tarnu-*-cp312-*_x86_64.whl) build/bench-wheel
	$(PY) bench/run.py

bench-quick: $(STAMPS)/install $(STAMPS)/bench
	$(PY) bench/run.py --quick

$(STAMPS)/bench: bench/requirements.txt $(STAMPS)/venv
	$(PY) -m pip install -q -r bench/requirements.txt
	@touch $@
