# Quadrix: one entry point for setting up, building, testing and running on Debian 12.
#   make run     installs what is needed, builds and starts Quadrix
#   make test    installs what is needed, builds and runs every test
#   make bench   runs the benchmarks against their reference tools
#   make asan-test, make fuzz   the sanitizer build's unit tests, bounded fuzzing runs

BUILD_DIR ?= build
ASAN_DIR ?= build-asan
FUZZ_DIR ?= build-fuzz
TSAN_DIR ?= build-tsan
JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 20
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)
# ccache caches sources that use precompiled headers only with these relaxations.
export CCACHE_SLOPPINESS = pch_defines,time_macros,include_file_mtime,include_file_ctime

# Every Debian package the project builds, tests and benchmarks with.
PACKAGES := build-essential cmake ninja-build ccache pkg-config git \
	qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins qt6-svg-dev libgl-dev fonts-dejavu-core \
	libavcodec-dev libavformat-dev libavutil-dev libswscale-dev libgif-dev libjpeg62-turbo-dev libpng-dev \
	libxcb1-dev libxcb-shm0-dev libxcb-xfixes0-dev libxcb-keysyms1-dev libxcb-randr0-dev \
	libxkbcommon-dev libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev \
	xvfb xauth xdotool x11-utils ffmpeg imagemagick libjpeg-turbo-progs libwmf-bin gsfonts \
	python3 python3-pil hyperfine qt6-webengine-dev trayer \
	python3-pyatspi at-spi2-core dbus-x11 python3-aiosmtpd \
	desktop-file-utils appstream dpkg-dev file

.PHONY: all deps configure build test run bench install package asan-test tsan-test fuzz format clean

all: build

deps:
	@missing=$$(for p in $(PACKAGES); do \
		dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q '^install ok installed' || echo $$p; \
	done); \
	if [ -n "$$missing" ]; then \
		echo "Installing:" $$missing; \
		$(SUDO) apt-get update && \
		$(SUDO) env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends $$missing; \
	fi

$(BUILD_DIR)/build.ninja:
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQDX_WERROR=ON

configure: deps $(BUILD_DIR)/build.ninja

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

run: build
	$(BUILD_DIR)/bin/Quadrix

# make install [PREFIX=/usr/local] [DESTDIR=/scratch]: the programs into PREFIX/bin, the help file,
# desktop entries, icons and AppStream file under PREFIX/share.
PREFIX ?= /usr/local
install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD_DIR) --prefix "$(PREFIX)"

# make package: quadrix_VERSION_amd64.deb in the build folder (CPack; dependencies by
# dpkg-shlibdeps). Install it with apt-get install ./build/quadrix_VERSION_amd64.deb.
package: build
	cd $(BUILD_DIR) && cpack -G DEB

bench: build
	bench/compare.sh $(BUILD_DIR)

$(ASAN_DIR)/build.ninja:
	cmake -S . -B $(ASAN_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQDX_SANITIZE=ON -DQDX_BENCH=OFF

# The unit and widget tests under AddressSanitizer and UndefinedBehaviorSanitizer. The web view's
# engine (Chromium, not built with the sanitizer) frees some objects with a sized delete of another
# size: that one check is off.
asan-test: deps $(ASAN_DIR)/build.ninja
	cmake --build $(ASAN_DIR) -j $(JOBS) --target unit_tests gui_tests
	cd $(ASAN_DIR) && ASAN_OPTIONS=detect_leaks=0:new_delete_type_mismatch=0 \
		UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j $(JOBS) -L 'unit|gui'

$(TSAN_DIR)/build.ninja:
	CC=clang CXX=clang++ cmake -S . -B $(TSAN_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DQDX_TSAN=ON -DQDX_BENCH=OFF

# Under ThreadSanitizer: the recording thread and its owner; the engine's threaded work (the
# two-thread recompression pipeline, the Motion JPEG transcoders, the stream copier, the frame
# getter's read-ahead) through its tests; and qdx recompressing films on two threads.
TSAN_TESTS := avi_recording_tests avi_engine_tests vfw_codec_tests
tsan-test: deps $(TSAN_DIR)/build.ninja
	cmake --build $(TSAN_DIR) -j $(JOBS) --target $(TSAN_TESTS) qdx
	cd $(TSAN_DIR) && for t in $(TSAN_TESTS); do \
		QT_QPA_PLATFORM=offscreen TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
			./tests/$$t || exit 1; \
	done
	tests/tsan/recompress.sh $(TSAN_DIR)/bin/qdx

$(FUZZ_DIR)/build.ninja:
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DQDX_FUZZ=ON -DQDX_BENCH=OFF

fuzz: deps $(FUZZ_DIR)/build.ninja
	cmake --build $(FUZZ_DIR) -j $(JOBS) --target fuzz
	fuzz/run.sh $(FUZZ_DIR) $(FUZZ_SECONDS)

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD_DIR) $(ASAN_DIR) $(TSAN_DIR) $(FUZZ_DIR)
