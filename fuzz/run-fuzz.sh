#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for SECONDS (default 60),
# side by side:
#   fuzz_readuart  the window program's reply reception
#   fuzz_replies   the command-line tool's reply side (assembler and decoder)
#   fuzz_module    the simulator's request side (assembler, module and bus)
# Any crash, leak or sanitizer report fails the run; the input that caused it
# is left in build-fuzz/ as crash-*, the target's output in build-fuzz/NAME.log.
#   fuzz/run-fuzz.sh 60                      a short run of all three, as in CI
#   fuzz/run-fuzz.sh 36000 fuzz_replies      one target for ten hours; its
#                                            corpus grows in build-fuzz/corpus/NAME
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(fuzz_readuart fuzz_replies fuzz_module)

cmake --preset fuzzer >/dev/null
cmake --build --preset fuzzer -j"$(nproc)" --target "${targets[@]}" >/dev/null
python3 fuzz/make-corpus.py build-fuzz/seeds

cd build-fuzz
pids=()
trap 'kill "${pids[@]}" 2>/dev/null || true' EXIT
for target in "${targets[@]}"; do
    mkdir -p "corpus/$target" "seeds/$target"
    UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    LSAN_OPTIONS=suppressions=../tests/lsan.supp:print_suppressions=0 \
        "./fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
            -print_final_stats=1 "corpus/$target" "seeds/$target" > "$target.log" 2>&1 &
    pids+=($!)
done
failed=0
for i in "${!targets[@]}"; do
    target=${targets[$i]}
    if wait "${pids[$i]}"; then
        echo "$target: $(grep -m1 '^stat::number_of_executed_units' "$target.log" | awk '{print $2}') executions in $seconds s, no fault"
    else
        failed=1
        tail -n 40 "$target.log"
        echo "$target found a problem; its whole output is build-fuzz/$target.log"
    fi
done
exit $failed
