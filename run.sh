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
                  (the Octave and packaging tests run in the Release build only)
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

BASE_PACKAGES=(cmake g++ make pkg-config libgtest-dev libgmock-dev libopencv-dev libopengv-dev libeigen3-dev octave liboctave-dev xvfb xauth pybind11-dev python3-dev python3-numpy python3-pytest)
BENCH_PACKAGES=(libbenchmark-dev libceres-dev)
FUZZ_PACKAGES=(clang libclang-rt-14-dev)

install_missing() {
  local missing=()
  for p in "$@"; do
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
    echo "== Debian packages present: $*"
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

# Runs every fuzz target for the given seconds, one after the other at low
# priority, and prints its executions and findings. A finding is any input that
# crashed, leaked, tripped a sanitizer, ran over 10 s or took over 2 GB.
run_fuzzers() {  # build-dir, seconds
  local dir=$1 seconds=$2 status=0 summary=""
  local targets=${FUZZ_TARGETS:-$(cd "$ROOT/fuzz" && ls fuzz_*.cpp | sed 's/^fuzz_//; s/\.cpp$//')}
  for t in $targets; do
    local corpus=$ROOT/$dir/corpus/$t findings=$ROOT/$dir/findings/$t log=$ROOT/$dir/fuzz_$t.log
    mkdir -p "$corpus" "$findings"
    local dict=()
    [ -f "$ROOT/fuzz/$t.dict" ] && dict=(-dict="$ROOT/fuzz/$t.dict")
    echo "== Fuzzing $t for $seconds s (log: $log)"
    local rc=0
    nice -n 19 "$ROOT/$dir/fuzz/fuzz_$t" "${dict[@]}" -max_total_time="$seconds" -timeout=10 \
      -rss_limit_mb=2048 -malloc_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$findings/" \
      "$corpus" "$ROOT/fuzz/corpus/$t" >"$log" 2>&1 || rc=$?
    local runs found
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    found=$(find "$findings" -type f | wc -l)
    grep -E "^(==[0-9]+==ERROR|SUMMARY|FINDING|Done)" "$log" | head -5 || true
    summary+=$(printf '%-16s %12s executions  %3s findings  (exit %s)' "$t" "${runs:-?}" "$found" "$rc")$'\n'
    if [ "$rc" -ne 0 ] || [ "$found" -ne 0 ]; then status=1; fi
  done
  echo "== Fuzzing summary ($seconds s per target; findings in $dir/findings)"
  printf '%s' "$summary"
  return $status
}

cmd=${1:-}
case "$cmd" in
  help | -h | --help)
    usage
    exit 0
    ;;
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
      [ -x "$b" ] && echo "== Benchmark $b" && "$b" --benchmark_repetitions=${BENCH_REPS:-5} --benchmark_report_aggregates_only=true
    done
    ;;
  fuzz)
    if ! [[ ${2:-60} =~ ^[1-9][0-9]*$ ]]; then
      echo "run.sh fuzz: SECONDS must be a positive whole number, not '${2:-}'" >&2
      usage >&2
      exit 2
    fi
    install_missing "${BASE_PACKAGES[@]}" "${FUZZ_PACKAGES[@]}"
    echo "== Configuring build/fuzz (clang, libFuzzer, ASan+UBSan)"
    CC=clang CXX=clang++ cmake -S "$ROOT" -B build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTREL_BUILD_FUZZ=ON \
      -DTREL_BUILD_TESTS=OFF -DTREL_BUILD_MEX=OFF
    echo "== Building the fuzz targets"
    cmake --build build/fuzz --target fuzz_targets -j"$JOBS"
    run_fuzzers build/fuzz "${2:-60}"
    ;;
  *)
    usage >&2
    exit 2
    ;;
esac
