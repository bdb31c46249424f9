#!/usr/bin/env bash
# run.sh without a command, or with an unknown one, prints the usage and exits 2;
# `run.sh help` prints it and exits 0. None of these builds anything.
#   run_sh_usage.sh <source-dir>
set -uo pipefail
run=$1/run.sh
check() {  # expected status, expected stream (out|err), arguments...
  local want=$1 stream=$2
  shift 2
  local out err status
  out=$("$run" "$@" 2>/dev/null); status=$?
  err=$("$run" "$@" 2>&1 >/dev/null)
  local text=$out
  [ "$stream" = err ] && text=$err
  if [ "$status" -ne "$want" ] || ! grep -q "^usage: ./run.sh COMMAND" <<<"$text"; then
    echo "run.sh $*: status $status (wanted $want), usage on std$stream expected"
    exit 1
  fi
}
check 2 err
check 2 err no-such-command
check 2 err fuzz not-a-number
check 0 out help
check 0 out --help
