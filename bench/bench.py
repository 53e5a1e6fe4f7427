#!/usr/bin/env python3
"""Measures roffscript against the I/O floor of reading its input twice.

Usage: bench/bench.py [ROFFSCRIPT] [--runs N] [--tree-runs N] [--pages N] [--against BASELINE]
       bench/bench.py --help

Builds its documents in bench/work (kept between runs): real manual pages
from /usr/share/man concatenated to at least 90 MB, the same twice over,
dense pages of escapes and quoting drawn at random in short and in
four-times-longer lines, and a 1 KB page.  For each it times roffscript
with its output into a pipe, and in the same run the floor `cat F
>/dev/null; cat F` into the same pipe, and roffscript reading the file
through a pipe, taking turns several times, and prints the medians: MB/s
of input, the ratio to the floor (the median of each round's ratio, and
the ratio of the two medians beside it), the ratio to the honest floor
`cat F >/dev/null; cat SCRIPT` (SCRIPT the page's script, made
beforehand, so that the floor writes as many bytes as roffscript does),
the cost of piped input, peak resident memory and the program's own
memory.  Ratios taken in one run are
what to compare: the machines are shared and absolute times drift.

Compressed input has rows of its own: the real pages gzipped, read
directly against `zcat F | roffscript` and `zcat F` alone, with their
memory.  Then the per-page round: --pages installed .gz pages (2000 by
default) drawn from a fixed seed, each file once (`find -type f`, so a
page with several names is not counted for each), converted one process
a page, one at a time and two at a time (xargs -P2), against `true`
(starting a process and nothing else), `zcat` and `mandoc -T tree` where
it is installed, taking turns round by round (--tree-runs rounds, 3 by
default).  It prints each one's cpu (user and system time of the whole
run) and wall time a page, and roffscript's ratio to each, the median of
each round's ratio.

With --against, it instead times ROFFSCRIPT and another build, BASELINE,
on the same documents, taking turns round by round, and prints the median
of each round's ratio of the two: how much faster or slower a change made
the program, from one run.  The 90 MB page is timed into a pipe and into
a regular file, each build's ratio to the honest floor beside it, and the
per-page round compares the two builds' cpu and wall time a page.
"""

import ctypes
import gzip
import os
import random
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


# What dense lines are made of.  They are drawn at random, from a fixed
# seed, so that the page has no pattern short enough for the processor's
# branch predictors to learn by heart, as a page repeating a few lines would.
TEXT_PIECES = [b"\\fB", b"\\fR", b"\\fI", b"\\fP", b"\\(em", b"\\(lq", b"\\(rq", b"\\(co",
               b"\\N'955'", b"\\N'233'", b"\\N'8364'", b"\\-", b"\\e", b"\\&", b"\\0", b"\\.",
               b"\t", b" ", b" ", b"bold", b"text", b"a dash", b"$x", b"[y]", b"{z};"]
MACRO_WORDS = [b'"quoted words"', b"'protected words'", b"c'd e'f", b"plain\\N'233'", b'x"y', b'""',
               b'"a b"', b"$a", b"[b]", b"{c}", b";d", b"\\fBfont\\fR", b"\\N'-1'", b"word"]
MACRO_NAMES = [b".B", b".I", b".TP", b".BR", b"'br"]


def dense(line_repeat, size):
    """Text and macro lines packed with escapes and quoting, `line_repeat`
    times the pieces of a short line each, to `size` bytes."""
    rng = random.Random(1)
    lines, total = [], 0
    while total < size:
        if rng.random() < 0.5:
            line = b"".join(rng.choice(TEXT_PIECES) for _ in range(16 * line_repeat))
        else:
            line = rng.choice(MACRO_NAMES) + b"".join(b" " + rng.choice(MACRO_WORDS)
                                                      for _ in range(6 * line_repeat))
        lines.append(line)
        total += len(line) + 1
    return b"\n".join(lines) + b"\n"


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
        # Built aside and moved into place, so that a run stopped half way
        # leaves no short or empty page to be measured next time.
        with open(real_path + ".part", "wb") as f:
            f.write(real_pages(roffscript))
        os.replace(real_path + ".part", real_path)
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


def gzipped(paths):
    """real.1 and real-twice.1 and small.1 compressed with gzip, made once."""
    made = {}
    for name in ("small.1", "real.1", "real-twice.1"):
        path = paths[name] + ".gz"
        if not os.path.exists(path):
            with open(paths[name], "rb") as f, gzip.open(path, "wb", compresslevel=6) as out:
                out.write(f.read())
        made[name + ".gz"] = path
    return made


# Where a round writes into a regular file rather than a pipe.
OUTPUT_FILE = os.path.join(WORK, "output.script")


def run_once(command, into_file=False):
    """Wall time of a shell command whose output goes into a pipe, or into a
    regular file, made afresh each time."""
    sink = f" >{OUTPUT_FILE}" if into_file else " | cat >/dev/null"
    start = time.perf_counter()
    subprocess.run(["sh", "-c", command + sink], check=True)
    return time.perf_counter() - start


def timed(commands, runs, into_file=False):
    """The wall times of each command, one a round.  The commands take turns,
    round by round, so that a machine that grows busier slows them all
    alike."""
    times = [[] for _ in commands]
    for _ in range(runs):
        for i, command in enumerate(commands):
            times[i].append(run_once(command, into_file))
    return times


def script_of(roffscript, path):
    """The script of the page at `path`, made once beforehand, for the
    honest floor to write."""
    script = path + ".script"
    if not os.path.exists(script) or os.path.getmtime(script) < os.path.getmtime(path):
        with open(script + ".part", "wb") as out:
            subprocess.run([roffscript, path], stdout=out, check=True)
        os.replace(script + ".part", script)
    return script


def sampled_pages(count):
    """`count` installed .gz pages drawn from a fixed seed, each file once:
    a page installed under several names (symbolic links) is one page."""
    found = subprocess.run(["find", "/usr/share/man", "-type", "f", "-name", "*.gz"],
                           capture_output=True, check=True).stdout.split(b"\n")
    pages = sorted(p for p in found if p)
    rng = random.Random(33)
    return rng.sample(pages, min(count, len(pages)))


def per_page_cpu_and_wall(command, pages, parallel):
    """Runs `command PAGE` once a page, `parallel` at a time, its output into
    /dev/null, and returns the cpu (user and system, of the whole run) and
    the wall time a page."""
    start = time.perf_counter()
    xargs = subprocess.Popen(["xargs", "-0", "-n1", f"-P{parallel}"] + command, stdin=subprocess.PIPE,
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    xargs.stdin.write(b"\0".join(pages))
    xargs.stdin.close()
    _, _, usage = os.wait4(xargs.pid, 0)
    wall = time.perf_counter() - start
    xargs.returncode = 0
    cpu = usage.ru_utime + usage.ru_stime
    return cpu / len(pages), wall / len(pages)


def per_page_round(commands, pages, rounds):
    """Each named command over the same pages, one at a time and two at a
    time, taking turns round by round; prints each one's cpu and wall time
    a page and the first one's ratio to each of the others, the median of
    the rounds' ratios."""
    for parallel in (1, 2):
        cpu = {name: [] for name in commands}
        wall = {name: [] for name in commands}
        for _ in range(rounds):
            for name, command in commands.items():
                c, w = per_page_cpu_and_wall(command, pages, parallel)
                cpu[name].append(c)
                wall[name].append(w)
        first = next(iter(commands))
        print(f"{len(pages)} installed .gz pages, one process each, -P{parallel}:")
        print(f"  {'command':<18} {'cpu ms':>8} {'wall ms':>8} {first + ' / it, cpu':>22} {'wall':>6}")
        for name in commands:
            print(f"  {name:<18} {statistics.median(cpu[name]) * 1000:8.3f} {statistics.median(wall[name]) * 1000:8.3f}"
                  f" {median_ratio(cpu[first], cpu[name]):22.2f} {median_ratio(wall[first], wall[name]):6.2f}")


def yardsticks(roffscript):
    """The commands a page is measured against, those installed."""
    commands = {"roffscript": [roffscript], "true": ["true"], "zcat": ["zcat"]}
    if subprocess.run(["sh", "-c", "command -v mandoc"], stdout=subprocess.DEVNULL).returncode == 0:
        commands["mandoc -T tree"] = ["mandoc", "-T", "tree"]
    return commands


def median_ratio(numerators, denominators):
    """The median of the ratios of two commands' times taken in the same
    rounds.  Times taken moments apart share the machine's mood, so their
    ratio drifts less than the ratio of two medians does."""
    return statistics.median(a / b for a, b in zip(numerators, denominators))


# Tracing the run stops it on its way out, when its memory can be counted.
PTRACE_TRACEME, PTRACE_CONT, PTRACE_SETOPTIONS = 0, 7, 0x4200
PTRACE_O_TRACEEXIT = 0x40


def anonymous_at_exit(roffscript, path):
    """The KiB of the run's own memory (its buffers, stack and data, not the
    pages of shared libraries) just before it exits, counted page by page in
    /proc/PID/smaps_rollup; None where the run cannot be traced.  The program
    frees nothing, so this is its peak."""
    libc = ctypes.CDLL(None, use_errno=True)
    libc.ptrace.argtypes = [ctypes.c_long, ctypes.c_long, ctypes.c_void_p, ctypes.c_void_p]
    pid = os.fork()
    if pid == 0:
        try:
            null = os.open(os.devnull, os.O_WRONLY)
            os.dup2(null, 1)
            libc.ptrace(PTRACE_TRACEME, 0, None, None)
            os.execv(roffscript, [roffscript, path])
        finally:
            os._exit(127)
    _, status = os.waitpid(pid, 0)   # stopped at the exec, unless tracing is not allowed
    if not os.WIFSTOPPED(status):
        return None
    libc.ptrace(PTRACE_SETOPTIONS, pid, None, PTRACE_O_TRACEEXIT)
    libc.ptrace(PTRACE_CONT, pid, None, None)
    _, status = os.waitpid(pid, 0)   # stopped on its way out, still whole
    anonymous = None
    if os.WIFSTOPPED(status):
        with open(f"/proc/{pid}/smaps_rollup") as f:
            for line in f:
                if line.startswith("Anonymous:"):
                    anonymous = int(line.split()[1])
        libc.ptrace(PTRACE_CONT, pid, None, None)
        os.waitpid(pid, 0)
    return anonymous


def memory(roffscript, path, runs):
    """Median peak resident KiB as the kernel reports it, and the run's own
    memory, counted exactly.  The peak includes the shared C library's
    pages, as many as the kernel happened to map, and the kernel adds it up
    from per-CPU counters only roughly: it moves by a hundred KiB and more
    from run to run, whatever the input."""
    peaks = []
    for _ in range(runs):
        run = subprocess.run(["/usr/bin/time", "-f", "%M", roffscript, path],
                             stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, check=True)
        peaks.append(int(run.stderr.split()[-1]))
    return statistics.median(peaks), anonymous_at_exit(roffscript, path)


def against(roffscript, baseline, paths, runs, pages, tree_runs):
    """Each document read by the two builds in turn; the ratio of their times."""
    q = lambda s: "'" + s.replace("'", "'\\''") + "'"
    print(f"{'document':<17} {'MB':>6} {'this s':>8} {'baseline s':>10} {'this/baseline':>13}"
          f" {'peak KiB':>8} {'baseline KiB':>12}")
    for name, path in list(paths.items()) + list(gzipped(paths).items()):
        size = os.path.getsize(path)
        n = runs if size > MB else runs * 20
        times = timed([f"{q(roffscript)} {q(path)}", f"{q(baseline)} {q(path)}"], n)
        mine, theirs = (statistics.median(t) for t in times)
        print(f"{name:<17} {size / MB:6.1f} {mine:8.3f} {theirs:10.3f} {median_ratio(times[0], times[1]):13.3f}"
              f" {memory(roffscript, path, runs)[0]:8.0f} {memory(baseline, path, runs)[0]:12.0f}")
    # The 90 MB page into a pipe and into a regular file, with the honest
    # floor in the same rounds.
    path = paths["real.1"]
    floor = f"{{ cat {q(path)} >/dev/null; cat {q(script_of(baseline, path))}; }}"
    print()
    print(f"{'real.1 into':<12} {'this s':>8} {'baseline s':>10} {'floor s':>8} {'this/baseline':>13}"
          f" {'this/floor':>10} {'baseline/floor':>14}")
    for into_file in (False, True):
        times = timed([f"{q(roffscript)} {q(path)}", f"{q(baseline)} {q(path)}", floor], runs, into_file)
        mine, theirs, low = (statistics.median(t) for t in times)
        print(f"{'a file' if into_file else 'a pipe':<12} {mine:8.3f} {theirs:10.3f} {low:8.3f}"
              f" {median_ratio(times[0], times[1]):13.3f} {median_ratio(times[0], times[2]):10.2f}"
              f" {median_ratio(times[1], times[2]):14.2f}")
    print()
    per_page_round({"this": [roffscript], "baseline": [baseline]}, sampled_pages(pages), tree_runs)


def main():
    args = sys.argv[1:]
    if "--help" in args or "-h" in args:
        print(__doc__.strip())
        return
    baseline = None
    if "--against" in args:
        i = args.index("--against")
        baseline = os.path.abspath(args[i + 1])
        del args[i:i + 2]
    runs, tree_runs, pages = 5, 3, 2000
    if "--pages" in args:
        i = args.index("--pages")
        pages = int(args[i + 1])
        del args[i:i + 2]
    if "--runs" in args:
        i = args.index("--runs")
        runs = int(args[i + 1])
        del args[i:i + 2]
    if "--tree-runs" in args:
        i = args.index("--tree-runs")
        tree_runs = int(args[i + 1])
        del args[i:i + 2]
    roffscript = os.path.abspath(args[0] if args else os.path.join(HERE, "..", "build", "roffscript"))
    paths = documents(roffscript)
    if baseline is not None:
        against(roffscript, baseline, paths, runs, pages, tree_runs)
        return

    q = lambda s: "'" + s.replace("'", "'\\''") + "'"
    print(f"{'document':<14} {'MB':>7} {'roffscript s':>12} {'floor s':>8} {'MB/s':>7} {'x floor':>7}"
          f" {'med/med':>7} {'x honest':>8} {'pipe in s':>9} {'pipe/file':>9} {'peak KiB':>8} {'own KiB':>7}")
    results = {}
    for name, path in paths.items():
        size = os.path.getsize(path)
        n = runs if size > MB else runs * 20
        subprocess.run([roffscript, path], stdout=subprocess.DEVNULL, check=True)  # warm the cache
        times = timed([f"{q(roffscript)} {q(path)}",
                       f"{{ cat {q(path)} >/dev/null; cat {q(path)}; }}",
                       f"cat {q(path)} | {q(roffscript)}",
                       f"{{ cat {q(path)} >/dev/null; cat {q(script_of(roffscript, path))}; }}"], n)
        mine, floor, piped, _ = (statistics.median(t) for t in times)
        over_floor = median_ratio(times[0], times[1])
        peak, own = memory(roffscript, path, runs)
        results[name] = (size, mine, peak, own)
        print(f"{name:<14} {size / MB:7.1f} {mine:12.3f} {floor:8.3f} {size / MB / mine:7.0f} {over_floor:7.2f}"
              f" {mine / floor:7.2f} {median_ratio(times[0], times[3]):8.2f} {piped:9.3f} {median_ratio(times[2], times[0]):9.2f}"
              f" {peak:8.0f} {own if own is not None else '-':>7}")

    print()
    print(f"{'gzip document':<17} {'MB':>6} {'direct s':>9} {'zcat|rs s':>9} {'zcat s':>7}"
          f" {'direct/zcat|rs':>14} {'peak KiB':>8} {'own KiB':>7}")
    packed = gzipped(paths)
    for name, path in packed.items():
        size = os.path.getsize(path)
        n = runs if size > MB else runs * 20
        times = timed([f"{q(roffscript)} {q(path)}", f"zcat {q(path)} | {q(roffscript)}", f"zcat {q(path)}"], n)
        direct, piped, zcat = (statistics.median(t) for t in times)
        peak, own = memory(roffscript, path, runs)
        results[name] = (size, direct, peak, own)
        print(f"{name:<17} {size / MB:6.1f} {direct:9.3f} {piped:9.3f} {zcat:7.3f}"
              f" {median_ratio(times[0], times[1]):14.2f} {peak:8.0f} {own if own is not None else '-':>7}")
    small_gz, large_gz = results["small.1.gz"], results["real-twice.1.gz"]
    print(f"real-twice.1.gz over small.1.gz: peak {large_gz[2] - small_gz[2]:+.0f} KiB")

    print()
    per_page_round(yardsticks(roffscript), sampled_pages(pages), tree_runs)

    per_byte = {name: mine / size for name, (size, mine, _, _) in results.items()}
    print(f"dense-short per byte / real per byte: {per_byte['dense-short.1'] / per_byte['real.1']:.2f}")
    print(f"dense-long per byte / dense-short per byte: {per_byte['dense-long.1'] / per_byte['dense-short.1']:.2f}")
    small, large = results["small.1"], results["real-twice.1"]
    own_growth = f"{large[3] - small[3]:+d} KiB" if large[3] is not None and small[3] is not None else "-"
    print(f"real-twice.1 over small.1: peak {large[2] - small[2]:+.0f} KiB, own memory {own_growth}")


if __name__ == "__main__":
    main()
