# make demo: install what is missing, build, and run the main job in a throwaway Wine prefix.
# make test: install what is missing, build, and run the whole suite under Wine.
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all deps configure build test demo bench fuzz clean

all: build

deps:
	@scripts/setup-deps.sh

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release

configure: deps $(BUILD)/CMakeCache.txt

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	scripts/run-tests.sh $(BUILD)

demo: build
	scripts/demo.sh $(BUILD)

bench: build
	scripts/bench.sh $(BUILD)

# make fuzz: the long randomized campaigns (scripts/fuzz.sh), about half an hour on two cores.
fuzz: build
	scripts/fuzz.sh $(BUILD)

clean:
	rm -rf $(BUILD)
