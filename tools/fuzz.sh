#!/usr/bin/env bash
# Builds every libFuzzer target and runs each one for SECONDS (default 20), starting from the
# inputs kept in fuzz/corpus/<name>/, if any. Fails when any run finds a crash, leak or hang.
# BUILD-FOLDER is a build configured for fuzzing (the asan preset's, which builds the tests
# and the fuzzers in one tree); without it, build/fuzz is configured here with clang.
# Usage: tools/fuzz.sh [SECONDS] [BUILD-FOLDER]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-20}
build=${2:-}
if ! [[ $seconds =~ ^[1-9][0-9]*$ ]]; then
    echo "fuzz.sh: SECONDS must be a positive whole number, not '$seconds'" >&2
    exit 2
fi
if ! command -v clang++ >/dev/null; then
    echo "fuzz.sh: clang++ not found, fuzzing skipped"
    exit 0
fi

# Builds and runs share one lock with every other build on the machine. A caller that
# already holds it sets CEREBRIX_LOCK_HELD=1, so that a nested call does not wait for itself.
lock=/tmp/cerebrix-build.lock
locked() {
    if [[ -n ${CEREBRIX_LOCK_HELD:-} ]]; then
        "$@"
    else
        CEREBRIX_LOCK_HELD=1 flock "$lock" "$@"
    fi
}

if [[ -z $build ]]; then
    build=build/fuzz
    sanitizers="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all"
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
        -DCMAKE_CXX_FLAGS="$sanitizers" -DCMAKE_C_FLAGS="$sanitizers" \
        -DCEREBRIX_FUZZ=ON -DCEREBRIX_BUILD_TESTS=OFF -DCEREBRIX_HARDEN=OFF >/dev/null
fi
# The fuzzers' folder holds exactly what this build produces, never a stale target.
rm -f "$build"/fuzzers/*
locked cmake --build "$build" --target cerebrix_fuzzers -j2

# Leaks in the system libraries under Qt (its font cache) are not ours to find.
export LSAN_OPTIONS="suppressions=$PWD/fuzz/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"

# Runs one fuzzer, leaving its log and, on a finding, a "failed" mark beside it.
fuzz_one() {
    local fuzzer=$1 name
    name=$(basename "$fuzzer")
    local corpus="$build/corpus-$name" artifacts="$build/artifacts-$name/"
    rm -rf "$corpus" "$artifacts" "$build/$name.failed"
    mkdir -p "$corpus" "$artifacts"
    local options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048
        -artifact_prefix="$artifacts" -print_final_stats=1)
    # A target may bring a dictionary of the tokens its input is made of, and options of its
    # own (one per line), such as longer inputs.
    [[ -f fuzz/$name.dict ]] && options+=(-dict="fuzz/$name.dict")
    if [[ -f fuzz/$name.options ]]; then
        mapfile -t own <"fuzz/$name.options"
        options+=("${own[@]}")
    fi
    # Inputs that once found a fault (fuzz/corpus/<name>/) are run first, read only.
    local seeds=()
    [[ -d fuzz/corpus/$name ]] && seeds=("fuzz/corpus/$name")
    "$fuzzer" "${options[@]}" "$corpus" "${seeds[@]}" >"$build/$name.log" 2>&1 ||
        touch "$build/$name.failed"
}

# One fuzzer per core at a time, each for its full time; the machine is held for them.
if [[ -z ${CEREBRIX_LOCK_HELD:-} ]]; then
    exec 9>"$lock"
    flock 9
fi
fuzzers=()
for fuzzer in "$build"/fuzzers/*; do
    [[ -x $fuzzer ]] && fuzzers+=("$fuzzer")
done
ran=${#fuzzers[@]}
for fuzzer in "${fuzzers[@]}"; do
    while (($(jobs -rp | wc -l) >= $(nproc))); do
        wait -n || true
    done
    fuzz_one "$fuzzer" &
done
wait
failed=()
for fuzzer in "${fuzzers[@]}"; do
    name=$(basename "$fuzzer")
    echo "== $name: $seconds s"
    if [[ -e $build/$name.failed ]]; then
        tail -n 40 "$build/$name.log"
        failed+=("$name")
    else
        grep -E '^stat::number_of_executed_units|^Done' "$build/$name.log" || true
    fi
done

if ((ran == 0)); then
    echo "fuzz.sh: no fuzz targets were built" >&2
    exit 1
fi
if ((${#failed[@]} > 0)); then
    echo "fuzz.sh: findings in ${failed[*]}; inputs are in $build/artifacts-<name>/" >&2
    exit 1
fi
echo "fuzz.sh: no findings"
