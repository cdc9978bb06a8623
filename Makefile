# The README's commands. Each installs missing system packages first.
.PHONY: deps demo test debug asan tsan i386 bench clean

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

# The 32-bit build, where the records take their original layouts (the
# static_asserts on them apply there).
i386:
	scripts/install-deps.sh --i386
	cmake --preset i386
	cmake --build --preset i386
	ctest --preset i386

bench:
	scripts/install-deps.sh --bench
	cmake --preset bench
	cmake --build --preset bench --target run-bench

clean:
	rm -rf build
