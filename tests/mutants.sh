#!/bin/sh
# Plants one fault at a time in src/ (a condition inverted, a comparison
# shifted, a boolean return flipped, a call deleted: tests/mutants.py finds
# the places afresh each run), rebuilds incrementally and runs the fast
# suite against it, and says which faults no test caught.  A fault whose
# objects come out the same as the program's own (code this build does not
# compile, or that the compiler reads the same) is counted apart, untested.
# src/ is put back after every fault and however the run ends.  It takes a
# while (several seconds a fault); it is not part of CI.
# Usage: tests/mutants.sh [SOURCE...]   (default: every file in src/)
# MUTANTS_JOBS sets how many jobs build and test (the processors by
# default). MUTANTS_NUMBERS="3 17 ..." plants only the faults of those numbers, as an
# earlier run over the same sources numbered them: the survivors, say, once
# a test has been added for them.
# The build is build-mutants (or $MUTANTS_BUILD), optimised as the plain
# build is, but without link-time optimisation or debug information, so
# that a rebuild is quick and the same code gives the same objects; with
# Ninja where it is installed, which finds what to rebuild soonest.
set -u
cd "$(dirname "$0")/.."
build=${MUTANTS_BUILD:-build-mutants}
jobs=${MUTANTS_JOBS:-$(nproc 2>/dev/null || echo 2)}
if [ $# -gt 0 ]; then
    sources="$*"
else
    sources=$(ls src/*.cc src/*.h)
fi

work=$(mktemp -d) || exit 2
mkdir "$work/src"
cp src/* "$work/src/"
# Put back every source that differs from the copy taken at the start; a
# plain copy gives it a new time, so the next build compiles it again.
restore() {
    for file in "$work"/src/*; do
        cmp -s "$file" "src/${file##*/}" || cp "$file" "src/${file##*/}"
    done
}
trap 'restore; rm -rf "$work"' EXIT
trap 'exit 130' INT TERM HUP

objects() {
    find "$build" -path '*/CMakeFiles/roffscript*.dir/src/*.o' | sort | xargs md5sum
}
suite() {
    # The same tests as tests/fast.sh, the quickest catchers first: the
    # replay of saved inputs and the compressed pages, then the test program
    # in one process, stopping at its first failure, then the rest.  A fault
    # that writes without end meets a limit on files (1 GB) and on memory
    # (4 GB) rather than filling the machine's.
    (
        ulimit -f 2000000
        ulimit -v 4000000
        ctest --test-dir "$build" --timeout 60 --parallel "$jobs" -R '^(replay|compressed)$' --stop-on-failure \
            >"$work/ctest.log" 2>&1 &&
            timeout 300 "$build/tests/roffscript_tests" --gtest_fail_fast --gtest_brief=1 >"$work/ctest.log" 2>&1 &&
            ctest --test-dir "$build" --timeout 60 --parallel "$jobs" --label-exclude 'full|gtest' \
                --exclude-regex '^(replay|compressed)$' --stop-on-failure >"$work/ctest.log" 2>&1
    )
}

if [ ! -f "$build/CMakeCache.txt" ]; then
    generator=
    command -v ninja >/dev/null && generator="-G Ninja"
    cmake -S . -B "$build" $generator -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -DNDEBUG" \
        -DCMAKE_INTERPROCEDURAL_OPTIMIZATION=OFF >"$work/configure.log" 2>&1 || {
        cat "$work/configure.log"
        exit 2
    }
fi
cmake --build "$build" --parallel "$jobs" >"$work/build.log" 2>&1 || { cat "$work/build.log"; exit 2; }
suite || { echo "mutants: the suite fails with no fault planted:"; cat "$work/ctest.log"; exit 2; }
objects >"$work/objects"

# The places are found in the copy, so that the numbers stay put.
copies=
for file in $sources; do
    copies="$copies $work/src/${file##*/}"
done
python3 tests/mutants.py list $copies | sed "s|$work/||" >"$work/faults"
if [ -n "${MUTANTS_NUMBERS:-}" ]; then
    for number in $MUTANTS_NUMBERS; do
        grep "^$number	" "$work/faults"
    done >"$work/chosen"
    mv "$work/chosen" "$work/faults"
fi
planted=$(wc -l <"$work/faults")
total=$(python3 tests/mutants.py list $copies | wc -l)
echo "mutants: $planted faults to plant in$(echo " $sources" | tr '\n' ' ')"
built=0 same=0 caught=0
: >"$work/survivors"
started=$(date +%s)
# The list is read on its own descriptor, and what runs in the loop reads
# nothing: a fault may make the program read its standard input.
while IFS="$(printf '\t')" read -r number where what <&3; do
    restore
    python3 tests/mutants.py plant "$number" src $copies
    # Only what the fast suite runs on src/ links it.
    if ! cmake --build "$build" --parallel "$jobs" --target roffscript replay >"$work/build.log" 2>&1; then
        verdict="did not build"
    else
        built=$((built + 1))
        if objects | cmp -s - "$work/objects"; then
            same=$((same + 1))
            verdict="same code"
        elif suite; then
            verdict=SURVIVED
            echo "$number $where: $what" >>"$work/survivors"
        else
            caught=$((caught + 1))
            failed=$(sed -n -e 's/^[[:space:]]*[0-9]* - \(.*\) (.*/\1/p' -e 's/^\[  FAILED  \] \([^ ]*\).*/\1/p' \
                "$work/ctest.log" | head -n 1)
            verdict="caught by ${failed:-a test}"
        fi
    fi
    printf '%s/%s %s: %s  [%s]\n' "$number" "$total" "$where" "$what" "$verdict"
done 3<"$work/faults" </dev/null
restore
cmake --build "$build" --parallel "$jobs" >/dev/null 2>&1

tested=$((built - same))
echo "mutants: $planted planted, $built built, $same of them the same code, $tested tested," \
     "$caught caught ($((tested > 0 ? caught * 100 / tested : 100))%), in $(($(date +%s) - started)) s"
if [ -s "$work/survivors" ]; then
    echo "survivors:"
    cat "$work/survivors"
fi
