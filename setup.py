"""Builds the extension of the Python package with the project's own CMake build, so that it gets
the library's sources and floating-point flags from the one place they are written, and puts the
libvips module bmpface-vips.so (and --verify's bmpface-verify.so) beside it in the package. The
version is the project's, read from CMakeLists.txt, where it is written once."""
import os
import re
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = os.path.dirname(os.path.abspath(__file__))


def project_version():
    with open(os.path.join(ROOT, "CMakeLists.txt"), encoding="utf-8") as cmake:
        return re.search(r"project\(bmpface VERSION ([0-9.]+)", cmake.read()).group(1)


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build = os.path.join(os.path.abspath(self.build_temp), "cmake")
        package = os.path.join(build, "package")
        # The tools' photo layer is part of the extension; their tests are not built. The pybind11
        # this build runs with (an isolated build's own, or Debian's) is the one CMake uses.
        import pybind11
        subprocess.check_call([
            "cmake", "-S", ROOT, "-B", build, "-DCMAKE_BUILD_TYPE=Release",
            "-DBMPFACE_BUILD_TESTS=OFF", "-DBMPFACE_BUILD_TOOLS=ON",
            "-DBMPFACE_BUILD_PYTHON=ON", "-DBMPFACE_REQUIRE_PYTHON=ON",
            "-DPYTHON_EXECUTABLE=" + sys.executable, "-DBMPFACE_PYTHON_DIR=" + package,
            "-Dpybind11_DIR=" + pybind11.get_cmake_dir()])
        subprocess.check_call(["cmake", "--build", build, "--target", "bmpface_python",
                               "-j", str(os.cpu_count() or 1)])
        built = os.path.join(package, "bmpface")
        target = os.path.dirname(self.get_ext_fullpath(ext.name))
        os.makedirs(target, exist_ok=True)
        shutil.copyfile(os.path.join(built, os.path.basename(self.get_ext_filename(ext.name))),
                        self.get_ext_fullpath(ext.name))
        # The modules, absent from a build without libvips or dlib.
        for name in ("bmpface-vips.so", "bmpface-verify.so"):
            module = os.path.join(built, name)
            if os.path.exists(module):
                shutil.copyfile(module, os.path.join(target, name))


# setuptools keeps its own folder, apart from the CMake build folder build/ of the scripts.
setup(version=project_version(), ext_modules=[Extension("bmpface._bmpface", sources=[])],
      cmdclass={"build_ext": CMakeBuild}, options={"build": {"build_base": "build-python"}})
