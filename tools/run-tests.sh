#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test: the formatting check, the
# optimised build with warnings as errors, the build without Qt, and the sanitizer build
# with its tests and short fuzzing runs.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh cmake make g++ qt6-base-dev libjpeg-dev libasmjit-dev libgtest-dev \
    fonts-dejavu-core \
    clang libclang-rt-dev clang-format git

# Each step says how long it took, so that CI's time can be kept in view.
started=$SECONDS
step() {
    echo "== $1 (at $((SECONDS - started)) s)"
}

step "formatting"
git ls-files -z -- '*.cpp' '*.h' | xargs -0 -r clang-format --dry-run --Werror

step "optimised build"
cmake --preset ci >/dev/null
cmake --build --preset ci -j2
ctest --preset ci

step "without the window (no Qt needed)"
cmake --preset noui >/dev/null
cmake --build --preset noui -j2
ctest --preset noui

# One tree serves the sanitized tests and the fuzzers.
step "sanitizer build"
cmake --preset asan >/dev/null
cmake --build --preset asan -j2
ctest --preset asan

step "fuzzing"
bash tools/fuzz.sh "${CEREBRIX_FUZZ_SECONDS:-15}" build/asan
step "done"
