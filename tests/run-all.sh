#!/bin/sh
# Builds roffscript and runs every test: the plain build's suite (with the
# memory checker where valgrind is installed), the suite again in a build
# without processor-specific vector code, the whole suite again under
# AddressSanitizer and UndefinedBehaviorSanitizer together with the check of
# every installed manual page and the evaluation by Tcl of its script, and a
# bounded fuzzing run: the README's full test command, for CI and releases,
# and exactly what CI runs.  tests/fast.sh is the one for changing the code.
set -eu
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
fuzz_seconds=${FUZZ_SECONDS:-60}

started=$(date +%s)
stage() { echo "== $* (at $(($(date +%s) - started)) s)"; }

# What a slim machine lacks is installed first, and said so.
tests/install-deps.sh

stage "plain build"
cmake --preset default
cmake --build build --parallel "$jobs"
ctest --test-dir build --output-on-failure --parallel "$jobs"

stage "portable build"
cmake --preset portable
cmake --build build-portable --parallel "$jobs"
ctest --test-dir build-portable --output-on-failure --parallel "$jobs" --exclude-regex '^(valgrind|package)'

stage "sanitizer build"
cmake --preset sanitize
cmake --build build-sanitize --parallel "$jobs"
ctest --test-dir build-sanitize --output-on-failure --parallel "$jobs" --exclude-regex '^manpages$'
tests/manpages.sh build-sanitize/roffscript

stage "fuzzing for ${fuzz_seconds}s"
cmake --preset fuzz -DBUILD_TESTING=ON
cmake --build build-fuzz --parallel "$jobs" --target translate_fuzzer case_inputs
rm -rf build-fuzz/seeds build-fuzz/corpus
mkdir -p build-fuzz/seeds build-fuzz/corpus
build-fuzz/tests/case_inputs tests/cases build-fuzz/seeds
# Every input that once broke the program stays a seed.
cp tests/data/* examples/*.1 fuzz/regressions/* build-fuzz/seeds/
# One seed longer than three of the program's page blocks (48 KiB), made of
# the others.
cat build-fuzz/seeds/* | head -c 160000 >build-fuzz/seeds-joined
mv build-fuzz/seeds-joined build-fuzz/seeds/joined
# Inputs up to 160000 bytes span more than three page blocks, so that a
# long line is cut and discarded across blocks, and the script outgrows the
# output gate's block.
build-fuzz/translate_fuzzer -max_total_time="$fuzz_seconds" -max_len=160000 -print_final_stats=1 \
    -artifact_prefix=build-fuzz/ build-fuzz/corpus build-fuzz/seeds 2>build-fuzz/fuzz.log || {
    tail -n 60 build-fuzz/fuzz.log
    echo "fuzzing found a fault; the input is in build-fuzz/"
    exit 1
}
grep -E '^stat::(number_of_executed_units|peak_rss_mb)' build-fuzz/fuzz.log
echo "fuzz: $(ls build-fuzz/corpus | wc -l) inputs in the corpus, from $(ls build-fuzz/seeds | wc -l) seeds"
stage "all passed"
