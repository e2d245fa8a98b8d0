#!/usr/bin/env bash
# Builds everything under AddressSanitizer and UndefinedBehaviorSanitizer into build/test and
# runs every test. The tests start what they talk to themselves (stand-in server, proxy).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
if [ "$(id -u)" -ne 0 ]; then
  echo "Note: the connection tests bind port 443 on loopback addresses; as a normal user that" >&2
  echo "needs 'sysctl net.ipv4.ip_unprivileged_port_start=443'." >&2
fi
cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKELVANE_SANITIZE=ON -DKELVANE_BENCH=OFF
cmake --build build/test
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir build/test --output-on-failure -j "$(nproc)" --timeout 300
