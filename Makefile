# Thin wrapper over CMake: `make demo` and `make test` do all set-up.
BUILD       ?= build
SAN_BUILD   ?= build-sanitize
JOBS        ?= $(shell nproc 2>/dev/null || echo 2)
GENERATOR   := $(if $(shell command -v ninja 2>/dev/null),-G Ninja,)
WERROR      ?= OFF
CXX_SAN     ?= $(if $(shell command -v clang++ 2>/dev/null),clang++,g++)

.PHONY: all build demo test test-sanitize bench fuzz clean

all: build

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) $(GENERATOR) -DCMAKE_BUILD_TYPE=Release -DVIMBRA_WERROR=$(WERROR)

build: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

demo: build
	$(BUILD)/vimbracli examples/profiles/default.prof examples/fonts/symbols.fnt $(BUILD)/demo.bmp \
	    'Vimbra \x00 LCD 16x2' 'Temp 21.5\x01C \x02'
	@echo "Wrote $(BUILD)/demo.bmp"

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

$(SAN_BUILD)/CMakeCache.txt:
	cmake -S . -B $(SAN_BUILD) $(GENERATOR) -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=$(CXX_SAN) \
	    -DVIMBRA_SANITIZE=ON -DVIMBRA_WERROR=ON

test-sanitize: $(SAN_BUILD)/CMakeCache.txt
	cmake --build $(SAN_BUILD) -j $(JOBS)
	cd $(SAN_BUILD) && ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:abort_on_error=0 \
	    UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 ctest --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD) $(SAN_BUILD)
