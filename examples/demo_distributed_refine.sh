#!/usr/bin/env bash
# Refines a large synthetic set in partitions on a local Dask cluster of two
# workers (127.0.0.1 only) and compares with one refine_poses call.
#   bash examples/demo_distributed_refine.sh <repo-root> <build-dir> [args ignored]
set -euo pipefail
root=$(cd "$1" && pwd)
build=$2
case $build in /*) ;; *) build=$root/$build ;; esac
python=/usr/bin/python3
[ -x "$python" ] || python=python3
if ! ls "$build"/python/trel/_trel.*.so >/dev/null 2>&1; then
  echo "demo_distributed_refine: the Python module has not been built in $build/python" >&2
  exit 1
fi
if ! "$python" -c "import dask.distributed" 2>/dev/null; then
  echo "== Dask: skipped, $python lacks dask.distributed (python3-dask, python3-distributed)"
  exit 0
fi
echo "== Python: refine_poses on a local Dask cluster (examples/distributed_refine.py)"
# The workers are processes started by the cluster: they find trel through the
# inherited PYTHONPATH.
PYTHONPATH="$build/python${PYTHONPATH:+:$PYTHONPATH}" PYTHONDONTWRITEBYTECODE=1 \
  "$python" "$root/examples/distributed_refine.py" --frames 20000 --points 100
