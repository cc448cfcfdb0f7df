# The whole set-up on a fresh machine: `make demo` and `make test`.
BUILD ?= build
GENERATOR ?= Ninja
JOBS ?= 2
CMAKE_FLAGS ?=
ifeq ($(CI),true)
  CMAKE_FLAGS += -DBV_WERROR=ON
endif
FUZZ_SECONDS ?= 60
PREFIX ?= /usr/local

.PHONY: all deps build demo gui screenshots test asan fuzz fuzz-replay format format-check clean bench install package

all: build

deps:
	@bash scripts/install-deps.sh

$(BUILD)/build.ninja: | deps
	cmake -S . -B $(BUILD) -G $(GENERATOR) $(CMAKE_FLAGS)

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j$(JOBS)

demo: build
	@bash scripts/demo.sh $(BUILD)

# The desktop program over the demo backups (XDG_DATA_HOME points at $(BUILD)/gui-data).
gui: build
	@bash scripts/gui.sh $(BUILD)

# The desktop program under Xvfb walks its own states: one PNG each in $(BUILD)/screenshots.
screenshots: build
	@bash scripts/screenshots.sh $(BUILD)

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j$(JOBS) --timeout 600

# Installs the programs under PREFIX (bin, libexec/backvault, share/...); DESTDIR stages.
install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

# The Debian package: $(BUILD)/backvault_<version>_<arch>.deb.
package: build
	cd $(BUILD) && cpack -G DEB

# Engine tests under AddressSanitizer and UndefinedBehaviorSanitizer (no Qt front end).
asan: deps
	cmake -S . -B build-asan -G $(GENERATOR) -DCMAKE_BUILD_TYPE=Debug -DBV_SANITIZE=ON -DBV_BUILD_GUI=OFF $(CMAKE_FLAGS)
	cmake --build build-asan -j$(JOBS)
	cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j$(JOBS) --timeout 900

# Builds the libFuzzer targets with clang and runs each for FUZZ_SECONDS.
fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B build-fuzz -G $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBV_FUZZ=ON -DBV_BUILD_GUI=OFF
	cmake --build build-fuzz -j$(JOBS) --target $$(cd fuzz && ls *_fuzzer.cpp | sed 's/_fuzzer.cpp//;s/^/fuzz_/')
	@bash scripts/fuzz.sh build-fuzz $(FUZZ_SECONDS)

# Replays the seed corpora through the libFuzzer builds (make test replays them too).
fuzz-replay: deps
	CC=clang CXX=clang++ cmake -S . -B build-fuzz -G $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBV_FUZZ=ON -DBV_BUILD_GUI=OFF
	cmake --build build-fuzz -j$(JOBS) --target $$(cd fuzz && ls *_fuzzer.cpp | sed 's/_fuzzer.cpp//;s/^/fuzz_/')
	@bash scripts/fuzz.sh build-fuzz 0

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

# Fails when a tracked C++ file is not formatted as .clang-format says (CI runs it).
format-check: deps
	git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

clean:
	rm -rf $(BUILD) build-asan build-fuzz
