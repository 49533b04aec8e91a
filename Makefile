# Convenience entry points; CMake does the building.
BUILD ?= build
ASAN_BUILD ?= build-asan
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
WIN_BUILD ?= build-win
MINGW_CXX ?= x86_64-w64-mingw32-g++
WINE ?= /usr/lib/wine/wine64
# The builds made here hold the code to its warnings; a plain CMake build
# does not (AGESWEEP_WERROR is off by default).
WERROR = -DAGESWEEP_WERROR=ON
WIN_CONFIGURE = cmake -S . -B $(WIN_BUILD) $(WERROR) \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake >/dev/null

.PHONY: all build run test test-unit test-asan clean windows test-windows \
  test-windows-if-available bench bench-quick

all: build

build:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(WERROR) >/dev/null
	cmake --build $(BUILD) -j $(JOBS)

# make run ARGS='/Q /F /tmp/logs /M d /T 7 /L'
# Without ARGS: a logged quiet run on a sample folder made inside $(BUILD).
run: build
ifeq ($(strip $(ARGS)),)
	sh tools/demo.sh $(BUILD)
else
	$(BUILD)/agesweep $(ARGS)
endif

test-unit: build
	cd $(BUILD) && ctest --output-on-failure --no-tests=error -j $(JOBS)

test-asan:
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DAGESWEEP_SANITIZE=ON \
	  $(WERROR) >/dev/null
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ctest --output-on-failure --no-tests=error -j $(JOBS)

# agesweep.exe, cross-built with MinGW-w64 (README.md, "Windows build").
windows:
	$(WIN_CONFIGURE)
	cmake --build $(WIN_BUILD) -j $(JOBS) --target agesweep

# Every Windows suite, under Wine on a private Xvfb display.
test-windows:
	$(WIN_CONFIGURE)
	cmake --build $(WIN_BUILD) -j $(JOBS)
	python3 platform/win32/tests/run_windows_suites.py $(WIN_BUILD)

test-windows-if-available:
	@if command -v $(MINGW_CXX) >/dev/null 2>&1 && [ -x $(WINE) ]; then \
	  $(MAKE) --no-print-directory test-windows; \
	else \
	  echo "note: $(MINGW_CXX) or $(WINE) not installed: Windows suites skipped"; \
	fi

# Every suite, with one closing line that counts the tests of all of them.
test:
	bash tools/test_all.sh

# agesweep against GNU find on generated trees (bench/README.md). bench:
# 1,000,000 entries, report in bench/RESULTS.md. bench-quick: 100,000
# entries, report in $(BUILD)/bench-quick.md; checks that the script works
# and that both programs delete the same files, never a duration.
bench: build
	bash bench/run.sh --build $(BUILD)

bench-quick: build
	bash bench/run.sh --quick --build $(BUILD)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(WIN_BUILD)
