BUILD ?= build
JOBS ?= $(shell nproc)
# The build is kept warning-free; WERROR=OFF builds anyway on a newer compiler.
WERROR ?= ON
# Where `make install` puts Lomex: no root needed; PREFIX=/usr/local for a system install.
PREFIX ?= $(HOME)/.local

.PHONY: all build test run bench clean bootstrap install uninstall

all: build

bootstrap:
	@scripts/bootstrap

$(BUILD)/build.ninja: CMakeLists.txt
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLOMEX_WERROR=$(WERROR)

build: bootstrap $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

run: build
	$(BUILD)/lomex

bench: build
	@for b in $(BUILD)/bench/bench_*; do if [ -f "$$b" ] && [ -x "$$b" ]; then "$$b" || exit 1; fi; done

install: build
	cmake --install $(BUILD) --prefix "$(PREFIX)"
	@# Our own copy of the list: a test that installs elsewhere rewrites install_manifest.txt.
	cp $(BUILD)/install_manifest.txt $(BUILD)/lomex-installed.txt

uninstall:
	cmake -DMANIFEST="$(CURDIR)/$(BUILD)/lomex-installed.txt" -DPREFIX="$(PREFIX)" -P cmake/Uninstall.cmake

clean:
	rm -rf $(BUILD)
