#!/usr/bin/env bash
# Builds the boot area fuzz target with clang and runs it for SECONDS.
#   tests/fuzz/run_fuzz.sh SECONDS
# TESSALY_FUZZ_BUILD: build folder (default: build-fuzz at the top of the
# checkout); TESSALY_FUZZ_JOBS: parallel build jobs (default 2).
# Exits non-zero when the build fails or the fuzzer finds a fault; the
# failing input is then left in the build folder as crash-*.
set -euo pipefail

seconds=${1:?usage: run_fuzz.sh SECONDS}
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
build=${TESSALY_FUZZ_BUILD:-$top/build-fuzz}
jobs=${TESSALY_FUZZ_JOBS:-2}

cmake -S "$top" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DTESSALY_FUZZ=ON -DTESSALY_TESTS=OFF >/dev/null
cmake --build "$build" --target assess_fuzz assess_fuzz_corpus -j "$jobs"

corpus="$build/fuzz-corpus"
mkdir -p "$corpus"
"$build/assess_fuzz_corpus" "$corpus"

"$build/assess_fuzz" -max_total_time="$seconds" -max_len=48644 -dict="$here/boot_area.dict" \
    -artifact_prefix="$build/" -print_final_stats=1 "$corpus"
