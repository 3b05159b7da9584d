#!/usr/bin/env bash
# Builds the reply-reception fuzzer with clang and runs it for SECONDS
# (default 60). Any crash, leak or sanitizer report fails the run; the input
# that caused it is left in build-fuzz/ as crash-*.
#   fuzz/run-fuzz.sh 60        a short run, as in CI
#   fuzz/run-fuzz.sh 36000     a long one; the corpus grows in build-fuzz/corpus
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}

cmake --preset fuzzer >/dev/null
cmake --build --preset fuzzer -j"$(nproc)"
mkdir -p build-fuzz/corpus build-fuzz/seeds
python3 fuzz/make-corpus.py build-fuzz/seeds

cd build-fuzz
UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
LSAN_OPTIONS=suppressions=../tests/lsan.supp:print_suppressions=0 \
    ./fuzz/fuzz_readuart -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 \
        -print_final_stats=1 corpus seeds
