#!/usr/bin/env bash
# Builds the fuzz targets with clang, libFuzzer and AddressSanitizer, and runs
# each for the given number of seconds (default 30). Fails on any crash.
set -euo pipefail
seconds=${1:-30}
cd "$(dirname "$0")/../.."
build=build/fuzz
# -O1 with line tables, as libFuzzer advises: it compiles faster than -O2 -g.
cmake -S . -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -gline-tables-only" \
  -DSETWISE_FUZZ=ON -DBUILD_TESTING=OFF -DSETWISE_BUILD_BENCH=OFF > /dev/null
cmake --build "$build" --target options_fuzzer store_loader_fuzzer

# The option fuzzer also exercises the product list beside its executable.
mkdir -p "$build/tests/fuzz/config"
printf 'Meridian\n  Designer 2 \n\nviewer\n' > "$build/tests/fuzz/config/ProductList.txt"

status=0
for target in options_fuzzer store_loader_fuzzer; do
  corpus="$build/corpus/$target"
  artifacts="$build/artifacts/$target/"
  mkdir -p "$corpus" "$artifacts"
  seeds=()
  [ "$target" = store_loader_fuzzer ] && seeds=(examples/demo-install/config)
  echo "== $target: ${seconds}s"
  result=0
  "$build/tests/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$artifacts" "$corpus" "${seeds[@]}" \
    > "$build/$target.log" 2>&1 || result=$?
  grep -E '^stat::number_of_executed_units' "$build/$target.log" || true
  if [ "$result" -ne 0 ]; then
    tail -n 40 "$build/$target.log" >&2
    echo "$target failed; the input is in $artifacts" >&2
    status=1
  fi
done
exit "$status"
