#!/usr/bin/env bash
# Builds one program and starts it: bash scripts/run.sh [countdown|kitchentimer]
set -euo pipefail
cd "$(dirname "$0")/.."

program=${1:-countdown}
case $program in
  countdown | kitchentimer) ;;
  *) echo "usage: bash scripts/run.sh [countdown|kitchentimer]" >&2; exit 2 ;;
esac

bash scripts/deps.sh

# An existing build dir keeps its generator; naming another would be an error.
generator=()
[[ -f build/CMakeCache.txt ]] || generator=(-G Ninja)
cmake -S . -B build "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target "$program"

exec "build/$program/$program"
