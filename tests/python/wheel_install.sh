#!/usr/bin/env bash
# Builds a wheel with `pip wheel` from the module of this build folder, installs
# it into a new virtual environment (--system-site-packages, for numpy) and
# imports it there, away from the source and the build tree: the package must
# carry the module, the library it links (found through the module's $ORIGIN
# run path, not the build tree's), the stubs and py.typed.
set -euo pipefail
source=$1 build=$2 python=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export PIP_DISABLE_PIP_VERSION_CHECK=1 PIP_NO_INDEX=1 PYTHONDONTWRITEBYTECODE=1

# setuptools writes its build and metadata folders beside setup.py: a copy of
# the packaging files keeps them out of the source tree.
mkdir -p "$work/src/python"
cp "$source/pyproject.toml" "$source/setup.py" "$source/CMakeLists.txt" "$work/src/"
cp -r "$source/python/trel" "$work/src/python/"
TREL_CMAKE_BUILD_DIR="$build" "$python" -m pip wheel -q --no-build-isolation --no-deps -w "$work/wheels" "$work/src"
wheel=$(ls "$work"/wheels/trel-*.whl)
echo "built $(basename "$wheel")"

"$python" -m venv --system-site-packages "$work/venv"
"$work/venv/bin/python" -m pip install -q --no-deps --root-user-action=ignore "$wheel"

cd "$work"
"$work/venv/bin/python" - "$work/venv" "$build" <<'PY'
import os
import sys

import numpy as np

import trel

venv, build = (os.path.realpath(p) for p in sys.argv[1:])
package = os.path.dirname(os.path.realpath(trel.__file__))
assert package.startswith(venv), package
for name in ("__init__.pyi", "py.typed"):
    assert os.path.isfile(os.path.join(package, name)), name
# The library the module loaded is the wheel's copy beside it.
with open("/proc/self/maps", encoding="utf-8") as maps:
    loaded = {line.split()[-1] for line in maps if "libtrel_tools" in line}
assert loaded and all(os.path.dirname(os.path.realpath(p)) == package for p in loaded), loaded
assert not any(p.startswith(build) for p in loaded), loaded

K = np.array([[800.0, 0.0, 320.0], [0.0, 800.0, 240.0], [0.0, 0.0, 1.0]])
points = np.array([[x, y, z] for x in (-1, 1) for y in (-1, 1) for z in (4, 6)], dtype=np.float32)
camera = points.astype(np.float64) @ K.T
pixels = (camera[:, :2] / camera[:, 2:]).tolist()
x, summary = trel.refine_pose(K, points, pixels, [0.01, -0.02, 0.01, 0.05, 0.0, 0.1])
assert np.allclose(x, 0.0, atol=1e-8), x
print("imported", trel.__file__, "version", trel.__version__)
PY

# The installed stubs are what a type checker sees.
cat > "$work/use_trel.py" <<'PY'
import trel

rot = trel.rot_vec_rad_to_rot_mat([0.0, 0.0, 0.1])
count: int = rot.shape[0]
PY
cat > "$work/misuse_trel.py" <<'PY'
import trel

name: str = trel.rot_vec_rad_to_rot_mat([0.0, 0.0, 0.1])
PY
"$work/venv/bin/python" -m mypy --strict --no-incremental "$work/use_trel.py"
if "$work/venv/bin/python" -m mypy --strict --no-incremental "$work/misuse_trel.py" >/dev/null; then
  echo "mypy did not see the installed stubs: a wrong type passed"
  exit 1
fi
