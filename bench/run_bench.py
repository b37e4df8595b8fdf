#!/usr/bin/env python3
"""Times menuconv against reference readers of the same editor document, side by side.

For each preset the references and menuconv run alternately, ROUNDS times each:
  read   - cat FILE > /dev/null (reading the file)
  floor  - reading the file whole into fresh memory, then creating the files one run of
           menuconv writes, with their sizes, in its order (bench_io_floor; learnt from one
           untimed run): the cost of the input and output alone
  mapfloor - the same with the input mapped instead of read: the floor of a program that never
           copies its input into fresh memory
  pugixml - pugixml parsing the file into its tree (skipped when not built)
  xmllint - xmllint --noout FILE (libxml2; skipped when not installed)
  menuconv - the whole conversion run (menu documents and text tables written)
  profiled - with --profiled DIR, the same run by a second build of menuconv (the one
           bench/build_profiled.py makes in DIR), timed beside the first
and the table gives median wall time, MB/s, peak RSS and menuconv's ratio to each; with
--profiled, a line for each preset gives both builds' ratios to the mapped floor and pugixml.

usage: bench/run_bench.py [--build DIR] [--profiled DIR] [--work DIR] [--outputs DIR] [--rounds N]
                          [--skip REFERENCE] [PRESET[:ENCODING] ...]
presets: small medium large wide elements sprites, or a size in MB; encodings: utf-8 (default), windows-1251
--outputs puts the folders the runs write into elsewhere (by default under --work), for
example on a tmpfs such as /dev/shm, to see the run without the disk file system's cost of
creating thousands of files.
"""
import argparse
import ast
import collections
import mmap
import os
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time
import traceback


# The programs a benchmark runs: a reference left out (not built, not installed, skipped or
# not asked for) is None.
Programs = collections.namedtuple("Programs", "menuconv generate floor pugixml xmllint profiled")

# The tools that write the files of a run; the others write nothing.
WRITERS = ("floor", "mapfloor", "menuconv", "profiled")


def run(argv, cwd=None, stdout=subprocess.DEVNULL):
    """Runs a command and gives (wall seconds, peak RSS in bytes)."""
    start = time.perf_counter()
    proc = subprocess.Popen(argv, cwd=cwd, stdout=stdout, stderr=subprocess.PIPE)
    _, status, usage = os.wait4(proc.pid, 0)
    elapsed = time.perf_counter() - start
    proc.returncode = os.waitstatus_to_exitcode(status)
    err = proc.stderr.read().decode(errors="replace")
    proc.stderr.close()
    if proc.returncode < 0:
        # The kernel's out-of-memory killer sends SIGKILL; other signals are the tool's own fault.
        hint = " (out of memory?)" if proc.returncode == -signal.SIGKILL else ""
        sys.exit(f"{' '.join(argv)} was killed by signal {-proc.returncode}{hint}: {err.strip()[:500]}")
    if proc.returncode != 0:
        sys.exit(f"{' '.join(argv)} failed with status {proc.returncode}: {err.strip()[:500]}")
    return elapsed, usage.ru_maxrss * 1024


def in_child(fn, *args):
    """fn(*args) in a forked child: the benchmark's own memory, from which every tool's peak RSS
    counts, stays as it was."""
    read, write = os.pipe()
    pid = os.fork()
    if pid == 0:
        os.close(read)
        status = 0
        try:
            text = repr(fn(*args))
        except BaseException:
            text, status = traceback.format_exc(), 1
        os.write(write, text.encode())
        os._exit(status)
    os.close(write)
    with os.fdopen(read) as f:
        text = f.read()
    _, status = os.waitpid(pid, 0)
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"{fn.__name__} failed:\n{text}")
    return ast.literal_eval(text)


def large_page_share(path):
    """The share of the file that a program mapping it finds in large pages of the page cache
    (FilePmdMapped in /proc/self/smaps after asking for large pages and faulting the mapping
    in, as menuconv does), counted within the 2 MiB pages the mapping covers whole; None where
    the system does not tell, or the file covers no such page."""
    large = 2 << 20
    try:
        with open(path, "rb") as f:
            size = os.fstat(f.fileno()).st_size
            view = mmap.mmap(f.fileno(), size, prot=mmap.PROT_READ)
    except (OSError, ValueError):
        return None
    try:
        if hasattr(mmap, "MADV_HUGEPAGE"):
            view.madvise(mmap.MADV_HUGEPAGE)
        for at in range(0, size, 4096):
            view[at]
        with open("/proc/self/smaps") as f:
            entries = f.read().split("\n")
    except OSError:
        return None
    finally:
        view.close()
    target = " " + os.path.realpath(path)
    for i, line in enumerate(entries):
        if not line.endswith(target):
            continue
        begin, end = (int(x, 16) for x in line.split()[0].split("-"))
        first_whole = (begin + large - 1) // large * large
        whole = end // large * large - first_whole
        if whole <= 0:
            return None
        for field in entries[i + 1:]:
            if field.startswith("VmFlags:"):
                break
            if field.startswith("FilePmdMapped:"):
                return int(field.split()[1]) * 1024 / whole
        return None
    return None


def rewrite_in_large_pieces(path):
    """Writes the file again, in pieces of 4 MiB as the generator writes it (and an editor saves
    a document), under a new name put in its place: its page cache then starts afresh."""
    fresh = path + ".rewritten"
    with open(path, "rb") as source, open(fresh, "wb", buffering=0) as target:
        while piece := source.read(4 << 20):
            target.write(piece)
    os.replace(fresh, path)


class OutputFolders:
    """The folders the runs write into, below root. They are kept, since deleting thousands of
    files makes a disk's file system slow to create new ones for minutes afterwards, until
    keeping one more would take over a quarter of the space that was free at the start (on a
    tmpfs that space is memory): the kept ones are then deleted, between two timed runs."""

    def __init__(self, root):
        self.root = root
        free = os.statvfs(root)
        self.budget = free.f_bavail * free.f_frsize // 4
        self.kept = []
        self.kept_bytes = 0

    def new(self, writes, label):
        """A fresh folder for a run that writes about `writes` bytes."""
        if self.kept and self.kept_bytes + writes > self.budget:
            print(f"{label}: deleted the outputs of the last {len(self.kept)} runs, to keep them within "
                  f"a quarter of the space that was free below {self.root}")
            for out in self.kept:
                shutil.rmtree(out)
            self.kept, self.kept_bytes = [], 0
        out = tempfile.mkdtemp(dir=self.root)
        self.kept.append(out)
        self.kept_bytes += writes
        return out


def learn_outputs(menuconv, source, folder, pristine, out):
    """Runs menuconv once, untimed, in the folder out, and writes the manifest of what it wrote:
    "SIZE PATH" lines in the order of writing, menu documents relative to out, the table
    absolute. Gives the manifest and the bytes the run leaves in out (the table is written
    beside the input, in place of the one there)."""
    shutil.copyfile(pristine, os.path.join(folder, "menus_txts.txt"))
    listed = subprocess.run([menuconv, "--list-outputs", source], cwd=out, check=True,
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout.decode().splitlines()
    run([menuconv, source], cwd=out)
    manifest = os.path.join(folder, "outputs.manifest")
    kept = 0
    with open(manifest, "w") as f:
        for path in listed:
            size = os.path.getsize(os.path.join(out, path))
            kept += 0 if os.path.isabs(path) else size
            f.write(f"{size} {path}\n")
    return manifest, kept


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default="build")
    parser.add_argument("--profiled", default=None, metavar="DIR",
                        help="a second build of menuconv, timed beside the first (bench/build_profiled.py)")
    parser.add_argument("--work", default=os.path.join(tempfile.gettempdir(), "menuconv-bench"))
    parser.add_argument("--outputs", default=None)
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--skip", action="append", default=[], choices=["pugixml", "xmllint"],
                        help="leave a reference out (xmllint takes minutes on the large presets)")
    parser.add_argument("presets", nargs="*", default=["small", "medium", "large", "wide", "medium:windows-1251"])
    args = parser.parse_args()

    menuconv = os.path.abspath(os.path.join(args.build, "menuconv"))
    generate = os.path.abspath(os.path.join(args.build, "bench", "bench_generate"))
    pugixml = os.path.abspath(os.path.join(args.build, "bench", "bench_pugixml_parse"))
    floor = os.path.abspath(os.path.join(args.build, "bench", "bench_io_floor"))
    xmllint = shutil.which("xmllint")
    profiled = os.path.abspath(os.path.join(args.profiled, "menuconv")) if args.profiled else None
    for tool in (menuconv, generate, floor):
        if not os.path.exists(tool):
            sys.exit(f"{tool} is missing: build the project first (cmake --build {args.build})")
    if profiled and not os.path.exists(profiled):
        sys.exit(f"{profiled} is missing: build it first (bench/build_profiled.py --build {args.profiled})")
    if "xmllint" in args.skip:
        xmllint = None
    if "pugixml" in args.skip:
        pugixml = None
    elif not os.path.exists(pugixml):
        print("pugixml reference skipped: not built (install libpugixml-dev and re-run cmake)")
        pugixml = None
    if not xmllint and "xmllint" not in args.skip:
        print("xmllint reference skipped: not installed (Debian: libxml2-utils)")

    os.makedirs(args.work, exist_ok=True)
    if args.outputs:
        os.makedirs(args.outputs, exist_ok=True)
    outputs = tempfile.mkdtemp(dir=args.outputs or args.work, prefix="outputs-")
    print(f"menu documents are written below {outputs}")
    try:
        benchmark(args, Programs(menuconv, generate, floor, pugixml, xmllint, profiled), OutputFolders(outputs))
    finally:
        shutil.rmtree(outputs, ignore_errors=True)


def benchmark(args, programs, folders):
    print(f"{'preset':<22}{'tool':<10}{'median s':>10}{'spread':>8}{'MB/s':>9}{'peak RSS MB':>13}{'x input':>9}{'menuconv/tool':>15}")
    for choice in args.presets:
        preset, _, encoding = choice.partition(":")
        encoding = encoding or "utf-8"
        folder = os.path.join(args.work, f"{preset}-{encoding}")
        source = os.path.join(folder, "menus.xml")
        if not os.path.exists(source):
            os.makedirs(folder, exist_ok=True)
            subprocess.run([programs.generate, preset, encoding, folder], check=True)
        size = os.path.getsize(source)
        # A run reads the whole input through its mapping, the mapped floor only its first
        # megabytes: where much of the input lies in small pages of the page cache, as a file
        # kept there for hours may come to, the run pays first touches that the floor does
        # not. The input is then written afresh, as just saved.
        share = in_child(large_page_share, source)
        if share is not None and share < 0.9:
            in_child(rewrite_in_large_pieces, source)
            print(f"{choice}: {share:.0%} of the input lay in large pages of the page cache; "
                  f"written afresh: now {in_child(large_page_share, source) or 0:.0%}")
        elif share is not None:
            print(f"{choice}: {share:.0%} of the input lies in large pages of the page cache")
        pristine = os.path.join(folder, "menus_txts.pristine")
        if not os.path.exists(pristine):
            shutil.copyfile(os.path.join(folder, "menus_txts.txt"), pristine)

        # The untimed run's folder is counted as empty: what it writes is what it learns.
        manifest, kept = learn_outputs(programs.menuconv, source, folder, pristine, folders.new(0, choice))

        tools = {"read": ["cat", source], "floor": [programs.floor, source, manifest],
                 "mapfloor": [programs.floor, "--mapped", source, manifest]}
        if programs.pugixml:
            tools["pugixml"] = [programs.pugixml, source]
        if programs.xmllint:
            tools["xmllint"] = [programs.xmllint, "--noout", "--huge", source]
        tools["menuconv"] = [programs.menuconv, source]
        if programs.profiled:
            tools["profiled"] = [programs.profiled, source]
        times = {name: [] for name in tools}
        peaks = {name: 0 for name in tools}
        for _ in range(args.rounds):
            for name, argv in tools.items():
                out = folders.new(kept if name in WRITERS else 0, choice)
                shutil.copyfile(pristine, os.path.join(folder, "menus_txts.txt"))
                elapsed, peak = run(argv, cwd=out)
                times[name].append(elapsed)
                peaks[name] = max(peaks[name], peak)
        medians = {name: statistics.median(times[name]) for name in tools}
        mine = medians["menuconv"]
        for name in tools:
            median = medians[name]
            spread = (max(times[name]) - min(times[name])) / median if median else 0
            ratio = "" if name == "menuconv" else f"{mine / median:.2f}"
            print(f"{choice:<22}{name:<10}{median:>10.3f}{spread:>7.0%} {size / 1e6 / median:>8.0f}"
                  f"{peaks[name] / 1e6:>13.0f}{peaks[name] / size:>9.2f}{ratio:>15}")
        if programs.profiled:
            for build in ("menuconv", "profiled"):
                against = [f"{medians[build] / medians[ref]:.2f} x {ref}" for ref in ("mapfloor", "pugixml")
                           if ref in medians]
                print(f"{choice:<22}{build} build: {', '.join(against)}")
        sys.stdout.flush()


if __name__ == "__main__":
    main()
