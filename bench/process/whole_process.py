#!/usr/bin/env python3
"""Whole-process benchmark: `korvela --info FILE` against a minimal program around the
reference library (ref_decode.c), run alternately on the 12-megapixel pictures that
make_files.sh writes. Prints one Markdown table: median wall time of each, the median of the
per-pair ratios (ours / reference) and the peak resident memory of each.

Usage: whole_process.py KORVELA [--files DIR] [--runs N] [--only TEXT]"""
import argparse
import os
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))

WORKLOADS = [
    ("JPEG baseline 4:2:0 q90", "jpeg420.jpg", "libjpeg-turbo"),
    ("JPEG 4:4:4", "jpeg444.jpg", "libjpeg-turbo"),
    ("JPEG greyscale", "jpeggrey.jpg", "libjpeg-turbo"),
    ("JPEG progressive", "jpegprog.jpg", "libjpeg-turbo"),
    ("PNG RGB, filtered photo", "rgb.png", "libpng"),
    ("PNG RGBA", "rgba.png", "libpng"),
    ("PNG palette", "palette.png", "libpng"),
    ("GIF still", "still.gif", "giflib"),
    ("TIFF LZW with predictor", "lzw.tif", "libtiff"),
    ("TIFF Group 4", "g4.tif", "libtiff"),
    ("PNM P6", "p6.ppm", "stb_image"),
]


def build_reference(folder):
    binary = os.path.join(folder, "ref_decode")
    source = os.path.join(HERE, "ref_decode.c")
    if os.path.exists(binary) and os.path.getmtime(binary) > os.path.getmtime(source):
        return binary
    flags = subprocess.run(["pkg-config", "--cflags", "--libs", "libjpeg", "libpng", "libtiff-4"],
                           check=True, capture_output=True, text=True).stdout.split()
    subprocess.run(["gcc", "-O2", "-o", binary, source] + flags + ["-lgif", "-lm"], check=True)
    return binary


def run_once(command):
    """Wall time in seconds and peak resident memory in MiB of one run."""
    start = time.perf_counter()
    process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(process.pid, 0)
    elapsed = time.perf_counter() - start
    if os.waitstatus_to_exitcode(status) != 0:
        raise RuntimeError(f"{' '.join(command)} failed")
    return elapsed, usage.ru_maxrss / 1024.0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("korvela")
    parser.add_argument("--files", default="/tmp/korvela-bench")
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--only", default="", help="run only the workloads whose name contains this")
    args = parser.parse_args()
    subprocess.run([os.path.join(HERE, "make_files.sh"), args.files], check=True,
                   stdout=subprocess.DEVNULL)
    reference = build_reference(args.files)

    print("| workload | korvela s | reference s | ratio (median) | korvela MiB | reference MiB |")
    print("|---|---|---|---|---|---|")
    for name, file_name, library in WORKLOADS:
        if args.only not in name:
            continue
        path = os.path.join(args.files, file_name)
        ours, theirs, ratios, our_peak, their_peak = [], [], [], 0.0, 0.0
        for _ in range(args.runs):
            t_ours, m_ours = run_once([args.korvela, "--info", path])
            t_ref, m_ref = run_once([reference, path])
            ours.append(t_ours)
            theirs.append(t_ref)
            ratios.append(t_ours / t_ref)
            our_peak, their_peak = max(our_peak, m_ours), max(their_peak, m_ref)
        print(f"| {name} ({library}) | {statistics.median(ours):.3f} | "
              f"{statistics.median(theirs):.3f} | {statistics.median(ratios):.2f}x | "
              f"{our_peak:.1f} | {their_peak:.1f} |", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
