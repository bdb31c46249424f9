#!/usr/bin/env bash
# The one set-up script: installs what is missing, builds, tests, demonstrates.
#   ./run.sh test   Release and ASan+UBSan builds, every test in both
#   ./run.sh demo   build, then run the example programs
#   ./run.sh bench  build and run the benchmarks (Release)
set -euo pipefail
cd "$(dirname "$0")"
ROOT=$(pwd)
JOBS=${JOBS:-$(nproc)}

BASE_PACKAGES=(cmake g++ make pkg-config libgtest-dev libgmock-dev libopencv-dev libopengv-dev libeigen3-dev octave liboctave-dev xvfb xauth)
BENCH_PACKAGES=(libbenchmark-dev libceres-dev)

install_missing() {
  local missing=()
  for p in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$p")
    fi
  done
  if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq "${missing[@]}" >/dev/null
  fi
}

configure_build() {  # dir, extra cmake args...
  local dir=$1; shift
  cmake -S "$ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
  cmake --build "$dir" -j"$JOBS"
}

run_ctest() {  # dir, label
  echo "== ctest: $2"
  (cd "$1" && ctest --output-on-failure -j"$JOBS")
}

cmd=${1:-test}
case "$cmd" in
  test)
    install_missing "${BASE_PACKAGES[@]}"
    configure_build build/release
    configure_build build/asan -DTREL_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
    status=0
    run_ctest build/release "Release" || status=1
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
      run_ctest build/asan "AddressSanitizer + UndefinedBehaviorSanitizer" || status=1
    exit $status
    ;;
  demo)
    install_missing "${BASE_PACKAGES[@]}"
    configure_build build/release
    shift || true
    for demo in "$ROOT"/examples/demo_*.sh; do
      [ -e "$demo" ] && bash "$demo" "$ROOT" build/release "$@"
    done
    ;;
  bench)
    install_missing "${BASE_PACKAGES[@]}" "${BENCH_PACKAGES[@]}"
    configure_build build/bench -DTREL_BUILD_BENCH=ON -DTREL_BUILD_TESTS=OFF
    for b in build/bench/bench/bench_*; do
      [ -x "$b" ] && "$b" --benchmark_repetitions=${BENCH_REPS:-5} --benchmark_report_aggregates_only=true
    done
    ;;
  *)
    echo "usage: $0 {test|demo|bench}" >&2
    exit 2
    ;;
esac
