#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the whole test suite.
# TILLMARK_SANITIZE=ON runs it once more built with AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"

bash scripts/install-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)
build=${TILLMARK_BUILD_DIR:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$jobs"
if command -v clang-format >/dev/null; then
    files=$(git ls-files 'src/*.cpp' 'src/*.h' 'sim/*.cpp' 'sim/*.h' 'tests/*.cpp' 'tests/*.h' 'bench/*.cpp' 2>/dev/null || true)
    [ -z "$files" ] || clang-format --dry-run --Werror $files
fi
cd "$build"
ctest --output-on-failure --timeout 900 -j"$jobs"
