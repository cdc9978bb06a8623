# The README's commands. Each installs missing system packages first.
.PHONY: deps test debug asan tsan bench clean

deps:
	scripts/install-deps.sh

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

clean:
	rm -rf build
