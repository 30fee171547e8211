#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer + UndefinedBehaviorSanitizer) and runs
# each for SECONDS (default 300) over its corpus in fuzz/corpus/, which grows with what it finds.
#   scripts/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
source "$(dirname "$0")/common.sh"
SECONDS_EACH="${1:-300}"
shift || true
TARGETS=("${@:-typed_date search_statement export_name fill_values legacy_reader}")
install_packages
FUZZ_BUILD="$ROOT/build-fuzz"
cmake -S "$ROOT" -B "$FUZZ_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++ -DKORVELA_FUZZ=ON -DKORVELA_TESTS=OFF -DKORVELA_BENCH=OFF \
    -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer" \
    -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
for t in ${TARGETS[@]}; do
    cmake --build "$FUZZ_BUILD" --target "fuzz_$t"
done
status=0
for t in ${TARGETS[@]}; do
    corpus="$ROOT/fuzz/corpus/$t"
    mkdir -p "$corpus"
    echo "== fuzz_$t for ${SECONDS_EACH}s"
    if ! QT_QPA_PLATFORM=offscreen "$FUZZ_BUILD/fuzz/fuzz_$t" -max_total_time="$SECONDS_EACH" \
            -max_len=4096 -print_final_stats=1 -artifact_prefix="$FUZZ_BUILD/crash-$t-" "$corpus" \
            2>"$FUZZ_BUILD/fuzz_$t.log"; then
        echo "fuzz_$t FOUND A FAULT: see $FUZZ_BUILD/fuzz_$t.log"
        status=1
    fi
    grep -E "stat::number_of_executed_units|stat::peak_rss_mb|cov:" "$FUZZ_BUILD/fuzz_$t.log" | tail -3
done
exit $status
