#!/usr/bin/env bash
# Installs what is missing, builds the optimised IDE and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh cmake make g++ qt6-base-dev libjpeg-dev libasmjit-dev fonts-dejavu-core
cmake --preset release >/dev/null
cmake --build --preset release -j2
if [ -x build/release/bin/cerebrix ]; then
    exec build/release/bin/cerebrix
fi
exec build/release/bin/cerebrix-run examples/hello.bf
