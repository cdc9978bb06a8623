# The README's commands. Each installs missing system packages first.
.PHONY: deps demo test debug asan tsan bench clean windows-deps windows windows-test windows-demo

deps:
	scripts/install-deps.sh

# Two example modules exchange data and messages in kqbridge-host; nothing is
# written outside build/default.
demo: deps
	cmake --preset default
	cmake --build --preset default --target kqbridge-host demo_sensor demo_display
	examples/run-demo.sh build/default

test: deps
	cmake --preset default
	cmake --build --preset default
	ctest --preset default

debug: deps
	cmake --preset debug
	cmake --build --preset debug
	ctest --preset debug

asan: deps
	cmake --preset asan
	cmake --build --preset asan
	ctest --preset asan

tsan: deps
	cmake --preset tsan
	cmake --build --preset tsan
	ctest --preset tsan

bench:
	scripts/install-deps.sh --bench
	cmake --preset bench
	cmake --build --preset bench --target run-bench

# The Windows build: cross-compiled with MinGW-w64 and run under Wine in a
# private prefix (build/windows/wine). Programs and DLLs land in
# build/windows/bin, the test programs in build/windows/tests.
windows-deps:
	scripts/install-deps.sh --windows

windows: windows-deps
	cmake --preset windows
	cmake --build --preset windows

windows-test: windows
	ctest --preset windows

windows-demo: windows
	examples/run-demo-windows.sh build/windows

clean:
	rm -rf build
