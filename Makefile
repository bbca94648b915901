# Entry points for people and CI. Everything builds out of tree under build/ (build-asan/ for the
# sanitizer build).
BUILD ?= build
ASAN_BUILD ?= build-asan
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps configure build publish test asan-test bench format format-check clean package

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
