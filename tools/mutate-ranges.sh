#!/usr/bin/env bash
# Checks that the engine tests notice a guard one cell too wide or too narrow: each mutation
# below is applied to a scratch copy of the sources, the engine tests are built and run, and
# a mutation that leaves them passing is reported. Takes a few minutes; run it after changing
# how the optimiser computes or tests cell ranges.
# Usage: tools/mutate-ranges.sh
set -euo pipefail
cd "$(dirname "$0")/.."

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
git ls-files -z | xargs -0 cp --parents -t "$scratch"

# file | text | its mutation
mutations=(
    "engine/optimizer.h|return start <= lastStart;|return start < lastStart;"
    "engine/optimizer.h|return start <= lastStart;|return start <= lastStart + 1;"
    "engine/optimizer.h|(dataPointer + range.low)|(dataPointer + range.low + 1)"
    "engine/loopanalysis.cpp|std::min(shape.path.low, cursor)|std::min(shape.path.low, cursor + 1)"
    "engine/loopanalysis.cpp|std::max(shape.path.high, cursor)|std::max(shape.path.high, cursor - 1)"
    "engine/optimizer.cpp|entry.cells = unite(entry.cells, shifted(shape.path, m_cursor));|entry.cells = unite(entry.cells, shifted({shape.path.low + 1, shape.path.high}, m_cursor));"
    "engine/optimizer.cpp|const CellRange path = shifted(shape.path, m_cursor);|const CellRange path = shifted(shape.path, m_cursor + 1);"
    "engine/optimizer.cpp|m_block.cells = unite(m_block.cells, {m_cursor, m_cursor});|m_block.cells = unite(m_block.cells, {m_cursor, m_cursor - 1});"
    "engine/optimizer.cpp|return std::int64_t {range.high} - range.low > LastCell ? Nowhere : range;|return std::int64_t {range.high} - range.low > LastCell + 1 ? Nowhere : range;"
    "engine/optimizer.cpp|return std::int64_t {range.high} - range.low > LastCell ? Nowhere : range;|return std::int64_t {range.high} - range.low > LastCell - 1 ? Nowhere : range;"
    "engine/optimizer.cpp|{std::min(a.low, b.low), std::max(a.high, b.high)}|{std::min(a.low, b.low) + 1, std::max(a.high, b.high)}"
    "engine/optimizer.cpp|{std::min(a.low, b.low), std::max(a.high, b.high)}|{std::min(a.low, b.low) - 1, std::max(a.high, b.high)}"
    "engine/optimizer.cpp|{std::min(a.low, b.low), std::max(a.high, b.high)}|{std::min(a.low, b.low), std::max(a.high, b.high) + 1}"
)

survivors=0
for mutation in "${mutations[@]}"; do
    IFS='|' read -r file text replacement <<<"$mutation"
    cp "$file" "$scratch/$file"
    if ! grep -qF -- "$text" "$scratch/$file"; then
        echo "mutate-ranges.sh: '$text' not found in $file" >&2
        exit 2
    fi
    python3 - "$scratch/$file" "$text" "$replacement" <<'EOF'
import sys
path, text, replacement = sys.argv[1:]
source = open(path).read()
open(path, "w").write(source.replace(text, replacement, 1))
EOF
    cmake -S "$scratch" -B "$scratch/build" -DCMAKE_BUILD_TYPE=Release \
        -DCEREBRIX_CORPUS_DIR="$PWD/../shared/corpus" >/dev/null
    cmake --build "$scratch/build" -j2 --target tst_optimizer tst_tapeends tst_differential \
        >/dev/null
    # A mutation may send a run into an endless loop: that counts as caught.
    if timeout 300 "$scratch/build/bin/tst_optimizer" >/dev/null 2>&1 &&
        timeout 300 "$scratch/build/bin/tst_tapeends" >/dev/null 2>&1 &&
        timeout 300 "$scratch/build/bin/tst_differential" >/dev/null 2>&1; then
        echo "SURVIVED: $file: $replacement"
        survivors=$((survivors + 1))
    else
        echo "caught:   $file: $replacement"
    fi
    cp "$file" "$scratch/$file"
done
((survivors == 0)) || exit 1
echo "mutate-ranges.sh: every mutation was caught"
