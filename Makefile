# Thin wrapper over the CMake presets; CMake does the real work.
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
PREFIX ?= /usr/local
SYSCONFDIR ?= $(PREFIX)/etc

.PHONY: all build test asan fuzz demo kernel-test freebsd-check release install uninstall package clean

all: build

# Each target first checks the Debian packages it needs (tools/packages):
# as root the missing ones are installed, otherwise the command that installs
# them is printed and make stops before CMake runs.
NEED = tools/need-packages

build:
	$(NEED) build
	cmake --preset default
	cmake --build --preset default -j $(JOBS)

test:
	$(NEED) build test
	cmake --preset default
	cmake --build --preset default -j $(JOBS)
	ctest --preset default

asan:
	$(NEED) build test
	cmake --preset asan
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan

# Every libFuzzer target for FUZZ_SECONDS each (clang, ASan + UBSan), from a
# new random seed each time unless FUZZ_SEED gives one.
FUZZ_SECONDS ?= 30
FUZZ_SEED ?=
fuzz:
	$(NEED) build fuzz
	cmake --preset fuzz
	cmake --build --preset fuzz -j $(JOBS)
	FUZZ_SEED=$(FUZZ_SEED) tools/fuzz.sh $(FUZZ_SECONDS)

# Only what the demo runs, so that a first try does not wait for the tests.
demo:
	$(NEED) build
	cmake --preset default
	cmake --build --preset default -j $(JOBS) --target vorka vorkfade vorka-mkimage
	tools/demo.sh build/default/bin

# vorka through a real Linux kernel: Debian's kernel under QEMU serves a disc
# image through vorka-tcmu as /dev/sr0 and /dev/sg0 (needs root and apt-get).
kernel-test:
	tests/kernel/run.sh

# Every source of the product compiled for FreeBSD 14 against FreeBSD's own
# headers (../shared/freebsd), linking nothing; says so and passes when they
# are not there.
freebsd-check:
	JOBS=$(JOBS) tools/freebsd-check.sh

release:
	cmake --preset release -DCMAKE_INSTALL_PREFIX=$(PREFIX) \
	      -DVORKA_SYSCONFDIR=$(SYSCONFDIR)
	cmake --build --preset release -j $(JOBS)

install: release
	DESTDIR="$(DESTDIR)" cmake --install build/release

# Removes what the last `make install` listed in build/release/install_manifest.txt,
# except a vorkarc that was edited after it was installed.  Give the DESTDIR
# of that install.
uninstall:
	DESTDIR="$(DESTDIR)" cmake -DMANIFEST=build/release/install_manifest.txt \
	      -DSHIPPED_CONFIG=config/vorkarc -P cmake/uninstall.cmake

# A Debian package in build/package: programs in /usr, configuration in /etc.
package:
	cmake --preset release -B build/package -DCMAKE_INSTALL_PREFIX=/usr \
	      -DVORKA_SYSCONFDIR=/etc
	cmake --build build/package -j $(JOBS)
	cd build/package && cpack

clean:
	rm -rf build
