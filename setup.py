"""The build step behind pyproject.toml: the extension trel._trel is built by
the project's CMake build, not by setuptools' compiler.

Environment:
  TREL_CMAKE_BUILD_DIR  an existing (or new) CMake build folder to build the
                        module in; by default a folder below setuptools' own
                        build_temp, configured for a Release build of the
                        module alone.
  TREL_BUILD_JOBS       parallel build jobs (default 2).

The wheel's package holds the module, libtrel_tools under the name the module
asks for (its soname) and the module's run path set to $ORIGIN, so the package
works wherever it is installed.
"""

import glob
import os
import re
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext
from setuptools.command.egg_info import egg_info

ROOT = os.path.dirname(os.path.abspath(__file__))


def project_version():
    with open(os.path.join(ROOT, "CMakeLists.txt"), encoding="utf-8") as cmake_lists:
        found = re.search(r"project\(\s*trel\s+VERSION\s+([0-9.]+)", cmake_lists.read())
    if not found:
        raise RuntimeError("CMakeLists.txt names no project version")
    return found.group(1)


def run(command):
    print(" ".join(command), flush=True)
    subprocess.run(command, check=True)


def library_by_soname(build_dir):
    """The library file the module links, under its soname (libtrel_tools.so.0).

    Only the build folder's own top level is searched: packages staged below it
    (cpack's _CPack_Packages) hold copies that may be of another build."""
    names = glob.glob(os.path.join(build_dir, "libtrel_tools.so.*"))
    if not names:
        raise RuntimeError(f"no libtrel_tools.so.* in {build_dir}")
    # The soname is the shortest versioned name: libtrel_tools.so.0, not .so.0.1.0.
    return min(names, key=lambda p: (os.path.basename(p).count("."), p))


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build_dir = os.environ.get("TREL_CMAKE_BUILD_DIR") or os.path.join(os.path.abspath(self.build_temp), "cmake")
        build_dir = os.path.abspath(build_dir)
        if not os.path.exists(os.path.join(build_dir, "CMakeCache.txt")):
            run(["cmake", "-S", ROOT, "-B", build_dir, "-DCMAKE_BUILD_TYPE=Release", "-DTREL_BUILD_TESTS=OFF",
                 "-DTREL_BUILD_MEX=OFF", "-DTREL_BUILD_PYTHON=ON", f"-DPython3_EXECUTABLE={sys.executable}"])
        jobs = os.environ.get("TREL_BUILD_JOBS", "2")
        run(["cmake", "--build", build_dir, "--target", "trel_python", "-j", jobs])

        built = glob.glob(os.path.join(build_dir, "python", "trel", "_trel*.so"))
        if len(built) != 1:
            raise RuntimeError(f"expected one built module in {build_dir}/python/trel, found {built}")
        module = self.get_ext_fullpath(ext.name)
        package_dir = os.path.dirname(module)
        os.makedirs(package_dir, exist_ok=True)
        shutil.copyfile(built[0], module)
        library = library_by_soname(build_dir)
        shutil.copyfile(library, os.path.join(package_dir, os.path.basename(library)))
        # The library beside the module: the module's run path is its own folder.
        script = os.path.join(os.path.abspath(self.build_temp), "trel_rpath.cmake")
        os.makedirs(os.path.dirname(script), exist_ok=True)
        with open(script, "w", encoding="utf-8") as out:
            out.write('file(RPATH_SET FILE "${MODULE}" NEW_RPATH "$ORIGIN")\n')
        run(["cmake", f"-DMODULE={module}", "-P", script])


class EggInfoInBuild(egg_info):
    """The package's metadata folder below build/, not in the source tree."""

    def initialize_options(self):
        super().initialize_options()
        self.egg_base = os.path.relpath(os.path.join(ROOT, "build", "python-metadata"))
        os.makedirs(self.egg_base, exist_ok=True)


setup(
    version=project_version(),
    ext_modules=[Extension("trel._trel", sources=[])],
    cmdclass={"build_ext": CMakeBuild, "egg_info": EggInfoInBuild},
)
