#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test: the optimised build with
# warnings as errors, the sanitizer build, the formatting check and short fuzzing runs.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh cmake make g++ qt6-base-dev libjpeg-dev libasmjit-dev libgtest-dev \
    fonts-dejavu-core \
    clang libclang-rt-dev clang-format git

echo "== formatting"
git ls-files -z -- '*.cpp' '*.h' | xargs -0 -r clang-format --dry-run --Werror

echo "== optimised build"
cmake --preset ci >/dev/null
cmake --build --preset ci -j2
ctest --preset ci

echo "== without the window (no Qt needed)"
cmake --preset noui >/dev/null
cmake --build --preset noui -j2
ctest --preset noui

echo "== sanitizer build"
cmake --preset asan >/dev/null
cmake --build --preset asan -j2
ctest --preset asan

echo "== fuzzing"
bash tools/fuzz.sh "${CEREBRIX_FUZZ_SECONDS:-15}"
