# The two commands: `make run` and `make test`. Everything else is a step of them.
BUILD_DIR := build
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: all deps configure build test run bench screenshots clean

all: build

deps:
	@scripts/install-deps

$(BUILD_DIR)/build.ninja: CMakeLists.txt
	cmake -S . -B $(BUILD_DIR) -G Ninja $(CMAKE_FLAGS)

configure: deps $(BUILD_DIR)/build.ninja

build: configure
	cmake --build $(BUILD_DIR)

test: build
	cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j2

run: build
	$(BUILD_DIR)/zevo-lui-sim

bench: build
	@for b in $(BUILD_DIR)/bench/*/bench_*; do \
	  if [ -f "$$b" ] && [ -x "$$b" ]; then QT_QPA_PLATFORM=offscreen "$$b" || exit 1; fi; \
	done

# The main window on the virtual controller, under a virtual X display.
screenshots: build
	xvfb-run -a -s '-screen 0 1600x1000x24' $(BUILD_DIR)/zevo-lui-sim \
	  --screenshot docs/screenshots/main-window.png

clean:
	rm -rf $(BUILD_DIR)
