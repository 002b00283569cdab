#!/usr/bin/env bash
# The unit tests under AddressSanitizer + UndefinedBehaviorSanitizer and under ThreadSanitizer,
# each in a build tree of its own with JUCE compiled the same way; the fuzz targets for a bounded
# time; the soak once under LeakSanitizer. Called by tools/run-tests.sh; needs clang.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install-dependencies.sh clang libclang-rt-14-dev

jobs=$(nproc)
fuzz_seconds=${KX_FUZZ_SECONDS:-75}
asan=${KX_ASAN_BUILD_DIR:-build-asan}
tsan=${KX_TSAN_BUILD_DIR:-build-tsan}
suppressions="$PWD/tools/sanitizers"

export ASAN_OPTIONS="detect_stack_use_after_return=1:strict_init_order=1:detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:suppressions=$suppressions/ubsan.supp"
export LSAN_OPTIONS="suppressions=$suppressions/lsan.supp"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$suppressions/tsan.supp"

echo "== AddressSanitizer + UndefinedBehaviorSanitizer: unit tests, fuzz targets, soak"
CC=clang CXX=clang++ cmake -S . -B "$asan" -DKX_WARNINGS_AS_ERRORS=ON \
    "-DKX_SANITIZE=address;undefined" -DKX_BUILD_FUZZERS=ON
cmake --build "$asan" -j"$jobs" --target kx_tests kx_gui_tests kx_fuzz_midi_input kx_fuzz_midi_manager kx-soak
# Only the unit tests: the on-screen application test and the VM's ALSA tests need targets not built here.
not_here="^(kx_gui_tests|application_on_screen|kx_system_tests_NOT_BUILT)$"
ctest --test-dir "$asan" --output-on-failure -j"$jobs" -LE "vm|package" -E "$not_here"
# The window's tests on their virtual display. What LeakSanitizer reports there was allocated in the
# X11 libraries that JUCE loads at run time and unloads at shutdown, so it can neither name nor be
# told about it: leaks are not checked for this one; memory errors and undefined behaviour are.
ASAN_OPTIONS="$ASAN_OPTIONS:detect_leaks=0" ctest --test-dir "$asan" --output-on-failure -R "^kx_gui_tests$"

for target in midi_input midi_manager; do
    # New inputs go to a scratch folder; the seeds in the repository stay as they are.
    scratch=$(mktemp -d)
    dict=()
    [ -f "tests/fuzz/$target.dict" ] && dict=("-dict=tests/fuzz/$target.dict")
    log=$(mktemp)
    status=0
    "$asan/tests/fuzz/kx_fuzz_$target" "${dict[@]}" -max_len=4096 -max_total_time="$fuzz_seconds" \
        -print_final_stats=1 "$scratch" "tests/fuzz/corpus/$target" >"$log" 2>&1 || status=$?
    echo "fuzz target $target:"
    grep -E "^(#[0-9]+.*DONE|Done [0-9]+ runs|stat::number_of_executed_units|stat::peak_rss_mb)" "$log" || true
    if [ "$status" -ne 0 ]; then
        tail -n 80 "$log"
        echo "fuzz target $target failed"
        exit 1
    fi
    rm -rf "$scratch" "$log"
done

"$asan/bench/kx-soak"

echo "== ThreadSanitizer: unit tests"
CC=clang CXX=clang++ cmake -S . -B "$tsan" -DKX_WARNINGS_AS_ERRORS=ON -DKX_SANITIZE=thread
cmake --build "$tsan" -j"$jobs" --target kx_tests
ctest --test-dir "$tsan" --output-on-failure -j"$jobs" -LE "vm|package" -E "$not_here"
