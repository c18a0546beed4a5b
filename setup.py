"""Builds the extension of the Python package with the project's own CMake build, so that it gets
the library's sources and floating-point flags from the one place they are written."""
import os
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = os.path.dirname(os.path.abspath(__file__))


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build = os.path.join(os.path.abspath(self.build_temp), "cmake")
        package = os.path.join(build, "package")
        subprocess.check_call([
            "cmake", "-S", ROOT, "-B", build, "-DCMAKE_BUILD_TYPE=Release",
            "-DBMPFACE_BUILD_TESTS=OFF", "-DBMPFACE_BUILD_TOOLS=OFF",
            "-DBMPFACE_BUILD_PYTHON=ON", "-DBMPFACE_REQUIRE_PYTHON=ON",
            "-DPYTHON_EXECUTABLE=" + sys.executable, "-DBMPFACE_PYTHON_DIR=" + package])
        subprocess.check_call(["cmake", "--build", build, "--target", "bmpface_python",
                               "-j", str(os.cpu_count() or 1)])
        built = os.path.join(package, "bmpface", os.path.basename(self.get_ext_filename(ext.name)))
        os.makedirs(os.path.dirname(self.get_ext_fullpath(ext.name)), exist_ok=True)
        shutil.copyfile(built, self.get_ext_fullpath(ext.name))


# setuptools keeps its own folder, apart from the CMake build folder build/ of the scripts.
setup(ext_modules=[Extension("bmpface._bmpface", sources=[])], cmdclass={"build_ext": CMakeBuild},
      options={"build": {"build_base": "build-python"}})
