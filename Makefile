BUILD ?= build
JOBS ?= $(shell nproc)
# The build is kept warning-free; WERROR=OFF builds anyway on a newer compiler.
WERROR ?= ON
# Where `make install` puts Lomex: no root needed; PREFIX=/usr/local for a system install.
PREFIX ?= $(HOME)/.local

.PHONY: all build app test test-asan run bench clean bootstrap bootstrap-tests install uninstall

all: build

# What building and running need (make run, make install); the tests' tools come on top only
# for the targets that build the tests, so a desktop that runs Lomex gets none of them.
bootstrap:
	@scripts/bootstrap
bootstrap-tests:
	@scripts/bootstrap --tests

$(BUILD)/build.ninja: CMakeLists.txt
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLOMEX_WERROR=$(WERROR)

# A folder configured before GoogleTest was there is configured again once it is.
build: bootstrap-tests $(BUILD)/build.ninja
	@grep -qx 'LOMEX_TESTS:INTERNAL=ON' $(BUILD)/CMakeCache.txt || cmake $(BUILD) >/dev/null
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure --no-tests=error -j $(JOBS)

# The program alone, without the tests and benchmarks.
app: bootstrap $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS) --target lomex

run: app
	$(BUILD)/lomex

bench: build
	@for b in $(BUILD)/bench/bench_*; do if [ -f "$$b" ] && [ -x "$$b" ]; then "$$b" || exit 1; fi; done

# The tests again with AddressSanitizer and UndefinedBehaviorSanitizer, in a build folder of their
# own. No optimisation, line tables only and precompiled headers keep the build short and the
# stacks readable; Qt sets QT_NO_DEBUG for this build type, so its debug asserts stay off. Any
# report ends the process with exit code 66, so it fails the test (or the child process a test
# checks) that caused it; leaks are checked when each test process ends.
ASAN_BUILD ?= build-asan
SANITIZE := -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer
ASAN_ENV := ASAN_OPTIONS=halt_on_error=1:detect_stack_use_after_return=1:detect_leaks=1:exitcode=66:check_initialization_order=1 \
	LSAN_OPTIONS=exitcode=66:suppressions=$(CURDIR)/tests/asan.supp:print_suppressions=0 \
	UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1:exitcode=66

$(ASAN_BUILD)/build.ninja: CMakeLists.txt
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLOMEX_WERROR=$(WERROR) \
	  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O0 -g1 -DNDEBUG" -DCMAKE_CXX_FLAGS="$(SANITIZE)" \
	  -DCMAKE_EXE_LINKER_FLAGS="$(SANITIZE)" -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON -DLOMEX_PCH=ON

test-asan: bootstrap-tests $(ASAN_BUILD)/build.ninja
	@grep -qx 'LOMEX_TESTS:INTERNAL=ON' $(ASAN_BUILD)/CMakeCache.txt || cmake $(ASAN_BUILD) >/dev/null
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && $(ASAN_ENV) QT_QPA_PLATFORM=offscreen ctest --output-on-failure --no-tests=error -j $(JOBS)

install: app
	cmake --install $(BUILD) --prefix "$(PREFIX)"
	@# Our own copy of the list: a test that installs elsewhere rewrites install_manifest.txt.
	cp $(BUILD)/install_manifest.txt $(BUILD)/lomex-installed.txt

# First puts back what Lomex changed in the agents' files (FORCE=1 removes it even when it cannot).
FORCE ?=
uninstall:
	cmake -DMANIFEST="$(CURDIR)/$(BUILD)/lomex-installed.txt" -DPREFIX="$(PREFIX)" -DFORCE="$(FORCE)" -P cmake/Uninstall.cmake

clean:
	rm -rf $(BUILD) $(ASAN_BUILD)
