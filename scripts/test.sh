#!/usr/bin/env bash
# Installs what a fresh machine lacks, builds and tests the default and the
# sanitizer preset, then fuzzes the option parser and the store loader.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
for preset in default asan; do
  cmake --preset "$preset"
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done
bash tests/fuzz/run.sh "${FUZZ_SECONDS:-5}"
