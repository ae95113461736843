# The two commands: `make run` and `make test`. Everything else is a step of them.
BUILD_DIR := build
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: all deps configure build test check-sanitize check-thread run bench screenshots clean

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

# The whole suite again, built with AddressSanitizer + UndefinedBehaviorSanitizer
# in its own folder. Every sanitized process, the tests and the programs they
# start, writes its address and leak reports into one folder, so a report from
# a child process whose output a test reads or discards still fails the run.
# Undefined behaviour is reported on the process's own stderr (the only place
# GCC's runtime writes to) and ends it with an error; the CTest log is searched
# for every kind of report. Leaks inside system libraries are suppressed in
# tests/sanitize/lsan.supp.
SANITIZE_DIR := build-sanitize
SANITIZE_REPORTS := $(CURDIR)/$(SANITIZE_DIR)/sanitizer-reports
SANITIZE_LOG := log_path=$(SANITIZE_REPORTS)/report:log_exe_name=1
SANITIZE_ENV := \
  ASAN_OPTIONS=detect_leaks=1:halt_on_error=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1:fast_unwind_on_malloc=0:$(SANITIZE_LOG) \
  LSAN_OPTIONS=suppressions=$(CURDIR)/tests/sanitize/lsan.supp:print_suppressions=0:$(SANITIZE_LOG) \
  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

check-sanitize: deps
	cmake -S . -B $(SANITIZE_DIR) -G Ninja $(CMAKE_FLAGS) -DZEVO_SANITIZE=ON
	cmake --build $(SANITIZE_DIR)
	rm -rf $(SANITIZE_REPORTS) && mkdir -p $(SANITIZE_REPORTS)
	@cd $(SANITIZE_DIR) && status=0; \
	QT_QPA_PLATFORM=offscreen $(SANITIZE_ENV) ctest --output-on-failure -j2 || status=1; \
	if [ -n "$$(ls -A $(SANITIZE_REPORTS))" ]; then \
	  for r in $(SANITIZE_REPORTS)/*; do echo "==== $$r"; cat "$$r"; done; status=1; \
	fi; \
	if grep -E 'ERROR: (Address|Leak)Sanitizer|runtime error:' Testing/Temporary/LastTest.log; then status=1; fi; \
	if [ $$status -ne 0 ]; then echo "check-sanitize: FAILED"; else echo "check-sanitize: no sanitizer reports"; fi; \
	exit $$status

# The tests that run more than one thread (CTest label "threads": the mailbox
# poll, the real start-up with its worker thread, the remote interface's
# request threads, the operator lock's signal hand-over), with the display
# cycle and the virtual controller they drive, built with ThreadSanitizer in
# their own folder; only those tests and what they need are built. As in
# check-sanitize, every process writes its reports into one folder, so that a
# report from a program a test starts fails the run too.
# Qt is not built with the checker, and the ordering its own locks give is
# invisible to it: ignore_noninstrumented_modules=1 leaves unchecked the
# memory that Qt and the other system libraries allocate, free or copy
# themselves (their pthread locks still order our accesses), and
# tests/sanitize/tsan.supp names the Qt functions whose hidden ordering still
# shows in accesses of ours. Every access our own code makes is checked.
THREAD_DIR := build-tsan
THREAD_REPORTS := $(CURDIR)/$(THREAD_DIR)/sanitizer-reports
THREAD_ENV := \
  TSAN_OPTIONS=ignore_noninstrumented_modules=1:suppressions=$(CURDIR)/tests/sanitize/tsan.supp:second_deadlock_stack=1:log_path=$(THREAD_REPORTS)/report:log_exe_name=1

check-thread: deps
	cmake -S . -B $(THREAD_DIR) -G Ninja $(CMAKE_FLAGS) -DZEVO_TSAN=ON
	cmake --build $(THREAD_DIR) --target threaded-tests
	rm -rf $(THREAD_REPORTS) && mkdir -p $(THREAD_REPORTS)
	@cd $(THREAD_DIR) && status=0; \
	QT_QPA_PLATFORM=offscreen $(THREAD_ENV) ctest -L threads --output-on-failure -j2 || status=1; \
	if [ -n "$$(ls -A $(THREAD_REPORTS))" ]; then \
	  for r in $(THREAD_REPORTS)/*; do echo "==== $$r"; cat "$$r"; done; status=1; \
	fi; \
	if grep -E 'ThreadSanitizer: ' Testing/Temporary/LastTest.log; then status=1; fi; \
	if [ $$status -ne 0 ]; then echo "check-thread: FAILED"; else echo "check-thread: no ThreadSanitizer reports"; fi; \
	exit $$status

# libFuzzer over the mailbox reply decoding, the device catalogue lookup, the
# configuration file and the CSV writer, built with clang in its own folder
# (with AddressSanitizer and UndefinedBehaviorSanitizer). `make check-fuzz`
# (CI) replays the committed seeds and regressions, then runs each target for
# a fixed number of executions from a fixed seed: the same tree always gives
# the same verdict. `make fuzz` searches with random seeds for FUZZ_SECONDS
# each (default 300), by hand. A finding fails the run and is kept in
# $(FUZZ_DIR)/fuzz-artifacts/; see tests/fuzz/run-fuzz.
FUZZ_DIR := build-fuzz
FUZZ_SECONDS ?= 300
.PHONY: fuzz-targets fuzz check-fuzz
fuzz-targets: deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_DIR) -G Ninja $(CMAKE_FLAGS) -DZEVO_FUZZ=ON
	cmake --build $(FUZZ_DIR) --target fuzz-targets

fuzz: fuzz-targets
	tests/fuzz/run-fuzz $(FUZZ_DIR) $(FUZZ_SECONDS)

check-fuzz: fuzz-targets
	tests/fuzz/run-fuzz --fixed $(FUZZ_DIR)

run: build
	$(BUILD_DIR)/zevo-lui-sim

bench: build
	@for b in $(BUILD_DIR)/bench/*/bench_*; do \
	  if [ -f "$$b" ] && [ -x "$$b" ]; then QT_QPA_PLATFORM=offscreen "$$b" || exit 1; fi; \
	done

# How much of the program the test suite runs: the whole suite in a coverage
# build of its own (build-coverage/), then line and function coverage of the
# program's folders (not the tests and benchmarks) by gcovr.
COVERAGE_DIR := build-coverage
COVERAGE_FOLDERS := app acquisition device analysis export control beamline plots measure remote sim packaging resources
.PHONY: coverage check-mutants
coverage: deps
	cmake -S . -B $(COVERAGE_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZEVO_COVERAGE=ON
	cmake --build $(COVERAGE_DIR)
	find $(COVERAGE_DIR) -name '*.gcda' -delete
	cd $(COVERAGE_DIR) && QT_QPA_PLATFORM=offscreen ctest -j2 --output-on-failure
	gcovr --root . --object-directory $(COVERAGE_DIR) $(foreach f,$(COVERAGE_FOLDERS),--filter '$(f)/') \
	  --gcov-ignore-parse-errors --print-summary --txt $(COVERAGE_DIR)/coverage.txt

# The tests' share of all counted C++ lines, at most 40 %: a suite that grows
# faster than the program makes every change cost twice.
.PHONY: check-test-share
check-test-share:
	scripts/test-share 40

# Every tracked C++ file laid out as .clang-format says; names each file
# that is not (`clang-format -i FILE` lays it out).
.PHONY: check-format
check-format: deps
	git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run -Werror

# Plants one-line faults in a copy of the tree, one at a time, and tells which
# the test suite catches (scripts/check-mutants); about an hour, not in CI.
check-mutants: deps
	scripts/check-mutants

# The long run: the program over the virtual controller for SOAK_MINUTES
# (default 10) with every chart drawn, every window opened and closed and the
# display settings cycled; fails on memory growth or a slower display cycle.
# Too long for CI; `make soak SOAK_MINUTES=1` for a quick check.
SOAK_MINUTES ?= 10
.PHONY: soak
soak: build
	QT_QPA_PLATFORM=offscreen $(BUILD_DIR)/bench/soak/zevo-soak --minutes $(SOAK_MINUTES)

# The main window on the virtual controller, under a virtual X display.
screenshots: build
	xvfb-run -a -s '-screen 0 1600x1000x24' $(BUILD_DIR)/zevo-lui-sim \
	  --screenshot docs/screenshots/main-window.png

# The Debian package, zevo-lui_<version>_<arch>.deb in $(BUILD_DIR), from the
# build the tests ran on (programs stripped in the package).
.PHONY: package check-package
package: build
	rm -f $(BUILD_DIR)/zevo-lui_*.deb
	cmake --build $(BUILD_DIR) --target package

# The package's files, its programs started from the unpacked package (the
# production program on the emulated driver nodes), its desktop entries and
# manual pages, lintian, and install, upgrade, remove and
# purge in a scratch root.
check-package: package
	packaging/check-package $(BUILD_DIR)

clean:
	rm -rf $(BUILD_DIR) $(SANITIZE_DIR) $(THREAD_DIR)
