# Everything a fresh machine needs is behind these targets; each bootstraps first.
JOBS ?= $(shell nproc)
GEN := -G Ninja

.PHONY: all bootstrap build test test-asan test-tsan check-threads fuzz run bench format clean

all: build

bootstrap:
	@./scripts/bootstrap

build/build.ninja:
	cmake -S . -B build $(GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: bootstrap build/build.ninja
	cmake --build build -j $(JOBS)

test: build
	cd build && ctest --output-on-failure -j $(JOBS) --timeout 120

build-asan/build.ninja:
	cmake -S . -B build-asan $(GEN) -DCMAKE_BUILD_TYPE=Debug -DCHENGHENG_SANITIZE=address

test-asan: bootstrap build-asan/build.ninja
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -j $(JOBS) --timeout 240

build-tsan/build.ninja:
	cmake -S . -B build-tsan $(GEN) -DCMAKE_BUILD_TYPE=Debug -DCHENGHENG_SANITIZE=thread

# ThreadSanitizer runs over the tests labelled "tsan": the platform and concurrency tests.
test-tsan: bootstrap build-tsan/build.ninja
	cmake --build build-tsan -j $(JOBS)
	cd build-tsan && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$(CURDIR)/tests/tsan.supp" \
	  ctest --output-on-failure -j $(JOBS) --timeout 240 -L tsan

# clang's thread-safety analysis over the whole tree; a finding fails the build.
build-clang/build.ninja:
	CC=clang CXX=clang++ cmake -S . -B build-clang $(GEN) -DCMAKE_BUILD_TYPE=Debug \
	  -DCHENGHENG_THREAD_SAFETY=ON

check-threads: bootstrap build-clang/build.ninja
	cmake --build build-clang -j $(JOBS)

# Runs every fuzz target for FUZZ_SECONDS each, starting from its seed corpus in the tree; new
# inputs it finds go to build-fuzz/corpus/<name>, crashes to build-fuzz/crashes/. UBSan's
# reports stop the run like a crash (by default it prints and goes on, and nothing fails).
FUZZ_SECONDS ?= 60
build-fuzz/build.ninja:
	CC=clang CXX=clang++ cmake -S . -B build-fuzz $(GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCHENGHENG_FUZZ=ON

fuzz: bootstrap build-fuzz/build.ninja
	cmake --build build-fuzz -j $(JOBS) --target fuzzers
	@mkdir -p build-fuzz/crashes
	@set -e; for f in build-fuzz/fuzz/*_fuzz; do \
	  name=$$(basename $$f _fuzz); mkdir -p build-fuzz/corpus/$$name; \
	  echo "== $$name ($(FUZZ_SECONDS) s)"; \
	  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
	  $$f -max_total_time=$(FUZZ_SECONDS) -print_final_stats=0 \
	    -artifact_prefix=build-fuzz/crashes/$$name- \
	    build-fuzz/corpus/$$name fuzz/corpus/$$name; \
	done

# The learner's road against the fake course server the run starts itself; pictures and
# index.html go to build/road. The local media server takes any free port, as in the tests.
CHENGHENG_MEDIA_PORT ?= 0
run: bootstrap build/build.ninja
	cmake --build build -j $(JOBS) --target chengheng
	CHENGHENG_MEDIA_PORT=$(CHENGHENG_MEDIA_PORT) ./build/src/app/shell/chengheng --out build/road

bench:
	@./scripts/bootstrap --bench
	cmake -S . -B build-bench $(GEN) -DCMAKE_BUILD_TYPE=Release -DCHENGHENG_BENCH=ON
	cmake --build build-bench -j $(JOBS) --target benches
	@rm -f build-bench/bench-table.txt; failed=0; \
	for b in build-bench/bench/*_bench; do echo "== $$b"; \
	  CHENGHENG_BENCH_TABLE=$(CURDIR)/build-bench/bench-table.txt $$b || { failed=1; echo "$$b FAILED"; }; \
	done; \
	echo; echo "== all ratios (ours / peer, medians of alternating rounds)"; \
	printf '%-11s %-58s %-22s %-9s %-9s %-4s %s\n' bench figure peer ratio aim met load; \
	cat build-bench/bench-table.txt; exit $$failed

format:
	find src tests tools bench fuzz \( -path '*/fixtures/*' -o -path '*/corpus/*' \) -prune -o \
	  \( -name '*.cpp' -o -name '*.h' \) -type f -print | xargs clang-format -i

clean:
	rm -rf build build-asan build-tsan build-bench build-clang build-fuzz
