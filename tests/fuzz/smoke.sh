#!/usr/bin/env bash
# Builds the fuzz targets with clang and the sanitizers and runs each one
# from a seed corpus made of the golden inputs and the regression inputs of
# tests/fuzz/regressions/. Any finding fails the run; it is kept in
# build-fuzz/found-<target>/.
# Usage: tests/fuzz/smoke.sh [seconds per target] [target...]
#   targets: run directives lexer files check example (all by default)
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
seconds="${1:-60}"
shift || true
targets=("$@")
if ((${#targets[@]} == 0)); then targets=(run directives lexer files check example); fi
build="$root/build-fuzz"
CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQRV_FUZZ=ON \
  -DQRV_TESTS=OFF "-DQRV_SANITIZE=address;undefined" >/dev/null
cmake --build "$build" -j2 --target $(printf 'fuzz_%s ' "${targets[@]}")

corpus="$build/corpus"
rm -rf "$corpus"
mkdir -p "$corpus/run" "$corpus/directives" "$corpus/lexer" "$corpus/files" "$corpus/check" "$corpus/example"
i=0
while IFS= read -r -d '' f; do
  i=$((i + 1))
  cp "$f" "$corpus/run/seed$i"
  cp "$f" "$corpus/example/seed$i"
  { printf 'A'; cat "$f"; } >"$corpus/lexer/seed$i"
  # The first byte chooses the output: every kind, with and without a library.
  { printf "\\$(printf '%03o' $((i % 256)))"; cat "$f"; } >"$corpus/files/seed$i"
done < <(find "$root/tests/golden" "$root/examples" -type f \( -name '*.pvx' \) -print0)
while IFS= read -r -d '' f; do
  i=$((i + 1))
  cp "$f" "$corpus/directives/seed$i"
done < <(find "$root/tests/golden" "$root/examples" -type f -name '*cfg' -print0)
printf 'Msg.hdr list\n' >"$corpus/directives/seed0"
# The checker: the definitions of each message-checking case, "\0\n", one of its messages.
while IFS= read -r -d '' f; do
  i=$((i + 1))
  dir="$(dirname "$f")"
  for pvx in "$dir"/*.pvx; do
    { cat "$pvx"; printf '\0\n'; cat "$f"; } >"$corpus/check/seed$i"
    break
  done
done < <(find "$root/tests/golden/check" -type f -name '*.txt' -print0)
# Inputs that once failed: run first, as part of the corpus.
for t in run directives lexer files check example; do
  if [ -d "$root/tests/fuzz/regressions/$t" ]; then
    find "$root/tests/fuzz/regressions/$t" -type f ! -name 'README*' -exec cp {} "$corpus/$t/" \;
  fi
done

export ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
for t in "${targets[@]}"; do
  echo "== fuzz_$t for ${seconds}s"
  mkdir -p "$build/found-$t"
  nice -n 19 "$build/tests/fuzz/fuzz_$t" -dict="$root/tests/fuzz/pavex.dict" -handle_xfsz=0 \
    -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -max_len=65536 \
    -print_final_stats=1 -artifact_prefix="$build/found-$t/" "$corpus/$t" 2>&1 |
    grep -vE '^(#[0-9]+[[:space:]]+(NEW|REDUCE|pulse)|"|###### |INFO: |MS: )'
done
