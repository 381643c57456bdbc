# Entry points for people and CI. Builds use CMake presets (Ninja + ccache) under build/<preset>.
PRESET ?= dev
WERROR ?= ON
BUILD_DIR = build/$(PRESET)
JOBS ?= $(shell nproc)

.PHONY: deps configure build run test test-asan bench format format-check clean

deps:
	scripts/install-deps

configure: deps
	cmake --preset $(PRESET) -DPARLO_WARNINGS_AS_ERRORS=$(WERROR)

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	$(BUILD_DIR)/src/mello-parlo

# The whole suite, with the private sound server that the capture and detection tests talk to.
test: build
	LSAN_OPTIONS=suppressions=$(CURDIR)/tests/sanitizer/lsan.supp:print_suppressions=0 \
	scripts/test-sound-server ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS) --timeout 300

test-asan:
	$(MAKE) test PRESET=asan

bench:
	$(MAKE) build PRESET=release
	scripts/test-sound-server scripts/run-benchmarks build/release

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

format-check:
	git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

clean:
	rm -rf build
