#!/usr/bin/env python3
"""Builds menuconv laid out by a profile of its own runs, with link-time optimisation (GCC).

Three steps in one build folder:
  1. a program that records where its runs spend their time (MENUCONV_PROFILE=generate);
  2. that program converts two generated documents of 8 MB, one UTF-8 and one windows-1251,
     twice each: the parse, the widget translations, the text tables and the writing;
  3. the program again, guided by the record (MENUCONV_PROFILE=use).
It gives the same output bytes as any other build; it is only faster (see the README).

usage: bench/build_profiled.py [--build DIR] [-- CMAKE-ARGUMENT ...]
The program is DIR/menuconv (default DIR: build-profiled), with the benchmark's tools in
DIR/bench. Arguments after "--" go to CMake.
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile

SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
TRAINING = [("8", "utf-8"), ("8", "windows-1251")]
RUNS_PER_DOCUMENT = 2
BENCH_TOOLS = ["bench_generate", "bench_io_floor", "bench_pugixml_parse"]


def step(title, argv):
    print(f"== {title}", flush=True)
    subprocess.run(argv, check=True)


def profile_dir(build):
    return os.path.join(build, "profile")


def configure_and_build(build, stage, extra, targets):
    step(f"configure ({stage})", ["cmake", "-S", SOURCE, "-B", build, "-DCMAKE_BUILD_TYPE=Release",
                                  f"-DMENUCONV_PROFILE={stage}", f"-DMENUCONV_PROFILE_DIR={profile_dir(build)}",
                                  "-DCMAKE_INTERPROCEDURAL_OPTIMIZATION=ON",
                                  # the profile makes the compiler look deeper: warnings it finds
                                  # then are not this build's to fail on
                                  "-DMENUCONV_WERROR=OFF", *extra])
    step(f"build ({stage})", ["cmake", "--build", build, "-j2", "--target", *targets])


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default="build-profiled")
    parser.add_argument("cmake_args", nargs="*")
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    menuconv = os.path.join(build, "menuconv")

    # A record left by an earlier build of other sources would guide this one wrongly.
    shutil.rmtree(profile_dir(build), ignore_errors=True)
    configure_and_build(build, "generate", args.cmake_args, ["menuconv", "bench_generate"])
    with tempfile.TemporaryDirectory(prefix="menuconv-training-") as scratch:
        for size, encoding in TRAINING:
            folder = os.path.join(scratch, encoding)
            os.makedirs(folder)
            step(f"training document: {size} MB, {encoding}",
                 [os.path.join(build, "bench", "bench_generate"), size, encoding, folder])
            for run in range(RUNS_PER_DOCUMENT):
                outputs = os.path.join(scratch, f"out-{encoding}-{run}")
                os.makedirs(outputs)
                step(f"training run {run + 1}", [menuconv, "-o", outputs, os.path.join(folder, "menus.xml")])
    # The benchmark's tools beside it, so that bench/run_bench.py can be pointed at the folder.
    listed = subprocess.run(["cmake", "--build", build, "--target", "help"], capture_output=True, text=True).stdout
    tools = [tool for tool in BENCH_TOOLS if tool in listed]
    configure_and_build(build, "use", args.cmake_args, ["menuconv", *tools])
    print(f"profiled build: {menuconv}")


if __name__ == "__main__":
    try:
        main()
    except subprocess.CalledProcessError as failed:
        sys.exit(f"build_profiled: {' '.join(map(str, failed.cmd))} failed with status {failed.returncode}")
