"""`python -m pip install .` and `pip wheel .`: the module built with the project's CMake for the
interpreter that runs this file, installed flat into site-packages with the library beside it
(the module finds it through an $ORIGIN rpath), the `OvAttribute` package, and on Python 3 the
stub file and `py.typed`. Nothing is fetched: CMake, a compiler and the Debian packages the
README's `make` installs are all it needs.

There is no pyproject.toml on purpose: with one, the pip of Python 2.7 (19.x) builds in an
isolated environment that it must fill from a package index, and it cannot load a build
backend kept in the tree. Without one, every pip runs this file with the setuptools it has.
"""

import base64
import hashlib
import os
import shutil
import subprocess
import sys
import sysconfig
import zipfile

from setuptools import Command, setup
from setuptools.command.build_py import build_py
from setuptools.dist import Distribution

HERE = os.path.dirname(os.path.abspath(__file__))
NAME, VERSION = "PyOvAttribute", "1.0.0"
PY3 = sys.version_info[0] >= 3
# The build's folder of the module for this interpreter (CMake's layout: python/ for 2.7).
MODULE_DIR = "python%d.%d" % sys.version_info[:2] if PY3 else "python"


def found(program):
    return any(os.access(os.path.join(d, program), os.X_OK)
               for d in os.environ.get("PATH", "").split(os.pathsep))


def cmake_build(build_dir):
    """Configures and builds the module for sys.executable; returns the module's folder."""
    generator = ["-G", "Ninja"] if found("ninja") else []
    python = ["-DOVATTR_PYTHON3=" + sys.executable, "-DOVATTR_PYTHON2=OFF"] if PY3 else \
        ["-DPython2_EXECUTABLE=" + sys.executable]
    subprocess.check_call(["cmake", "-S", HERE, "-B", build_dir, "-DCMAKE_BUILD_TYPE=Release",
                           "-DOVATTR_BUILD_TESTS=OFF", "-DOVATTR_BUILD_BENCHMARKS=OFF",
                           "-DOVATTR_BUILD_TOOLS=OFF", "-DOVATTR_SELF_CONTAINED_MODULE=ON"] +
                          generator + python)
    subprocess.check_call(["cmake", "--build", build_dir, "--target",
                           "PyOvAttribute-python%d.%d" % sys.version_info[:2]])
    return os.path.join(build_dir, MODULE_DIR)


class BuildWithCMake(build_py):
    """Puts the module, the library (by its soname, as the module names it) and on Python 3
    the stub files into the build folder next to the pure-Python package."""

    BUILT = ("PyOvAttribute.so", "libOvTessarkSDK.so.1")
    STUBS = ("PyOvAttribute.pyi", "py.typed") if PY3 else ()

    def run(self):
        build_py.run(self)
        built = cmake_build(os.path.join(HERE, "build", "pip-" + MODULE_DIR))
        for name in self.BUILT:
            # copyfile follows the build's symlink chain to the real file
            shutil.copyfile(os.path.join(built, name), os.path.join(self.build_lib, name))
            os.chmod(os.path.join(self.build_lib, name), 0o755)
        for stub in self.STUBS:
            shutil.copy(os.path.join(HERE, "module", stub), self.build_lib)

    def get_outputs(self, include_bytecode=1):
        # What `setup.py install` records, and so what `pip uninstall` removes.
        return build_py.get_outputs(self, include_bytecode) + [
            os.path.join(self.build_lib, name) for name in self.BUILT + self.STUBS]


class BinaryDistribution(Distribution):
    def has_ext_modules(self):  # the wheel is for this interpreter and platform only
        return True


def wheel_tag():
    impl = "cp%d%d" % sys.version_info[:2]
    if PY3:
        abi = "cp" + sysconfig.get_config_var("py_version_nodot") + \
            ("d" if hasattr(sys, "gettotalrefcount") else "")
    else:
        abi = impl + ("mu" if sys.maxunicode > 0xffff else "m")
    return "%s-%s-%s" % (impl, abi, sysconfig.get_platform().replace("-", "_").replace(".", "_"))


class BdistWheel(Command):
    """`setup.py bdist_wheel -d DIR`, which is how pip makes a wheel of a project without a
    pyproject.toml: the build folder zipped with the metadata a wheel needs, so that no
    `wheel` package has to be installed."""

    description = "build a wheel of the module for this interpreter"
    user_options = [("dist-dir=", "d", "where to put the wheel")]

    def initialize_options(self):
        self.dist_dir = None

    def finalize_options(self):
        self.dist_dir = self.dist_dir or "dist"

    def run(self):
        self.run_command("build_py")
        build_lib = self.get_finalized_command("build_py").build_lib
        info = "%s-%s.dist-info" % (NAME, VERSION)
        meta = {
            "METADATA": "Metadata-Version: 2.1\nName: %s\nVersion: %s\nSummary: %s\n" % (
                NAME, VERSION, self.distribution.get_description()),
            "WHEEL": "Wheel-Version: 1.0\nGenerator: setup.py\nRoot-Is-Purelib: false\n"
                     "Tag: %s\n" % wheel_tag(),
        }
        if not os.path.isdir(self.dist_dir):
            os.makedirs(self.dist_dir)
        path = os.path.join(self.dist_dir, "%s-%s-%s.whl" % (NAME, VERSION, wheel_tag()))
        records = []
        with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as wheel:
            entries = [(os.path.relpath(os.path.join(root, f), build_lib).replace(os.sep, "/"),
                        os.path.join(root, f))
                       for root, _, files in os.walk(build_lib) for f in sorted(files)
                       if not f.endswith((".pyc", ".pyo"))]
            entries += [(info + "/" + name, text) for name, text in sorted(meta.items())]
            for arcname, source in entries:
                if arcname.startswith(info):
                    data = source.encode("utf-8")
                else:
                    with open(source, "rb") as f:
                        data = f.read()
                member = zipfile.ZipInfo(arcname, (2020, 1, 1, 0, 0, 0))  # reproducible
                member.external_attr = (0o755 if ".so" in arcname else 0o644) << 16
                wheel.writestr(member, data, zipfile.ZIP_DEFLATED)
                digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=")
                records.append("%s,sha256=%s,%d" % (arcname, digest.decode(), len(data)))
            records.append(info + "/RECORD,,")
            wheel.writestr(info + "/RECORD", "\n".join(records) + "\n")
        self.announce("wrote " + path, 2)

    def egg2dist(self, egg_info, dist_info):
        """What setuptools' dist_info command (pip's metadata step when it builds through
        setuptools.build_meta) asks of bdist_wheel: the egg-info metadata as a dist-info."""
        if not os.path.isdir(dist_info):
            os.makedirs(dist_info)
        shutil.copyfile(os.path.join(egg_info, "PKG-INFO"), os.path.join(dist_info, "METADATA"))
        shutil.rmtree(egg_info)


setup(
    name=NAME,
    version=VERSION,
    description="Typed, immutable, time-sampled attribute values, and the library behind them",
    packages=["OvAttribute"],
    package_dir={"OvAttribute": "module/OvAttribute"},
    distclass=BinaryDistribution,
    cmdclass={"build_py": BuildWithCMake, "bdist_wheel": BdistWheel},
    zip_safe=False,
    # setuptools' own build folder, away from CMake's build/lib, where the library is built
    options={"build": {"build_base": os.path.join("build", "setuptools")}},
)
