# Entry points for people and CI. Builds use CMake presets (Ninja + ccache) under build/<preset>.
PRESET ?= dev
WERROR ?= ON
BUILD_DIR = build/$(PRESET)
JOBS ?= $(shell nproc)

.PHONY: deps configure build run test test-asan test-tsan test-pipewire bench package install-package format format-check clean

deps:
	scripts/install-deps

configure: deps
	cmake --preset $(PRESET) -DPARLO_WARNINGS_AS_ERRORS=$(WERROR)

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	$(BUILD_DIR)/src/mello-parlo

# The whole suite, with the private sound server that the capture and detection tests talk to. The
# tests that talk to the sound server run last, and one that fails is run once more: they measure
# tones played by other processes, and on a shared two-core machine a player or the daemon sometimes
# misses its turn. The failed attempt's output stays in the log.
CTEST = ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS) --timeout 300
test: build
	LSAN_OPTIONS=suppressions=$(CURDIR)/tests/sanitizer/lsan.supp:print_suppressions=0 \
	scripts/test-sound-server sh -c '$(CTEST) -LE soundserver && $(CTEST) -L soundserver --repeat until-pass:2'

test-asan:
	$(MAKE) test PRESET=asan

# The audio queue and the capture threads under the thread sanitizer: the capture unit tests and the
# tests that record from the sound server (the recorder, and the model recording a call). The tests
# that measure a tone's level to a few hundredths are left out: the sanitizer slows the capture enough
# to lose audio on the test daemon, which says nothing about races.
TSAN_TARGETS = parlo_unit_tests parlo_capture_tests parlo_recording_tests
TSAN_LEVEL_TESTS = RecorderTest.TonesOfBothSourcesEndUpInTheConversation:RecorderTest.KilledDaemon*
test-tsan: deps
	cmake --preset tsan -DPARLO_WARNINGS_AS_ERRORS=$(WERROR)
	cmake --build build/tsan -j $(JOBS) --target $(TSAN_TARGETS)
	QT_QPA_PLATFORM=offscreen TSAN_OPTIONS="suppressions=$(CURDIR)/tests/sanitizer/tsan.supp halt_on_error=1 die_after_fork=0" \
	scripts/test-sound-server sh -c 'set -e; cd build/tsan/tests; \
	  ./parlo_unit_tests --gtest_filter="Capture*:TimelineTrack*:StreamClock*:Mixer*"; \
	  ./integration/capture/parlo_capture_tests --gtest_filter="-$(TSAN_LEVEL_TESTS)"; \
	  ./integration/recording/parlo_recording_tests --gtest_filter="RecordingEndToEnd.*"'

# The tests that talk to a sound server, once more on PipeWire (with WirePlumber and pipewire-pulse).
# A test that fails is run once more: on a shared two-core machine PipeWire sometimes delivers a
# quantum (21.3 ms) late, which the tests measuring tones see; the failed attempt's output stays in
# the log. The two-minute sample-by-sample timeline test is left to PulseAudio: on PipeWire's null
# sinks the played noise itself has holes of 20-40 ms (zeros in both tracks at one place) and the
# deliveries move by a quantum without a reported break, so there it measures the test server.
test-pipewire: build
	LSAN_OPTIONS=suppressions=$(CURDIR)/tests/sanitizer/lsan.supp:print_suppressions=0 \
	PARLO_SOUND_SERVER=pipewire scripts/test-sound-server \
	ctest --test-dir $(BUILD_DIR) -L soundserver -LE soundserver-long --output-on-failure --timeout 300 \
	--repeat until-pass:2

bench:
	$(MAKE) build PRESET=release
	scripts/test-sound-server scripts/run-benchmarks build/release

# The Debian package, from the release preset: build/release/mello-parlo_<version>_<arch>.deb, with
# the screenshot for the metainfo beside it (build/release/screenshots/main.png).
package: deps
	cmake --preset release -DPARLO_WARNINGS_AS_ERRORS=$(WERROR)
	cmake --build build/release -j $(JOBS) --target mello-parlo parlo_icons screenshots
	rm -f build/release/mello-parlo_*.deb
	cd build/release && cpack -G DEB

# Builds the package and installs it with apt, as a user of a released package would.
install-package: package
	$(if $(filter 0,$(shell id -u)),,sudo) apt-get install -y --reinstall ./build/release/mello-parlo_*.deb

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

format-check:
	git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

clean:
	rm -rf build
