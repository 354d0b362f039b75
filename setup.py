# pip's way into the Python package torvel: the project's own CMake build
# makes the compiled part (the same target the Debian package ships), and
# setuptools lays it beside the package's Python files. Needs only Debian's
# cmake, g++, pybind11-dev and python3-setuptools; see README ("Python").
import glob
import os
import re
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

SOURCE = os.path.dirname(os.path.abspath(__file__))


def project_version():
    with open(os.path.join(SOURCE, "CMakeLists.txt"), encoding="utf-8") as lists:
        return re.search(r"project\(torvel VERSION ([0-9.]+)", lists.read()).group(1)


class CMakeBuild(build_ext):
    """Builds torvel._torvel with CMake instead of setuptools' compiler."""

    def build_extension(self, ext):
        build = os.path.abspath(os.path.join(self.build_temp, "cmake"))
        subprocess.check_call(["cmake", "-S", SOURCE, "-B", build,
                               "-DPython3_EXECUTABLE=" + sys.executable,
                               "-DTORVEL_TESTS=OFF", "-DTORVEL_BENCH=OFF"])
        subprocess.check_call(["cmake", "--build", build, "--target", "torvel_module",
                               "-j", str(os.cpu_count() or 1)])
        built = glob.glob(os.path.join(build, "python", "torvel", "_torvel*.so"))
        if len(built) != 1:
            raise RuntimeError("the CMake build made no single torvel module: %s" % built)
        target = self.get_ext_fullpath(ext.name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(built[0], target)


setup(
    name="torvel",
    version=project_version(),
    description="ClassAds, expressions and configuration of the Torvel library",
    packages=["torvel"],
    package_dir={"": "python"},
    package_data={"torvel": ["py.typed", "*.pyi"]},
    ext_modules=[Extension("torvel._torvel", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    python_requires=">=3.9",
    zip_safe=False,
)
