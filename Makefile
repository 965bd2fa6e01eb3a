# Thin wrapper over CMake: `make demo` and `make test` do all set-up.
BUILD       ?= build
SAN_BUILD   ?= build-sanitize
FUZZ_BUILD  ?= build-fuzz
WEB_BUILD   ?= build-web
WEB_PORT    ?= 8080
PKG_BUILD   ?= build-package
STAGE       ?= build-stage
PREFIX      ?= /usr/local
DESTDIR     ?=
FUZZ_SECONDS ?= 60
JOBS        ?= $(shell nproc 2>/dev/null || echo 2)
GENERATOR   := $(if $(shell command -v ninja 2>/dev/null),-G Ninja,)
WERROR      ?= OFF
CXX_SAN     ?= $(if $(shell command -v clang++ 2>/dev/null),clang++,g++)

.PHONY: all deps deps-web build demo gallery test test-sanitize bench fuzz valgrind install package install-check web web-serve test-web clean

all: build

# Installs missing Debian packages (a no-op when everything is there).
deps:
	@bash scripts/install-deps.sh

# The same and what the designer page and its browser tests need.
deps-web:
	@bash scripts/install-deps.sh --web

$(BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD) $(GENERATOR) -DCMAKE_BUILD_TYPE=Release -DVIMBRA_WERROR=$(WERROR)

build: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

# Only the tool: the tests are not built for it.
demo: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS) --target vimbracli
	$(BUILD)/vimbracli examples/profiles/default.prof examples/fonts/symbols.fnt $(BUILD)/demo.bmp \
	    'Vimbra LCD \x00\x02' 'Temp 21.5\x01C \x05\x06'
	@echo "Wrote $(BUILD)/demo.bmp"

# The README's pictures, made by the tool: docs/gallery/*.png, docs/bargraph.png
# and the character-set charts.
gallery: build
	bash scripts/gallery.sh $(BUILD)
	bash scripts/charts.sh $(BUILD)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

$(SAN_BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(SAN_BUILD) $(GENERATOR) -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=$(CXX_SAN) \
	    -DVIMBRA_SANITIZE=ON -DVIMBRA_WERROR=ON

test-sanitize: $(SAN_BUILD)/CMakeCache.txt
	cmake --build $(SAN_BUILD) -j $(JOBS)
	cd $(SAN_BUILD) && ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:abort_on_error=0 \
	    UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 ctest --output-on-failure -j $(JOBS)

$(FUZZ_BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(FUZZ_BUILD) $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
	    -DVIMBRA_FUZZ=ON -DVIMBRA_TESTS=OFF -DVIMBRA_WERROR=ON

# Builds the fuzz targets and runs each for FUZZ_SECONDS; any finding fails.
fuzz: $(FUZZ_BUILD)/CMakeCache.txt
	cmake --build $(FUZZ_BUILD) -j $(JOBS)
	bash fuzz/run.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

bench: build
	bash bench/run.sh

valgrind: build
	bash scripts/valgrind-examples.sh $(BUILD)

# Installs the tool, its man page, examples, character sets and guides under PREFIX, below
# DESTDIR when given, and the host Arduino environment. Only the executable, the man page,
# the changelog and that environment's library are built for it.
install: $(BUILD)/CMakeCache.txt
	cmake -S . -B $(BUILD) -DCMAKE_INSTALL_PREFIX="$(PREFIX)"
	cmake --build $(BUILD) -j $(JOBS) --target vimbracli vimbracli_man vimbracli_changelog vimbra_arduino
	DESTDIR="$(abspath $(DESTDIR))" cmake --install $(BUILD)

# The Debian package, from a Release build of its own without tests: the files of
# `make install PREFIX=/usr`.
$(PKG_BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(PKG_BUILD) $(GENERATOR) -DCMAKE_BUILD_TYPE=Release -DVIMBRA_TESTS=OFF \
	    -DCMAKE_INSTALL_PREFIX=/usr

package: $(PKG_BUILD)/CMakeCache.txt
	cmake --build $(PKG_BUILD) -j $(JOBS) --target package

# Staged install, a run of the installed tool, man page lint, the package's contents and
# lintian. It builds only what it installs.
install-check: | deps
	bash scripts/check-install.sh $(STAGE)

# The designer page, compiled with Debian's Emscripten (its optimiser wants node-acorn).
export NODE_PATH := /usr/share/nodejs
$(WEB_BUILD)/CMakeCache.txt: | deps-web
	emcmake cmake -S . -B $(WEB_BUILD) -DCMAKE_BUILD_TYPE=Release -DVIMBRA_TESTS=OFF

web: $(WEB_BUILD)/CMakeCache.txt
	cmake --build $(WEB_BUILD) -j $(JOBS)

web-serve: web
	node web/serve.mjs $(WEB_BUILD)/site $(WEB_PORT)

# Browser tests: headless Chromium driven by Node's test runner.
test-web: deps-web build web
	cd web && npm ci --no-audit --no-fund
	node --test tests/web/

clean:
	rm -rf $(BUILD) $(SAN_BUILD) $(FUZZ_BUILD) $(PKG_BUILD) $(STAGE) $(WEB_BUILD)
