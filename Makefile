# Convenience entry points; CMake does the building.
# The makes run by `cmake --build` and by this file itself say nothing of
# the folders they enter, so `make run` shows the run alone.
MAKEFLAGS += --no-print-directory
BUILD ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
WIN_BUILD ?= build-win
# Release builds for installing and for the packages, each configured by the
# "release" preset of CMakePresets.json in its own folder.
RELEASE_BUILD ?= build-release
DEB_BUILD ?= build-deb
WIN_RELEASE_BUILD ?= build-win-release
PREFIX ?= /usr/local
DESTDIR ?=
MINGW_CXX ?= x86_64-w64-mingw32-g++
# Warnings are errors when CMake is given -DAGESWEEP_WERROR=ON. The
# development builds made here are; the Release builds are not, as in any
# user's or distribution's build (CI adds the switch to them).
WERROR = -DAGESWEEP_WERROR=ON
# The toolchain file only counts at the first configure; later ones would
# warn that it went unused.
WIN_CONFIGURE = cmake -S . -B $(WIN_BUILD) $(WERROR) --no-warn-unused-cli \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake >/dev/null
# Wine, as the cross build knows it (AGESWEEP_WINE, set by the toolchain
# file); a shell expression, for use once $(WIN_BUILD) is configured.
WIN_WINE = $$(sed -n 's/^AGESWEEP_WINE:[A-Z]*=//p' $(WIN_BUILD)/CMakeCache.txt)

CONFIGURE = cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(WERROR) >/dev/null
# More arguments for ctest in test-unit and test-asan (tools/test_all.sh asks
# for a JUnit report, where the reasons of skipped tests can be read).
CTEST_ARGS ?=

.PHONY: all build program run test test-unit test-asan test-tsan clean windows \
  test-windows test-windows-if-available bench bench-quick install deb \
  windows-zip fuzz

all: build

build:
	$(CONFIGURE)
	cmake --build $(BUILD) -j $(JOBS)

# The program alone, without the tests.
program:
	$(CONFIGURE)
	cmake --build $(BUILD) -j $(JOBS) --target agesweep

# make run ARGS='/Q /F /tmp/logs /M d /T 7 /L'
# Without ARGS: a logged quiet run on a sample folder made inside $(BUILD).
run: program
ifeq ($(strip $(ARGS)),)
	sh tools/demo.sh $(BUILD)
else
	$(BUILD)/agesweep $(ARGS)
endif

test-unit: build
	cd $(BUILD) && ctest --output-on-failure --no-tests=error -j $(JOBS) $(CTEST_ARGS)

test-asan:
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DAGESWEEP_SANITIZE=ON \
	  $(WERROR) >/dev/null
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ctest --output-on-failure --no-tests=error -j $(JOBS) $(CTEST_ARGS)

# The thread sanitizer over every test, the program's own runs included:
# the walk reads ahead in threads. A race ends the run that met it.
test-tsan:
	cmake -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=Debug \
	  -DAGESWEEP_SANITIZE_THREAD=ON $(WERROR) >/dev/null
	cmake --build $(TSAN_BUILD) -j $(JOBS)
	cd $(TSAN_BUILD) && TSAN_OPTIONS="halt_on_error=1 $$TSAN_OPTIONS" \
	  ctest --output-on-failure --no-tests=error -j $(JOBS) $(CTEST_ARGS)

# agesweep.exe, cross-built with MinGW-w64 (README.md, "Windows build").
windows:
	$(WIN_CONFIGURE)
	cmake --build $(WIN_BUILD) -j $(JOBS) --target agesweep

# Every Windows suite, under Wine on a private Xvfb display.
test-windows:
	$(WIN_CONFIGURE)
	cmake --build $(WIN_BUILD) -j $(JOBS)
	AGESWEEP_WINE="$(WIN_WINE)" python3 platform/win32/tests/run_windows_suites.py $(WIN_BUILD)

test-windows-if-available:
	@if ! command -v $(MINGW_CXX) >/dev/null 2>&1; then \
	  echo "note: $(MINGW_CXX) not installed: Windows suites skipped"; \
	else \
	  $(WIN_CONFIGURE) && wine="$(WIN_WINE)" && \
	  if [ -x "$$wine" ]; then \
	    $(MAKE) --no-print-directory test-windows; \
	  else \
	    echo "note: Wine ($$wine) not installed: Windows suites skipped"; \
	  fi; \
	fi

# Every suite, with one closing line that counts the tests of all of them.
test:
	bash tools/test_all.sh

# agesweep against GNU find and fd on generated trees, in memory, on a cold
# disk and behind a slow share (bench/README.md). bench: every case at full
# size, report in bench/RESULTS.md. bench-quick: smaller trees and no cold
# disk, report in $(BUILD)/bench-quick.md; checks that the script works and
# that the programs select and delete the same files, never a duration.
# More options for the script in BENCH_ARGS, e.g. BENCH_ARGS='--bfs4 BINARY'.
BENCH_ARGS ?=
bench: build
	bash bench/run.sh --build $(BUILD) $(BENCH_ARGS)

bench-quick: build
	bash bench/run.sh --quick --build $(BUILD) $(BENCH_ARGS)

# The libFuzzer targets (fuzz/, clang only), each for 10 minutes; CI runs
# them for a minute each (tools/fuzz.sh SECONDS).
fuzz:
	sh tools/fuzz.sh 600

# make install PREFIX=/opt/agesweep [DESTDIR=/tmp/stage]: bin/agesweep,
# share/man/man1/agesweep.1 and share/bash-completion/completions/agesweep
# under PREFIX.
install:
	cmake --preset release -B $(RELEASE_BUILD) >/dev/null
	cmake --build $(RELEASE_BUILD) -j $(JOBS) --target agesweep
	DESTDIR="$(DESTDIR)" cmake --install $(RELEASE_BUILD) --prefix "$(PREFIX)"

# $(DEB_BUILD)/agesweep_*.deb, built with Debian's compiler flags.
deb:
	bash tools/build_deb.sh $(DEB_BUILD)

# $(WIN_RELEASE_BUILD)/agesweep-*-win64.zip: agesweep.exe and its notes.
windows-zip:
	bash tools/make_windows_zip.sh $(WIN_RELEASE_BUILD)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) $(WIN_BUILD) $(RELEASE_BUILD) $(DEB_BUILD) \
	  $(WIN_RELEASE_BUILD) build-fuzz
