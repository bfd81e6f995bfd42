#!/usr/bin/env python3
"""zept-report beside an HTML-to-PDF converter, on one report written twice.

usage: bench/report_vs_html.py REPORT_DIR [--runs N] [--zept-report PATH]

REPORT_DIR holds report.xml (for zept-report) and report.html, the same
report as HTML with its pictures as file:// links. Each run renders both,
one after the other, in alternating order; the figures printed are the
medians over the runs of the wall time and of the peak resident memory.
wkhtmltopdf is run only when it is installed; without it only zept-report's
figures are printed.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time


def measure(argv):
    """Runs argv; returns (seconds, peak resident KB). Output is dropped."""
    # What the other program wrote is flushed first, so that a program that
    # flushes its own output (zept-report does) does not pay for it.
    os.sync()
    start = time.perf_counter()
    process = subprocess.Popen(argv, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(process.pid, 0)
    seconds = time.perf_counter() - start
    process.returncode = os.waitstatus_to_exitcode(status)
    if process.returncode != 0:
        sys.exit(f"failed ({process.returncode}): {' '.join(argv)}")
    return seconds, usage.ru_maxrss


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("report_dir")
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--zept-report",
                        default=os.path.join(here, "..", "build", "zept-report"))
    args = parser.parse_args()

    xml = os.path.join(args.report_dir, "report.xml")
    html = os.path.join(args.report_dir, "report.html")
    if not os.path.isfile(xml):
        sys.exit(f"no report.xml in {args.report_dir}")
    converter = shutil.which("wkhtmltopdf")
    if converter and not os.path.isfile(html):
        sys.exit(f"no report.html in {args.report_dir}")

    with tempfile.TemporaryDirectory(prefix="zept-report-vs-html-") as out:
        zept = [args.zept_report, xml, os.path.join(out, "zept.pdf")]
        other = None
        if converter:
            other = [converter, "-q", "--enable-local-file-access", html,
                     os.path.join(out, "html.pdf")]
        # One untimed run each, so both start with the files in the cache.
        measure(zept)
        if other:
            measure(other)

        runs = {"zept-report": [], "wkhtmltopdf": []}
        for i in range(args.runs):
            pair = [("zept-report", zept)]
            if other:
                pair.append(("wkhtmltopdf", other))
            if i % 2:
                pair.reverse()
            line = []
            for name, argv in pair:
                seconds, peak = measure(argv)
                runs[name].append((seconds, peak))
                line.append(f"{name} {seconds:.3f} s {peak / 1024:.1f} MB")
            print(f"run {i + 1}: " + ", ".join(sorted(line)))

    def medians(name):
        seconds = statistics.median(s for s, _ in runs[name])
        peak = statistics.median(p for _, p in runs[name]) / 1024
        return seconds, peak

    zs, zp = medians("zept-report")
    print(f"zept-report: {zs:.3f} s, peak {zp:.1f} MB (median of {args.runs})")
    if not other:
        print("wkhtmltopdf is not installed: no comparison")
        return
    ws, wp = medians("wkhtmltopdf")
    print(f"wkhtmltopdf: {ws:.3f} s, peak {wp:.1f} MB (median of {args.runs})")
    print(f"ratio: zept-report is {ws / zs:.1f} times as fast, "
          f"with {wp / zp:.1f} times less memory at its peak")


if __name__ == "__main__":
    main()
