#!/usr/bin/env bash
# Builds everything and runs every test: the unit, program and widget tests,
# then the end-to-end tests on a virtual display, then the unit, program and
# end-to-end tests again in a sanitizer build. Ends with one line: "N passed, M failed".
set -euo pipefail
cd "$(dirname "$0")/.."

passed=0
failed=0
status=0
logs=$(mktemp -d)
# The count line comes last even when a build breaks, so CI logs always end
# with the tally; the exit status tells whether anything failed.
finish() {
  local rc=$?
  rm -rf "$logs"
  echo "$passed passed, $failed failed"
  if ((rc == 0)); then rc=$status; fi
  exit "$rc"
}
trap finish EXIT

# A hanging test must not hold CI for ctest's default 25 minutes.
timeout=${RUVO_TEST_TIMEOUT:-180}

configure_and_build() { # <dir> [cmake options...]
  local dir=$1
  shift
  local generator=()
  [[ -f $dir/CMakeCache.txt ]] || generator=(-G Ninja)
  cmake -S . -B "$dir" "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
  cmake --build "$dir"
}

# Runs one ctest command line, shows all of its output and adds its summary
# ("NN% tests passed, F tests failed out of T") to the tally. A failing run
# does not stop the later ones; the script's status records it.
run_ctest() { # <name> <command...>
  local name=$1 rc=0
  shift
  echo "== $name"
  "$@" 2>&1 | tee "$logs/$name.log" || rc=$?
  local summary
  summary=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$logs/$name.log" | tail -n 1 || true)
  if [[ $summary =~ ([0-9]+)\ tests?\ failed\ out\ of\ ([0-9]+) ]]; then
    failed=$((failed + BASH_REMATCH[1]))
    passed=$((passed + BASH_REMATCH[2] - BASH_REMATCH[1]))
  elif ((rc == 0)) && grep -q 'No tests were found' "$logs/$name.log"; then
    : # a label without tests yet: ctest says so and succeeds
  else
    echo "test.sh: $name ended without a ctest summary (exit $rc)" >&2
    if ((rc == 0)); then rc=1; fi
  fi
  if ((rc != 0)); then
    status=1
  fi
}

bash scripts/deps.sh

configure_and_build build
run_ctest tests env QT_QPA_PLATFORM=offscreen \
  dbus-run-session -- ctest --test-dir build --output-on-failure -j8 --timeout "$timeout" -LE e2e
# The end-to-end tests start the real programs, which must reach the X server.
# -noreset: a server that resets when its last client leaves refuses the next
# program that connects meanwhile.
# The session's accessibility bus keeps its socket under XDG_RUNTIME_DIR (or
# HOME): a private one, so that runs side by side never take each other's.
e2e_home=$(mktemp -d)
mkdir -m 700 "$e2e_home/home" "$e2e_home/xdg"
run_ctest e2e env -u QT_QPA_PLATFORM HOME="$e2e_home/home" XDG_RUNTIME_DIR="$e2e_home/xdg" \
  dbus-run-session -- xvfb-run -a -s '-screen 0 1024x768x24 -nolisten tcp -noreset' \
  ctest --test-dir build --output-on-failure -j1 --timeout "$timeout" -L e2e

configure_and_build build-asan -DRUVO_SANITIZE=ON -DRUVO_BUILD_BENCH=OFF
run_ctest sanitizers env QT_QPA_PLATFORM=offscreen \
  dbus-run-session -- ctest --test-dir build-asan --output-on-failure -j8 --timeout "$timeout" -L 'unit|program'
run_ctest sanitizers-e2e env -u QT_QPA_PLATFORM HOME="$e2e_home/home" XDG_RUNTIME_DIR="$e2e_home/xdg" \
  LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp" \
  dbus-run-session -- xvfb-run -a -s '-screen 0 1024x768x24 -nolisten tcp -noreset' \
  ctest --test-dir build-asan --output-on-failure -j1 --timeout "$timeout" -L e2e
rm -rf "$e2e_home"
