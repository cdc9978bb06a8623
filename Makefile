# The README's commands. Each installs missing system packages first.
.PHONY: deps demo demo-remote test debug asan tsan check mutate fuzz i386 bench soak abi-check abi-baseline \
	package compiler-mix docs clean windows-deps windows windows-test windows-demo windows-demo-remote windows-i686 \
	lint format-check tidy thread-safety

deps:
	scripts/install-deps.sh

# Two example modules exchange data and messages in kqbridge-host, and
# kqbridge-ctl shows its status; nothing is written outside build/default.
demo: deps
	cmake --preset default
	cmake --build --preset default --target kqbridge-host kqbridge-ctl demo_sensor demo_display
	examples/run-demo.sh build/default

# Two hosts share a call each way and a mirrored key through a private
# Mosquitto broker on a free local port; nothing is written outside build/default.
demo-remote: deps
	cmake --preset default
	cmake --build --preset default --target kqbridge-host demo_sensor demo_display remote
	examples/run-demo-remote.sh build/default

# The suite under one preset: `make test` the default build, `make debug`,
# `make asan` (AddressSanitizer+UBSan) and `make tsan` (ThreadSanitizer).
SUITES := test debug asan tsan
preset_test := default
$(SUITES): %: deps
	cmake --preset $(or $(preset_$@),$@)
	cmake --build --preset $(or $(preset_$@),$@)
	ctest --preset $(or $(preset_$@),$@)

# The suite plain, under AddressSanitizer+UBSan and under ThreadSanitizer (the
# first part of what CI runs).
check: test asan tsan

# How many one-line faults in src/ the suite catches: MUTANTS mutants sampled
# with SEED, each built and tested in a scratch copy under build/mutate (the
# working tree is never touched). Prints each mutant and the score per
# subsystem; tests/mutants-equivalent.txt lists those that change nothing.
MUTANTS ?= 100
SEED ?= 1
mutate: deps
	scripts/mutate.py --mutants $(MUTANTS) --seed $(SEED)

# Every libFuzzer target under fuzz/ for FUZZ_SECONDS each, one after another.
# New inputs collect in build/fuzz/corpus/; a crash stops the run and leaves its
# input in build/fuzz/artifacts/ (keep it under fuzz/corpus/<target>/ once fixed,
# so that `make test` replays it).
FUZZ_SECONDS ?= 60
fuzz:
	scripts/install-deps.sh --fuzz
	cmake --preset fuzz
	cmake --build --preset fuzz
	@mkdir -p build/fuzz/artifacts
	@for t in build/fuzz/fuzz/*_fuzz; do \
	  name=$$(basename $$t); mkdir -p build/fuzz/corpus/$$name; \
	  echo "fuzz: $$name for $(FUZZ_SECONDS) s"; \
	  $$t -max_total_time=$(FUZZ_SECONDS) -artifact_prefix=build/fuzz/artifacts/$$name- \
	    build/fuzz/corpus/$$name fuzz/corpus/$$name > build/fuzz/$$name.log 2>&1 \
	    || { tail -n 60 build/fuzz/$$name.log; exit 1; }; \
	  grep -E '^#[0-9]+.*DONE' build/fuzz/$$name.log | tail -n 1; \
	done

# The 32-bit build, where the records take their original layouts (the
# static_asserts on them apply there). Its programs run natively where the
# kernel runs i386 programs, else through qemu-i386; I386_RUN=qemu (or
# native) forces the choice.
I386_RUN ?= auto
i386:
	scripts/install-deps.sh --i386
	scripts/i386-configure.sh $(I386_RUN)
	cmake --build --preset i386
	ctest --preset i386

# The soak run, not part of `make test`: the example modules and a load
# generator for SOAK_SECONDS, the bridge restarted every minute, resident
# memory, descriptors, threads and operations printed once a minute. Its
# files stay under build/soak.
SOAK_SECONDS ?= 600
soak: deps
	cmake --preset default
	cmake --build --preset default --target kqbridge-soak
	rm -rf build/soak
	build/default/tools/soak/kqbridge-soak --seconds $(SOAK_SECONDS) build/soak

bench:
	scripts/install-deps.sh --bench
	cmake --preset bench
	cmake --build --preset bench --target run-bench

# The library's ABI against abi/kqBridge_vs.abi: fails, printing abidiff's
# report, on a change that breaks modules built before it; additions pass.
abi-check: deps
	scripts/install-deps.sh --abi
	cmake --preset default
	cmake --build --preset default --target kqBridge_vs
	scripts/abi-check.sh build/default

# A new baseline, for an intended break only: raise KQ_ABI_VERSION (in
# include/kqbridge/module_stamp.h) and the project's major version first,
# and commit the baseline with them.
abi-baseline: deps
	scripts/install-deps.sh --abi
	cmake --preset default
	cmake --build --preset default --target kqBridge_vs
	scripts/abi-check.sh --update build/default

# Debian packages of the library, its development files and the tools, in
# build/package; scripts/package-check.sh unpacks them and builds against them.
package: deps
	scripts/install-deps.sh --package
	cmake --preset package
	cmake --build --preset package
	rm -f build/package/*.deb
	cd build/package && cpack
	@ls build/package/*.deb

# Example modules from clang++ in a g++ build of the host and library, and
# the reverse.
compiler-mix: deps
	scripts/install-deps.sh --clang
	scripts/compiler-mix-check.sh

# The Windows build: cross-compiled with MinGW-w64 and run under Wine in a
# private prefix (build/windows/wine). Programs and DLLs land in
# build/windows/bin.
windows-deps:
	scripts/install-deps.sh --windows

windows: windows-deps
	cmake --preset windows
	cmake --build --preset windows

windows-test: windows
	scripts/run-windows-tests.sh

windows-demo: windows
	examples/run-demo-windows.sh build/windows

# make demo-remote with the control node on the Windows build, under Wine: a
# Windows host and a Linux host meet through one broker.
windows-demo-remote: windows
	cmake --preset default
	cmake --build --preset default --target kqbridge-host demo_sensor demo_display remote
	examples/run-demo-remote.sh build/default build/windows

# The 32-bit build; it runs only where Debian's wine32 could be installed.
windows-i686: windows-deps
	scripts/build-windows-deps.sh i686
	cmake --preset windows-i686
	cmake --build --preset windows-i686

# The reference (from the public headers) and the guide (docs/*.md) as HTML
# in build/docs/html; index.html opens on the guide. A public name without a
# comment, or any other doxygen warning, fails the target.
docs:
	scripts/install-deps.sh --docs
	rm -rf build/docs
	mkdir -p build/docs
	doxygen docs/Doxyfile
	@echo "docs: build/docs/html/index.html"

# Every C++ file of the tree as .clang-format has it, clang-tidy's checks
# (.clang-tidy) over the library and the tools, and a clang build in which the
# lock annotations are checked and every warning is an error.
lint: format-check tidy thread-safety

LINT_FILES = $(shell git ls-files '*.cpp' '*.h')
format-check:
	scripts/install-deps.sh --lint
	clang-format --dry-run --Werror $(LINT_FILES)

thread-safety:
	scripts/install-deps.sh --lint
	cmake --preset thread-safety
	cmake --build --preset thread-safety

# Needs the compile commands of the clang build; each file once, two at a time.
tidy: thread-safety
	run-clang-tidy -p build/thread-safety -quiet -j 2 '^$(CURDIR)/(src|tools)/.*\.cpp$$' \
	  > build/thread-safety/tidy.log 2>&1 || { cat build/thread-safety/tidy.log; exit 1; }
	@if grep -E '(warning|error):' build/thread-safety/tidy.log; then exit 1; fi
	@echo "clang-tidy: no findings"

clean:
	rm -rf build
