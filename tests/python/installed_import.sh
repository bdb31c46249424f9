#!/usr/bin/env bash
# Installs the build tree to a scratch prefix and imports the module from the
# prefix's site directory, away from the build tree: the module, its stubs and
# the library it needs must all be there.
set -euo pipefail
build=$1 python=$2 site=$3
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
for file in __init__.py __init__.pyi py.typed; do
  test -f "$prefix/$site/trel/$file" || { echo "trel/$file not installed in $site"; exit 1; }
done
cd "$prefix"
PYTHONPATH="$prefix/$site" PYTHONDONTWRITEBYTECODE=1 "$python" - "$prefix" <<'PY'
import sys
import trel
prefix = sys.argv[1]
assert trel.__file__.startswith(prefix), trel.__file__
doc = trel.__doc__ or ""
assert "pose refinement" in doc, doc
assert trel.rot_vec_rad_to_rot_mat([0.0, 0.0, 0.0]).tolist() == [[1, 0, 0], [0, 1, 0], [0, 0, 1]]
print("imported", trel.__file__)
PY
