#!/usr/bin/env bash
# Benchmark pvx2abnf against protoc and flatc on generated schemas, and the message checker
# (--check) on a 10 MB message against the time to read it (bench/check_message.py).
#
#   bench/run.sh                 full run: 1,000 to 1,000,000 definitions, five repetitions
#   bench/run.sh --quick         small sizes, three repetitions (also: BENCH_QUICK=1)
#   bench/run.sh --reps 7 ...    further options go to bench/measure.py (see --help there)
#
# BENCH_BINARY=path uses that pvx2abnf instead of building one (for example to compare builds).
# The schemas land in bench/out/ and the table also in bench/out/last-table.md. The run fails
# when pvx2abnf's output for a schema differs from the hash in bench/output_hashes.txt.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

args=()
if [[ "${BENCH_QUICK:-0}" != 0 ]]; then args+=(--quick); fi

for tool in protoc flatc; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "note: $tool not found; it is left out of the table." \
         "Install the peers with: apt-get install protobuf-compiler flatbuffers-compiler"
  fi
done
if [[ ! -x /usr/bin/time ]]; then
  echo "note: /usr/bin/time not found (apt-get install time); peak memory comes from wait4."
fi

binary="${BENCH_BINARY:-}"
if [[ -z "$binary" ]]; then
  cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DQRV_TESTS=OFF >/dev/null
  cmake --build build-release -j2 --target pvx2abnf
  binary="$root/build-release/pvx2abnf"
fi

# The generator and the measuring script check themselves first (a few seconds).
BENCH_BINARY="$binary" python3 -m unittest discover -s bench -p 'test_*.py' -q

python3 bench/measure.py --binary "$binary" "${args[@]}" "$@"

# The message checker on a 10 MB message, against the time to read it.
exec python3 bench/check_message.py --binary "$binary"
