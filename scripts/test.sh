#!/usr/bin/env bash
# Installs what is missing, then, in this order: checks the format of the sources, builds everything
# and runs the whole test suite; builds once more without the simulated servers (as where cpp-httplib
# is missing) and runs the tests that exist there; runs every fuzz target for a short while; builds the
# suite with AddressSanitizer and UndefinedBehaviorSanitizer and runs it again.
# TILLMARK_QUICK=1 stops after the first suite.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"

bash scripts/install-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)
section() { printf '\n=== %s ===\n' "$*"; }

if command -v clang-format >/dev/null; then
    section "format"
    mapfile -t files < <(git ls-files 'src/*.cpp' 'src/*.h' 'sim/*.cpp' 'sim/*.h' 'tests/*.cpp' 'tests/*.h' \
        'bench/*.cpp' 'fuzz/*.cpp' 'fuzz/*.h' 2>/dev/null || true)
    if ((${#files[@]})); then
        clang-format --dry-run --Werror "${files[@]}"
        echo "clang-format: ${#files[@]} files clean"
    fi
fi

section "build and test"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"
(cd build && ctest --output-on-failure --timeout 900 -j"$jobs")

[ "${TILLMARK_QUICK:-0}" = 1 ] && exit 0

section "build and test without the simulated servers"
# Unoptimised: this build only has to show that everything configures and builds without cpp-httplib.
cmake -S . -B build-nosim -DCMAKE_BUILD_TYPE=Debug -DTILLMARK_WITH_SIM=OFF >/dev/null
cmake --build build-nosim -j"$jobs"
(cd build-nosim && ctest --output-on-failure --timeout 900 -j"$jobs")

section "fuzz targets, 20 s each"
bash scripts/fuzz.sh 20

section "build and test with AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTILLMARK_SANITIZE=ON -DTILLMARK_BUILD_BENCH=OFF >/dev/null
cmake --build build-asan -j"$jobs"
(cd build-asan && ctest --output-on-failure --timeout 1800 -j"$jobs")
