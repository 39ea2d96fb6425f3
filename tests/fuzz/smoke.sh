#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each one briefly from a seed
# corpus made of the golden inputs. Any finding fails the run.
# Usage: tests/fuzz/smoke.sh [seconds per target]
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
seconds="${1:-60}"
build="$root/build-fuzz"
CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQRV_FUZZ=ON \
  -DQRV_TESTS=OFF "-DQRV_SANITIZE=address;undefined" >/dev/null
cmake --build "$build" -j2 --target fuzz_run fuzz_directives fuzz_lexer

corpus="$build/corpus"
rm -rf "$corpus"
mkdir -p "$corpus/run" "$corpus/directives" "$corpus/lexer"
i=0
while IFS= read -r -d '' f; do
  i=$((i + 1))
  cp "$f" "$corpus/run/seed$i"
  { printf 'A'; cat "$f"; } >"$corpus/lexer/seed$i"
done < <(find "$root/tests/golden" "$root/examples" -type f \( -name '*.pvx' \) -print0)
while IFS= read -r -d '' f; do
  i=$((i + 1))
  cp "$f" "$corpus/directives/seed$i"
done < <(find "$root/tests/golden" "$root/examples" -type f -name '*cfg' -print0)
printf 'Msg.hdr list\n' >"$corpus/directives/seed0"
# Checked-in regression inputs found by earlier fuzzing.
for t in run directives lexer; do
  if [ -d "$root/tests/fuzz/regressions/$t" ]; then cp "$root/tests/fuzz/regressions/$t"/* "$corpus/$t/" 2>/dev/null || true; fi
done

export ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
for t in run directives lexer; do
  echo "== fuzz_$t for ${seconds}s"
  mkdir -p "$build/found-$t"
  "$build/tests/fuzz/fuzz_$t" -dict="$root/tests/fuzz/pavex.dict" -max_total_time="$seconds" \
    -rss_limit_mb=2048 -timeout=10 -max_len=65536 -print_final_stats=1 \
    -artifact_prefix="$build/found-$t/" "$corpus/$t" 2>&1 | tail -n 15
done
