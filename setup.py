"""Builds the single extension module ``yol_vovoruze`` from the C++ sources in src/."""
import glob
import os
from concurrent.futures import ThreadPoolExecutor

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

HERE = os.path.dirname(os.path.abspath(__file__))


def _sources(pattern):
    # Relative paths keep the build reproducible wherever the tree is unpacked.
    return sorted(os.path.relpath(path, HERE) for path in glob.glob(os.path.join(HERE, pattern), recursive=True))


class ParallelBuildExt(build_ext):
    """Compiles the translation units of the extension on every core.

    The stock command compiles one file after the other, which makes the build
    the slowest step of a test run on a small machine.
    """

    def build_extensions(self):
        compiler = self.compiler
        serial_compile = compiler.compile

        def parallel_compile(sources, output_dir=None, macros=None, include_dirs=None, debug=0,
                             extra_preargs=None, extra_postargs=None, depends=None):
            def one(source):
                return serial_compile([source], output_dir, macros, include_dirs, debug,
                                      extra_preargs, extra_postargs, depends)[0]
            workers = max(1, min(len(sources), os.cpu_count() or 1))
            with ThreadPoolExecutor(workers) as pool:
                return list(pool.map(one, sources))

        compiler.compile = parallel_compile
        if "-Wstrict-prototypes" in compiler.compiler_so:
            compiler.compiler_so.remove("-Wstrict-prototypes")  # a C-only flag that g++ warns about
        build_ext.build_extensions(self)


# YOL_GENERAL_PATH_ONLY=1 at build time turns every fast path off
# (src/module/fast_paths.hpp): the module then takes the general path only.
GENERAL_PATH_ONLY = [("YOL_GENERAL_PATH_ONLY", "1")] if os.environ.get("YOL_GENERAL_PATH_ONLY") == "1" else []

extension = Extension(
    "yol_vovoruze",
    sources=_sources("src/**/*.cpp"),
    depends=_sources("src/**/*.hpp"),
    include_dirs=["src"],
    define_macros=GENERAL_PATH_ONLY,
    language="c++",
    extra_compile_args=["-std=c++17", "-Wall", "-Wextra", "-fvisibility=hidden"],
)

setup(ext_modules=[extension], cmdclass={"build_ext": ParallelBuildExt})
