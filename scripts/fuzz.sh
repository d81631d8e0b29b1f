#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a while (default 60 s; first argument),
# or only the targets named after it (scripts/fuzz.sh 600 ass progress).
# New inputs go to a scratch folder; the seed corpus in fuzz/corpus is only read.
# Prints executions and findings per target; exits non-zero when a target finds a crash.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
seconds=${1:-60}
build=${TILLMARK_FUZZ_BUILD_DIR:-build-fuzz}

CC=clang CXX=clang++ cmake -S . -B "$build" -DTILLMARK_FUZZ=ON -DTILLMARK_BUILD_TESTS=OFF \
    -DTILLMARK_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
targets=(timedata streams recordings posresult ass progress)
shift || true
(($#)) && targets=("$@")
cmake --build "$build" -j"$(nproc)" --target "${targets[@]/#/fuzz_}"

export LSAN_OPTIONS="suppressions=$here/fuzz/lsan.supp:print_suppressions=0"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failed=0
for t in "${targets[@]}"; do
    mkdir -p "$scratch/$t" "$scratch/$t-artifacts"
    log="$scratch/$t.log"
    if "$build/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=60 -rss_limit_mb=4096 \
        -artifact_prefix="$scratch/$t-artifacts/" "$scratch/$t" "fuzz/corpus/$t" >"$log" 2>&1; then
        result="no findings"
    else
        result="FINDING"
        failed=1
        mkdir -p "$build/findings"
        cp "$scratch/$t-artifacts/"* "$build/findings/" 2>/dev/null || true
        tail -40 "$log"
    fi
    stats=$(grep -E '^#[0-9]+.*(DONE|pulse|NEW|REDUCE)' "$log" | tail -1 || true)
    runs=$(grep -oE 'Done [0-9]+ runs' "$log" | tail -1 || true)
    echo "fuzz_$t: ${runs:-$stats} in ${seconds}s, corpus $(ls "$scratch/$t" | wc -l) new inputs: $result"
done
exit $failed
