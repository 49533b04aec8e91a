# Convenience entry points; CMake does the building.
BUILD ?= build
ASAN_BUILD ?= build-asan
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all build run test test-unit test-asan clean

all: build

build:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
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
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-asan:
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DAGESWEEP_SANITIZE=ON >/dev/null
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ctest --output-on-failure -j $(JOBS)

test: test-unit test-asan

clean:
	rm -rf $(BUILD) $(ASAN_BUILD)
