#!/usr/bin/env bash
# The one set-up script: installs what is missing, builds, tests, demonstrates.
# ./run.sh help (or no argument) lists the commands and environment variables.
set -euo pipefail
cd "$(dirname "$0")"
ROOT=$(pwd)
JOBS=${JOBS:-$(nproc)}

usage() {
  cat <<USAGE
usage: ./run.sh COMMAND [ARGS]

commands:
  test            Release and ASan+UBSan builds, then every CTest test in both
                  (the Octave and packaging tests run in the Release build only),
                  then the concurrency test in a ThreadSanitizer build (build/tsan)
  demo [ARGS]     Release build, then every examples/demo_*.sh (ARGS go to each demo)
  bench           Release build with the benchmarks, then every bench/bench_* program
  fuzz [SECONDS]  clang libFuzzer build, then every fuzz target for SECONDS each
                  (default 60); new inputs in build/fuzz/corpus, findings in
                  build/fuzz/findings
  help            this text

environment:
  JOBS=N          parallel build and test jobs (default: the number of cores, $(nproc) here)
  BENCH_REPS=N    repetitions of every benchmark (default 5)
  FUZZ_TARGETS="a b"  fuzz only these targets (names of fuzz/fuzz_<name>.cpp)

Missing Debian packages are installed with apt-get first (needs root).
USAGE
}

# The Debian packages each command needs; missing ones are installed with apt-get.
BASE_PACKAGES=(cmake g++ make pkg-config libgtest-dev libgmock-dev libopencv-dev libopengv-dev libeigen3-dev octave liboctave-dev xvfb xauth
  pybind11-dev python3-dev python3-numpy python3-pytest python3-dask python3-distributed
  python3-hypothesis python3-mypy python3-venv python3-setuptools python3-pip python3-wheel)
TEST_PACKAGES=("${BASE_PACKAGES[@]}" dpkg-dev)
DEMO_PACKAGES=("${BASE_PACKAGES[@]}")
BENCH_PACKAGES=("${BASE_PACKAGES[@]}" libbenchmark-dev libceres-dev)
FUZZ_PACKAGES=("${BASE_PACKAGES[@]}" clang libclang-rt-14-dev)

install_packages() {  # command
  local wanted=()
  case "$1" in
    test) wanted=("${TEST_PACKAGES[@]}") ;;
    demo) wanted=("${DEMO_PACKAGES[@]}") ;;
    bench) wanted=("${BENCH_PACKAGES[@]}") ;;
    fuzz) wanted=("${FUZZ_PACKAGES[@]}") ;;
  esac
  local missing=()
  for p in "${wanted[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$p")
    fi
  done
  if ((${#missing[@]})); then
    echo "== Installing Debian packages: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update
    apt-get install -y --no-install-recommends "${missing[@]}"
  else
    echo "== Debian packages present: ${wanted[*]}"
  fi
}

configure_build() {  # dir, extra cmake args...
  local dir=$1; shift
  echo "== Configuring $dir${*:+ ($*)}"
  cmake -S "$ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=Release "$@"
  echo "== Building $dir"
  cmake --build "$dir" -j"$JOBS"
}

run_ctest() {  # dir, label
  echo "== ctest: $2"
  (cd "$1" && ctest --output-on-failure -j"$JOBS")
}

cmd=${1:-}
case "$cmd" in
  help | -h | --help)
    usage
    exit 0
    ;;
  test)
    install_packages test
    configure_build build/release
    configure_build build/asan -DTREL_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
    status=0
    run_ctest build/release "Release" || status=1
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
      run_ctest build/asan "AddressSanitizer + UndefinedBehaviorSanitizer" || status=1
    # ThreadSanitizer: the library and its one concurrency test only.
    echo "== Configuring build/tsan (-DTREL_TSAN=ON)"
    cmake -S "$ROOT" -B build/tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTREL_TSAN=ON
    cmake --build build/tsan -j"$JOBS" --target test_tools_concurrency
    echo "== ctest: ThreadSanitizer"
    (cd build/tsan && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure -R '^tools/concurrency$') || status=1
    exit $status
    ;;
  demo)
    install_packages demo
    configure_build build/release
    shift || true
    for demo in "$ROOT"/examples/demo_*.sh; do
      [ -e "$demo" ] && bash "$demo" "$ROOT" build/release "$@"
    done
    ;;
  bench)
    install_packages bench
    configure_build build/bench -DTREL_BUILD_BENCH=ON -DTREL_BUILD_TESTS=OFF
    for b in build/bench/bench/bench_*; do
      [ -x "$b" ] && echo "== Benchmark $b" && "$b" --benchmark_repetitions=${BENCH_REPS:-5} --benchmark_report_aggregates_only=true
    done
    ;;
  fuzz)
    if ! [[ ${2:-60} =~ ^[1-9][0-9]*$ ]]; then
      echo "run.sh fuzz: SECONDS must be a positive whole number, not '${2:-}'" >&2
      usage >&2
      exit 2
    fi
    install_packages fuzz
    echo "== Configuring build/fuzz (clang, libFuzzer, ASan+UBSan)"
    CC=clang CXX=clang++ cmake -S "$ROOT" -B build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTREL_BUILD_FUZZ=ON \
      -DTREL_BUILD_TESTS=OFF -DTREL_BUILD_MEX=OFF
    echo "== Building the fuzz targets"
    cmake --build build/fuzz --target fuzz_targets -j"$JOBS"
    "$ROOT/fuzz/run_fuzzers.sh" build/fuzz "${2:-60}"
    ;;
  *)
    usage >&2
    exit 2
    ;;
esac
