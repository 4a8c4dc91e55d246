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

# make try PACKAGE=<package folder> [NEWER=<folder of its next release>] [JSON=1]: the package's
# lifecycle (install, verify, restart, damage and repair, upgrade, uninstall) in a throwaway Wine
# prefix, and a report of each step and of what the uninstall left behind.
.PHONY: try
# Standard output carries the report alone (the build's output goes to standard error).
try:
	@test -n "$(PACKAGE)" || { echo "usage: make try PACKAGE=<package folder> [NEWER=<folder>] [JSON=1]" >&2; exit 2; }
	@$(MAKE) --no-print-directory build >&2
	@scripts/try.sh $(BUILD) "$(PACKAGE)" $(if $(NEWER),--newer "$(NEWER)") $(if $(JSON),--json)
