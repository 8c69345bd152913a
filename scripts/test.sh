#!/usr/bin/env bash
# Builds everything and runs every test: the unit and end-to-end tests under
# ctest, then a short bounded run of every fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
cantilena_install_deps clang libclang-rt-14-dev sox python3 pulseaudio pulseaudio-utils libasound2-plugins \
    lv2-dev liblilv-dev lilv-utils sordi

jobs=$(nproc)
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"
bash scripts/sizes.sh build >&2

# Fuzzing: each target runs for FUZZ_SECONDS on a seed corpus of valid inputs
# (fuzz/corpus/<name>/ and the seeds build/fuzz/write_fuzz_seeds writes into
# build/fuzz-corpus/<name>/).
fuzz_seconds=${FUZZ_SECONDS:-45}
build/fuzz/write_fuzz_seeds build/fuzz-corpus
CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=Release -DCANTILENA_FUZZ=ON \
    -DCANTILENA_TESTS=OFF -DCANTILENA_BENCH=OFF -DCANTILENA_PLAYER=OFF -DCANTILENA_PLUGIN=OFF >/dev/null
cmake --build build-fuzz -j "$jobs"
for target in build-fuzz/fuzz/*_fuzz; do
    [ -x "$target" ] || continue
    name=$(basename "$target")
    corpus=build-fuzz/corpus/$name
    mkdir -p "$corpus"
    for seeds in "fuzz/corpus/$name" "build/fuzz-corpus/$name"; do
        [ -d "$seeds" ] && cp -n "$seeds"/* "$corpus"/ 2>/dev/null || true
    done
    echo "fuzzing $name for ${fuzz_seconds}s" >&2
    "$target" -max_total_time="$fuzz_seconds" -timeout=10 -rss_limit_mb=4096 -print_final_stats=1 \
        "$corpus" 2> "build-fuzz/$name.log" || { tail -50 "build-fuzz/$name.log" >&2; exit 1; }
    grep -E '^stat::number_of_executed_units' "build-fuzz/$name.log" >&2 || true
done
echo "all tests passed" >&2
