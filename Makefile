# Quellcore: `make test` builds everything and runs every test; `make run` runs Quellcore.
# Both install what is missing first.

BUILD ?= build
JOBS ?= 2
CMAKE_TYPE ?= Release

HOST_DIR := $(BUILD)/host
X86_DIR := $(BUILD)/x86
X64_DIR := $(BUILD)/x64
FUZZ_DIR := $(BUILD)/fuzz
FUZZ_SECONDS ?= 300

.PHONY: all deps build host x86 x64 fuzzer test fuzz run dist bench bench-deps clean

all: build

deps:
	@bash tools/install-deps.sh

$(HOST_DIR)/CMakeCache.txt:
	cmake -S . -B $(HOST_DIR) -DCMAKE_BUILD_TYPE=Debug

# The x86 throttle scenario borrows the x86-64 probe as its 64-bit busy program.
$(X86_DIR)/CMakeCache.txt:
	cmake -S . -B $(X86_DIR) -DCMAKE_BUILD_TYPE=$(CMAKE_TYPE) \
	  -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/toolchain-i686-w64-mingw32.cmake \
	  -DQC_PEER_PROBE=$(abspath $(X64_DIR))/tests/wine/e2e/qc_e2e_probe.exe

$(X64_DIR)/CMakeCache.txt:
	cmake -S . -B $(X64_DIR) -DCMAKE_BUILD_TYPE=$(CMAKE_TYPE) \
	  -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/toolchain-x86_64-w64-mingw32.cmake

# libFuzzer comes with clang, so the fuzzer has a build of its own.
$(FUZZ_DIR)/CMakeCache.txt:
	cmake -S . -B $(FUZZ_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQC_FUZZ=ON \
	  -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14

host: deps $(HOST_DIR)/CMakeCache.txt
	cmake --build $(HOST_DIR) -j $(JOBS)

x86: deps $(X86_DIR)/CMakeCache.txt
	cmake --build $(X86_DIR) -j $(JOBS)

x64: deps $(X64_DIR)/CMakeCache.txt
	cmake --build $(X64_DIR) -j $(JOBS)

fuzzer: deps $(FUZZ_DIR)/CMakeCache.txt
	cmake --build $(FUZZ_DIR) -j $(JOBS) --target qc_fuzz_intake

build: host x86 x64 fuzzer

test: build
	ctest --test-dir $(HOST_DIR) --output-on-failure
	ctest --test-dir $(FUZZ_DIR) --output-on-failure
	@reason=$$(bash tools/x86-runs) || echo "test: the x86 build's Wine tests are skipped: $$reason"
	ctest --test-dir $(X86_DIR) --output-on-failure
	ctest --test-dir $(X64_DIR) --output-on-failure

# The intake fuzzer for FUZZ_SECONDS; what it finds stays in build/fuzz/corpus for the next run.
fuzz: fuzzer
	mkdir -p $(FUZZ_DIR)/corpus
	$(FUZZ_DIR)/tests/fuzz/qc_fuzz_intake -max_total_time=$(FUZZ_SECONDS) -max_len=8192 \
	  -print_final_stats=1 -artifact_prefix=$(FUZZ_DIR)/ $(FUZZ_DIR)/corpus tests/fuzz/corpus

# Running it needs the product and the probe that doubles as its demo load; shipping
# needs only the product. The release executable is the x86 one; where 32-bit programs
# cannot run, the x86-64 build stands in for it.
run: deps $(X86_DIR)/CMakeCache.txt $(X64_DIR)/CMakeCache.txt
	@if reason=$$(bash tools/x86-runs); then \
	  echo "run: the release executable $(X86_DIR)/quellcore.exe (32-bit x86), through Wine's WoW64"; \
	  dir=$(X86_DIR); \
	else \
	  echo "run: $$reason, so the x86-64 build $(X64_DIR)/quellcore.exe runs instead of the x86 release file"; \
	  dir=$(X64_DIR); \
	fi; \
	cmake --build $$dir -j $(JOBS) --target quellcore qc_e2e_probe && bash tools/run.sh $$dir

dist: deps $(X86_DIR)/CMakeCache.txt $(X64_DIR)/CMakeCache.txt
	cmake --build $(X86_DIR) -j $(JOBS) --target quellcore
	cmake --build $(X64_DIR) -j $(JOBS) --target quellcore
	@bash tools/dist.sh $(X86_DIR) $(X64_DIR) dist

# Benchmarks: the engine on the host from its own optimised build without sanitizers,
# then the real executable under Wine beside cpulimit and nice (bench/wine_bench.py).
BENCH_OUT := $(BUILD)/bench/wine

bench-deps:
	@bash tools/install-deps.sh cpulimit gnuplot-nox

# The x86-64 build gets every figure; the x86 release build, in a prefix of its own, the
# throttle and the eight-program hold, skipped (exit 77) where 32-bit programs cannot run.
bench: bench-deps $(X86_DIR)/CMakeCache.txt $(X64_DIR)/CMakeCache.txt
	cmake -S . -B $(BUILD)/bench -DCMAKE_BUILD_TYPE=Release -DQC_SANITIZE=OFF
	cmake --build $(BUILD)/bench -j $(JOBS) --target qc_bench_engine
	$(BUILD)/bench/bench/qc_bench_engine
	cmake --build $(X64_DIR) -j $(JOBS) --target quellcore qc_e2e_probe
	cmake --build $(X86_DIR) -j $(JOBS) --target quellcore qc_e2e_probe
	rm -f $(BENCH_OUT)/figures-*.json
	env QC_WINE_ROOT=$(abspath $(X64_DIR))/wine tools/wine-run --arch x64 --xvfb --timeout 900 --name bench -- \
	  bench/wine_bench.py $(X64_DIR)/quellcore.exe $(X64_DIR)/tests/wine/e2e/qc_e2e_probe.exe $(BENCH_OUT)
	env QC_WINE_ROOT=$(abspath $(X86_DIR))/wine tools/wine-run --arch x86 --xvfb --timeout 600 --name bench -- \
	  bench/wine_bench.py $(X86_DIR)/quellcore.exe $(X86_DIR)/tests/wine/e2e/qc_e2e_probe.exe $(BENCH_OUT) \
	  || [ $$? = 77 ]
	python3 bench/wine_bench.py --report $(BENCH_OUT)

clean:
	rm -rf $(BUILD) dist
