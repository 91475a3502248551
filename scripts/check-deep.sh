#!/usr/bin/env bash
# The deep check: builds the project with AddressSanitizer + UndefinedBehaviorSanitizer
# (build-asan/) and runs the whole suite, then with ThreadSanitizer (build-tsan/, without the
# window) and runs the suites whose threads meet (serial component, engines, multi workers,
# end-to-end, fault matrix, simulated phone, records and the line sender).
# Any report fails the run. Slow (two more builds); run it before merging changes to threads,
# buffers, the receive path or the engines, and after fuzzing finds something.
#   scripts/check-deep.sh [asan|tsan]     (default: both)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
which=${1:-both}

export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1
export LSAN_OPTIONS=suppressions=$PWD/scripts/lsan.supp:print_suppressions=0
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
export QT_QPA_PLATFORM=offscreen

run_suite() {  # dir sanitizers build-app [ctest -R regex]
    local dir=$1 sanitize=$2 app=$3
    shift 3
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DZEMBRA_SANITIZE="$sanitize" -DZEMBRA_BUILD_APP="$app" >/dev/null
    cmake --build "$dir"
    (cd "$dir" && ctest --output-on-failure -j2 --timeout 900 "$@")
}

if [[ $which == both || $which == asan ]]; then
    echo "== AddressSanitizer + UndefinedBehaviorSanitizer: whole suite"
    run_suite build-asan address,undefined ON
fi
if [[ $which == both || $which == tsan ]]; then
    echo "== ThreadSanitizer: threaded suites"
    run_suite build-tsan thread OFF -R 'test_(serial|protocol|multi|e2e|matrix_.*|platform|sim|records|line)$'
fi
echo "check-deep: clean"
