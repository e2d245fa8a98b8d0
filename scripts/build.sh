#!/usr/bin/env bash
# Builds libkelvane.so and the tools (release build) into build/release.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKELVANE_TESTS=OFF -DKELVANE_BENCH=OFF
cmake --build build/release
