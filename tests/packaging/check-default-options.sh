#!/usr/bin/env bash
# Configures the project afresh with no options, as a packager would, and reads the cache: warnings
# must not be errors, and neither tests nor benchmarks are built.
set -euo pipefail
source=${1:?usage: check-default-options.sh SOURCE_DIR}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cmake -S "$source" -B "$scratch" >/dev/null
for option in GROUNDSWAY_WERROR GROUNDSWAY_TESTS GROUNDSWAY_BENCH; do
    grep -qx "$option:BOOL=OFF" "$scratch/CMakeCache.txt" || {
        echo "$option is not OFF by default"
        exit 1
    }
done
if grep -rq -- '-Werror' "$scratch"/src/CMakeFiles/*/flags.make; then
    echo "a plain configure compiles with -Werror"
    exit 1
fi
echo "defaults ok"
