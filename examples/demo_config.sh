#!/usr/bin/env bash
# Runs the configuration demo: demo_config.sh <repo-root> <build-dir> [config_file]
# Without a file it reads examples/sample_config.txt, whose import is relative to the repo root.
set -euo pipefail
root=$1
build=$2
shift 2
cd "$root"
echo "== configuration demo"
"$build/examples/config_demo" "$@"
