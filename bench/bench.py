#!/usr/bin/env python3
"""Measures roffscript against the I/O floor of reading its input twice.

Usage: bench/bench.py [ROFFSCRIPT] [--runs N]

Builds its documents in bench/work (kept between runs): real manual pages
from /usr/share/man concatenated to at least 90 MB, the same twice over, a
dense synthetic page in short and in four-times-longer lines, and a 1 KB
page.  For each it times roffscript with its output into a pipe, and in the
same run the floor `cat F >/dev/null; cat F` into the same pipe, several
times each, and prints the medians: MB/s of input, the ratio to the floor,
and peak resident memory.  Ratios taken in one run are what to compare:
the machines are shared and absolute times drift.
"""

import gzip
import os
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
WORK = os.path.join(HERE, "work")
MB = 1000 * 1000
REAL_SIZE = 90 * MB


def accepted(roffscript, data):
    run = subprocess.run([roffscript], input=data, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return run.returncode == 0


def real_pages(roffscript):
    """Pages that roffscript converts, in a fixed order, to REAL_SIZE bytes."""
    parts, size = [], 0
    for root, _, files in sorted(os.walk("/usr/share/man")):
        if not os.path.basename(root).startswith("man"):
            continue
        for name in sorted(files):
            path = os.path.join(root, name)
            if os.path.islink(path):
                continue
            try:
                with open(path, "rb") as f:
                    data = f.read()
                if name.endswith(".gz"):
                    data = gzip.decompress(data)
            except (OSError, EOFError, gzip.BadGzipFile):
                continue
            if not data.endswith(b"\n"):
                data += b"\n"
            if accepted(roffscript, data):
                parts.append(data)
                size += len(data)
                if size >= REAL_SIZE:
                    return b"".join(parts)
    return b"".join(parts)


DENSE_LINES = [
    b"\\fBbold\\fR and \\fIitalic\\fP \\(em \\N'955' \\- dash\t\\(lqquoted\\(rq $x [y] {z};",
    b".B \"quoted words\" 'protected words' plain\\N'233' x\"y \\fBfont\\fR",
    b"\tTab\\-led text, \\e, \\&, \\0, \\. and \\(co with \\N'8364' euro;",
    b".TP \"a b\" c'd e'f \\N'-1' \"\" $a [b] {c} ;d",
]


def dense(line_repeat, size):
    """Lines of escapes and quoting, each DENSE_LINES entry repeated on one line."""
    lines = []
    for line in DENSE_LINES:
        if line.startswith(b"."):
            lines.append(line + (b" " + line[1:]) * (line_repeat - 1))
        else:
            lines.append(b" ".join([line] * line_repeat))
    block = b"\n".join(lines) + b"\n"
    return block * (size // len(block) + 1)


def small_page():
    page = (b".TH SMALL 1\n.SH NAME\nsmall \\- a page of about one kilobyte\n.SH DESCRIPTION\n"
            + b"Some \\fBbold\\fR text and a dash \\- and \\(em a character.\n" * 16)
    return page[:1000] + b"\n"


def documents(roffscript):
    os.makedirs(WORK, exist_ok=True)
    real_path = os.path.join(WORK, "real.1")
    wanted = {
        "real.1": None,
        "real-twice.1": None,
        "dense-short.1": lambda: dense(1, REAL_SIZE),
        "dense-long.1": lambda: dense(4, REAL_SIZE),
        "small.1": small_page,
    }
    if not os.path.exists(real_path):
        print("building real.1 from the installed manual pages ...", file=sys.stderr)
        with open(real_path, "wb") as f:
            f.write(real_pages(roffscript))
    paths = {}
    for name, make in wanted.items():
        path = os.path.join(WORK, name)
        if not os.path.exists(path):
            if name == "real-twice.1":
                with open(real_path, "rb") as f:
                    data = f.read()
                data = data * 2
            else:
                data = make()
            with open(path, "wb") as f:
                f.write(data)
        paths[name] = path
    return paths


def timed(command, runs):
    """Median wall time of a shell command whose output goes into a pipe."""
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        subprocess.run(["sh", "-c", command + " | cat >/dev/null"], check=True)
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def peak_memory_kib(roffscript, path):
    run = subprocess.run(["/usr/bin/time", "-f", "%M", roffscript, path],
                         stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, check=True)
    return int(run.stderr.split()[-1])


def main():
    args = sys.argv[1:]
    runs = 5
    if "--runs" in args:
        i = args.index("--runs")
        runs = int(args[i + 1])
        del args[i:i + 2]
    roffscript = os.path.abspath(args[0] if args else os.path.join(HERE, "..", "build", "roffscript"))
    paths = documents(roffscript)

    q = lambda s: "'" + s.replace("'", "'\\''") + "'"
    print(f"{'document':<14} {'MB':>7} {'roffscript s':>12} {'floor s':>8} {'MB/s':>7} {'x floor':>7}"
          f" {'pipe in s':>9} {'pipe/file':>9} {'peak KiB':>8}")
    results = {}
    for name, path in paths.items():
        size = os.path.getsize(path)
        n = runs if size > MB else runs * 20
        subprocess.run([roffscript, path], stdout=subprocess.DEVNULL, check=True)  # warm the cache
        mine = timed(f"{q(roffscript)} {q(path)}", n)
        floor = timed(f"{{ cat {q(path)} >/dev/null; cat {q(path)}; }}", n)
        piped = timed(f"cat {q(path)} | {q(roffscript)}", n)
        memory = peak_memory_kib(roffscript, path)
        results[name] = (size, mine)
        print(f"{name:<14} {size / MB:7.1f} {mine:12.3f} {floor:8.3f} {size / MB / mine:7.0f} {mine / floor:7.2f}"
              f" {piped:9.3f} {piped / mine:9.2f} {memory:8d}")

    per_byte = {name: mine / size for name, (size, mine) in results.items()}
    print(f"dense-short per byte / real per byte: {per_byte['dense-short.1'] / per_byte['real.1']:.2f}")
    print(f"dense-long per byte / dense-short per byte: {per_byte['dense-long.1'] / per_byte['dense-short.1']:.2f}")


if __name__ == "__main__":
    main()
