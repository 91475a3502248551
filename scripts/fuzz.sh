#!/usr/bin/env bash
# Fuzzes the configuration file's read-save-read round trip, the simulated phone's receive
# side, the engines' receive cutter and the records filters' dates with libFuzzer: builds the fuzz programs with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer) into build-fuzz/ and runs each for SECONDS (default 60) on its
# committed corpus (tests/fuzz/corpus/<target>) plus the inputs found in earlier runs
# (build-fuzz/corpus/<target>). A finding is written to build-fuzz/findings/<target>/ and
# ends the script with status 1; once mended, copy the file into tests/fuzz/corpus/<target>/,
# where the ordinary test suite replays it (test_fuzz).
#   scripts/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
scripts/setup.sh
# clang and its sanitizer and fuzzer runtimes are needed here only.
missing=()
for p in clang libclang-rt-dev; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update
    apt-get install -y --no-install-recommends "${missing[@]}"
fi

dir=build-fuzz
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
    -DZEMBRA_FUZZ=ON -DZEMBRA_BUILD_APP=OFF -DZEMBRA_BUILD_TESTS=OFF >/dev/null
cmake --build "$dir" --target fuzz_config fuzz_phone fuzz_cutter fuzz_dates

# The configuration target saves a file per input (with fsync): memory-backed files keep it fast.
[[ -d /dev/shm && -w /dev/shm ]] && export TMPDIR=/dev/shm
status=0
for target in config phone cutter dates; do
    mkdir -p "$dir/corpus/$target" "$dir/findings/$target"
    echo "== fuzz_$target for ${seconds}s"
    if ! "$dir/tests/fuzz/entry/fuzz_$target" -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="$dir/findings/$target/" "$dir/corpus/$target" \
        "tests/fuzz/corpus/$target"; then
        echo "fuzz_$target: finding in $dir/findings/$target/" >&2
        status=1
    fi
done
exit $status
