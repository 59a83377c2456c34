# Thin wrapper over the CMake presets; CMake does the real work.
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
PREFIX ?= /usr/local

.PHONY: all build test asan demo install uninstall package clean

all: build

build:
	cmake --preset default
	cmake --build --preset default -j $(JOBS)

test: build
	ctest --preset default

asan:
	cmake --preset asan
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan

demo: build
	tools/demo.sh build/default/bin

release:
	cmake --preset release -DCMAKE_INSTALL_PREFIX=$(PREFIX)
	cmake --build --preset release -j $(JOBS)

install: release
	DESTDIR="$(DESTDIR)" cmake --install build/release

clean:
	rm -rf build
