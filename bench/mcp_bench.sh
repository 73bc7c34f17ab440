#!/bin/sh
# Builds and runs the MCP planning and merging bench against a build
# directory's libraries.
# Usage: bench/mcp_bench.sh [build-dir]
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
cmake --build "$build" --target ml_mcp >/dev/null 2>&1
out=$(mktemp)
trap 'rm -f "$out"' EXIT
g++ -std=c++20 -O2 -I"$root/src" "$root/bench/mcp_bench.cpp" -o "$out" \
    "$build/src/libml_mcp.a" "$build/src/libml_core.a" "$build/src/libml_toml.a" "$build/src/libml_platform.a"
"$out"
