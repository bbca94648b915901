# Entry points for people and CI. Everything builds out of tree under build/ (build-asan/ for the
# sanitizer build).
BUILD ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps configure build publish test asan-test tsan-test bench format format-check clean package

all: build

deps:
	bash scripts/install-deps.sh

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)

configure: $(BUILD)/build.ninja

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# The main job: the demo team's planning for this month, published as an HTML page and a picture page.
publish: deps build
	bash scripts/publish-demo.sh $(BUILD)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

$(ASAN_BUILD)/build.ninja:
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DROTAVINE_SANITIZE=ON \
	      -DROTAVINE_BUILD_BENCH=OFF $(CMAKE_FLAGS)

asan-test: $(ASAN_BUILD)/build.ninja
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	    ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS)

# The mailbox layer's tests under ThreadSanitizer: the files of a calendar folder are parsed on several
# threads. Only those tests are built, their names read from their CMakeLists.txt; those that run the whole
# program are left to the other stages.
MAILBOX_TESTS := $(shell awk '/^rotavine_add_test.*LAYER mailbox/ { sub(/^rotavine_add_test./, ""); names[++n] = $$1 } \
    /^add_dependencies.* rotavine[^_]/ { sub(/^add_dependencies./, ""); whole[$$1] = 1 } \
    END { for (i = 1; i <= n; ++i) if (!(names[i] in whole)) print names[i] }' tests/mailbox/CMakeLists.txt)
# The corpus walks of tst_icalendar and tst_calendarcache check flood files cut after half a second of
# expanding, a cut that TSan's slowness moves.
TSAN_TESTS := $(filter-out tst_icalendar tst_calendarcache,$(MAILBOX_TESTS))
empty :=
space := $(empty) $(empty)

$(TSAN_BUILD)/build.ninja:
	cmake -S . -B $(TSAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DROTAVINE_TSAN=ON \
	      -DROTAVINE_BUILD_BENCH=OFF $(CMAKE_FLAGS)

tsan-test: $(TSAN_BUILD)/build.ninja
	cmake --build $(TSAN_BUILD) -j $(JOBS) --target $(TSAN_TESTS)
	TSAN_OPTIONS=halt_on_error=1:die_after_fork=0:suppressions=$(CURDIR)/tests/tsan.supp \
	    ctest --test-dir $(TSAN_BUILD) --output-on-failure -j $(JOBS) \
	    -R '^($(subst $(space),|,$(strip $(TSAN_TESTS))))$$'

# The Debian package of a Release build, written as build-package/rotavine_<version>_<arch>.deb.
PACKAGE_BUILD ?= build-package
package:
	cmake -S . -B $(PACKAGE_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DROTAVINE_BUILD_TESTS=OFF \
	      -DROTAVINE_BUILD_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build $(PACKAGE_BUILD) -j $(JOBS) --target rotavine
	cd $(PACKAGE_BUILD) && cpack -G DEB

format:
	git ls-files --cached --others --exclude-standard '*.cpp' '*.h' | xargs clang-format -i

format-check:
	git ls-files --cached --others --exclude-standard '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(PACKAGE_BUILD)

# Benchmarks print their figures; the big mailbox is generated once under ~/.cache/rotavine-bench.
bench: build
	$(BUILD)/bin/bench-mailbox
	$(BUILD)/bin/bench-paint
	$(BUILD)/bin/bench-output
	$(BUILD)/bin/bench-settings
	$(BUILD)/bin/bench-dav
	bash bench/unattended-runs.sh $(BUILD)
