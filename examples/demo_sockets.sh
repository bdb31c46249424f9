#!/usr/bin/env bash
# Runs the loopback socket demo: demo_sockets.sh <repo-root> <build-dir> [args ignored]
set -euo pipefail
root=$1
build=$2
cd "$root"
echo "== sockets demo"
"$build/examples/socket_demo" 2>&1
