# Two commands for a newcomer: `make demo` and `make test`.
JOBS ?= $(shell nproc)
CMAKE_GEN := -G Ninja

.PHONY: all bootstrap build demo test test-asan test-tsan package install clean

all: build

bootstrap:
	@scripts/bootstrap

build/build.ninja: | bootstrap
	cmake -S . -B build $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: bootstrap build/build.ninja
	cmake --build build -j $(JOBS)

# The whole wall on this machine; Ctrl-C stops it (see scripts/demo). Only
# the programs the demo runs are built, so the wall comes up sooner.
DEMO_PROGRAMS := panoview Brovia brovia-plain brovia-host cloud-service shellclient
demo: bootstrap build/build.ninja
	cmake --build build -j $(JOBS) --target $(DEMO_PROGRAMS)
	scripts/demo

# The Linux suites, then the Windows ones under Wine (test-windows).
test: build
	cd build && ctest --output-on-failure -j $(JOBS) --timeout 600
	$(MAKE) test-windows

build-asan/build.ninja: | bootstrap
	cmake -S . -B build-asan $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DPANOVIEW_SANITIZE=address,undefined

test-asan: bootstrap build-asan/build.ninja
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ASAN_OPTIONS=detect_leaks=1 LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp ctest --output-on-failure -j $(JOBS) --timeout 900

build-tsan/build.ninja: | bootstrap
	cmake -S . -B build-tsan $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DPANOVIEW_SANITIZE=thread

test-tsan: bootstrap build-tsan/build.ninja
	cmake --build build-tsan -j $(JOBS)
	cd build-tsan && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure -j $(JOBS) --timeout 900 -L 'unit|integration'

# The Windows build in build-windows (cmake/mingw-i686.cmake): Panoview.exe,
# Brovia.exe, the stand-in shellclient.exe and the suites, cross-built with
# mingw-w64 against cJSON, jsoncpp and GoogleTest built from Debian's sources
# into build-windows/deps, with a 32-bit Wine for the windows in
# build-windows/deps/wine32 (scripts/wine32); test-windows runs the suites
# under Wine, and make test runs it after the Linux suites.
.PHONY: windows test-windows
WINDOWS_DEPS := $(CURDIR)/build-windows/deps

windows: bootstrap
	scripts/windows-deps $(WINDOWS_DEPS)
	scripts/wine32 $(WINDOWS_DEPS)/wine32
	test -f build-windows/build.ninja || cmake -S . -B build-windows $(CMAKE_GEN) \
	  --toolchain cmake/mingw-i686.cmake -DPANOVIEW_WINDOWS_DEPS=$(WINDOWS_DEPS) \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build-windows -j $(JOBS)

# The Windows wall under Wine, as make demo shows the Linux one (see
# scripts/demo-windows): Panoview.exe signs in to the Linux stand-in cloud
# service, which the Linux build makes. Ctrl-C stops it.
.PHONY: demo-windows
demo-windows: windows build/build.ninja
	cmake --build build -j $(JOBS) --target cloud-service
	scripts/demo-windows

test-windows: windows
	cd build-windows && ctest --output-on-failure -j $(JOBS) --timeout 600

# The Debian package, build/panoview_<version>_<arch>.deb.
package: build
	cd build && cpack

# Installs under / (or PREFIX=...): /opt/panoview, /usr/bin, /usr/share, /etc.
install: build
	cmake --install build $(if $(PREFIX),--prefix $(PREFIX))

clean:
	rm -rf build build-asan build-tsan
