#!/usr/bin/env python3
"""ReadMapFile against two peers on the same generated map file, in one run.

    bench/compare.py BENCH_MAPFILE [--count N] [--runs R]

BENCH_MAPFILE is the bench_mapfile program of a Release build. The script has it write a map of
N calibrations (100,000 unless given), then times on that one file, best of R runs each:
  - a plain line count (reading the file and counting b"\\n"), the floor for any reader;
  - Python's configparser (strict=False, interpolation=None; keys are case-blind by default), as
    it comes and with case-blind section names too, like our profile engine;
  - ReadMapFile, through bench_mapfile --time-read,
and prints ReadMapFile as ratios to them.
"""

import argparse
import configparser
import os
import re
import subprocess
import sys
import tempfile
import time


class FoldedDict(dict):
    """A dict whose string keys compare case-blind, for configparser's sections."""

    @staticmethod
    def _fold(key):
        return key.casefold() if isinstance(key, str) else key

    def __setitem__(self, key, value):
        super().__setitem__(self._fold(key), value)

    def __getitem__(self, key):
        return super().__getitem__(self._fold(key))

    def __delitem__(self, key):
        super().__delitem__(self._fold(key))

    def __contains__(self, key):
        return super().__contains__(self._fold(key))

    def get(self, key, default=None):
        return super().get(self._fold(key), default)

    def setdefault(self, key, default=None):
        return super().setdefault(self._fold(key), default)


def best_of(runs, work):
    """The fastest of runs calls of work in ms, and the last call's result."""
    best, result = None, None
    for _ in range(runs):
        start = time.perf_counter()
        result = work()
        elapsed = (time.perf_counter() - start) * 1000
        best = elapsed if best is None else min(best, elapsed)
    return best, result


def count_lines(path):
    with open(path, "rb") as f:
        return f.read().count(b"\n")


def parse(path, dict_type):
    parser = configparser.ConfigParser(strict=False, interpolation=None, dict_type=dict_type)
    # Our maps are written with the Windows-1251 code page, as the editor's peers expect.
    parser.read(path, encoding="cp1251")
    return len(parser.sections())


def time_read_map_file(bench, path):
    out = subprocess.run([bench, "--time-read", path], check=True, capture_output=True,
                         text=True).stdout
    match = re.fullmatch(r"(\d+) calibrations ([\d.]+) ms\s*", out)
    if not match:
        sys.exit(f"unexpected output from {bench} --time-read: {out!r}")
    return float(match.group(2)), int(match.group(1))


def main():
    args = argparse.ArgumentParser(description=__doc__,
                                   formatter_class=argparse.RawDescriptionHelpFormatter)
    args.add_argument("bench", help="the bench_mapfile program")
    args.add_argument("--count", type=int, default=100000, help="calibrations in the map")
    args.add_argument("--runs", type=int, default=2, help="runs of each reader, best counts")
    opts = args.parse_args()

    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "map.vlm")
        subprocess.run([opts.bench, "--make-map", str(opts.count), path], check=True)
        size = os.path.getsize(path)

        floor_ms, lines = best_of(opts.runs, lambda: count_lines(path))
        plain_ms, sections = best_of(opts.runs, lambda: parse(path, dict))
        folded_ms, folded_sections = best_of(opts.runs, lambda: parse(path, FoldedDict))
        ours_runs = [time_read_map_file(opts.bench, path) for _ in range(opts.runs)]
        ours_ms = min(ms for ms, _ in ours_runs)
        loaded = ours_runs[0][1]

    # The map holds the header section and one per calibration; every reader must see them all.
    if sections != opts.count + 1 or folded_sections != sections or loaded != opts.count:
        sys.exit(f"readers disagree: configparser {sections} and {folded_sections} sections, "
                 f"ReadMapFile {loaded} calibrations, map of {opts.count}")

    print(f"map: {opts.count:,} calibrations, {size / 1e6:.1f} MB, {lines:,} lines; "
          f"best of {opts.runs} runs each")
    print(f"  line count (the floor)               {floor_ms:10.1f} ms")
    print(f"  configparser                         {plain_ms:10.1f} ms")
    print(f"  configparser, case-blind sections    {folded_ms:10.1f} ms")
    print(f"  ReadMapFile                          {ours_ms:10.1f} ms")
    print(f"ReadMapFile = {ours_ms / floor_ms:.1f} x the line count")
    print(f"ReadMapFile = {ours_ms / plain_ms:.4f} x configparser "
          f"(configparser takes {plain_ms / ours_ms:.0f} x as long)")
    print(f"ReadMapFile = {ours_ms / folded_ms:.4f} x configparser with case-blind sections "
          f"({folded_ms / ours_ms:.0f} x as long)")


if __name__ == "__main__":
    main()
