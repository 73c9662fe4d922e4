#!/usr/bin/env python3
"""Measures mrl85 against its baselines and prints one table of ratios.

Called by bench/run, which builds the binary and installs the tools. Every
pair is measured in the same run, alternating A, B, A, B, ..., and each side
is summarised by its median, so a slow moment of the machine hits both sides.

  measure.py --binary PATH --floor PATH --data DIR [--runs N] [--quick]
  measure.py --binary PATH --data DIR --compare-with OTHER_BINARY

Each pass is measured side by side with `cat` of the same file and with the
two forms of the floor program (bench/floor.cpp), which does only the reads
and writes the pass needs: reading its input with read() into a block, and
over a mapping of its input. The ratio to the mapped floor is the one that
means the same on any machine.

--compare-with runs both binaries on every generated input and checks that
their outputs (files, standard output, exit status) are byte-identical, and
on the smaller symbol inputs also the trace log of +info.
"""
import argparse
import hashlib
import os
import platform
import re
import resource
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
GEN = os.path.join(HERE, "gen.py")
MB = 1000 * 1000


def inputs(quick):
    """Input -> generator arguments. An input is named by its base name (free
    of "."), to which the generator's kind adds .hex or .sym, or by its whole
    file name where a base name has both files (img: a 1 MB program image and
    a symbol file of a few MB)."""
    scale = 10 if quick else 1
    n_hex = 100 * MB // scale
    n_units = 200000 // scale
    return {
        "hexn": ["hex", "--bytes", str(n_hex), "--record", "16"],
        "hex2n": ["hex", "--bytes", str(2 * n_hex), "--record", "16"],
        "hexw": ["hex", "--bytes", str(n_hex), "--record", "32"],
        "img": ["image"],
        "img.sym": ["sym", "--units", "8000"],
        "symn": ["sym", "--units", str(n_units)],
        # An earlier build of symn, for mrl85-report --compare: 0.5 % fewer units.
        "symo": ["sym", "--units", str(n_units * 199 // 200)],
        "sym2n": ["sym", "--units", str(2 * n_units)],
        "symh": ["sym", "--units", str(500000 // scale), "--rewrite-heavy"],
        "symhm": ["sym", "--units", str(2000000 // scale), "--rewrite-heavy"],
        "symt": ["sym", "--units", "20000"],
        "symth": ["sym", "--units", "20000", "--rewrite-heavy"],
    }


# Inputs whose trace log (+info) is compared too: small enough for the log.
TRACED = ("symt", "symth")


def generate(data, quick, only=None):
    """Generates each input once (of `only`, when given). A stamp beside each file records the
    generator and its arguments; a file whose stamp matches is kept."""
    os.makedirs(data, exist_ok=True)
    with open(GEN, "rb") as f:
        gen_hash = hashlib.sha256(f.read()).hexdigest()[:16]
    for base, args in inputs(quick).items():
        if only is not None and base not in only:
            continue
        ext = ".sym" if args[0] == "sym" else ".hex"
        path = os.path.join(data, base if "." in base else base + ext)
        stamp_path = path + ".stamp"
        stamp = gen_hash + " " + " ".join(args)
        if os.path.exists(path) and os.path.exists(stamp_path):
            with open(stamp_path) as f:
                if f.read().strip() == stamp:
                    continue
        print("generating %s ..." % os.path.basename(path), file=sys.stderr, flush=True)
        subprocess.run([sys.executable, GEN, args[0], path] + args[1:], check=True)
        with open(stamp_path, "w") as f:
            f.write(stamp + "\n")


def run_mrl(binary, data, base, out, option):
    """One conversion, started as "mrl85 <base> -O<out> <option>" in the
    directory of the files (argument 0 counts toward the command-line limit)."""
    r = subprocess.run(["mrl85", base, "-O" + out, option], executable=binary, cwd=data,
                       stdout=subprocess.DEVNULL)
    if r.returncode != 0:
        sys.exit("mrl85 %s -O%s %s ended with status %d" % (base, out, option, r.returncode))


OUTPUTS = ("out.hex", "out.hxh", "out.sym", "copy.hex", "copy.sym", "crop.hex", "floor.hex", "floor.hxh",
           "floor.sym", "page.html")


def run_report(report, data, base, extra):
    """One run of "mrl85-report --sym <base> <extra>", its summary thrown away."""
    r = subprocess.run(["mrl85-report", "--sym", base] + extra, executable=report, cwd=data,
                       stdout=subprocess.DEVNULL)
    if r.returncode != 0:
        sys.exit("mrl85-report --sym %s %s ended with status %d" % (base, " ".join(extra), r.returncode))


def timed(data, fn):
    """Wall time and processor time (user + system, of the child processes)
    of one run. The outputs of earlier runs are removed first, outside the
    measured time, so that every run writes new files: truncating a file that
    was just written would add a wait for the file system to the run."""
    for name in OUTPUTS:
        try:
            os.remove(os.path.join(data, name))
        except FileNotFoundError:
            pass
    r0 = resource.getrusage(resource.RUSAGE_CHILDREN)
    t0 = time.perf_counter()
    fn()
    wall = time.perf_counter() - t0
    r1 = resource.getrusage(resource.RUSAGE_CHILDREN)
    return wall, (r1.ru_utime - r0.ru_utime) + (r1.ru_stime - r0.ru_stime)


def cat_copy(data, src, dst):
    """The same as the shell's `cat src > dst`: truncate dst, then cat."""
    with open(os.path.join(data, dst), "wb") as out:
        r = subprocess.run(["cat", src], cwd=data, stdout=out)
    if r.returncode != 0:
        sys.exit("cat %s failed" % src)


def dd_copy(data, src, dst):
    """A copy through user space with read and write in 128 KiB blocks, the
    same block size as mrl85: the floor of any program that reads its input
    and writes its output, while cat copies inside the kernel."""
    r = subprocess.run(["dd", "if=" + src, "of=" + dst, "bs=128K", "status=none"], cwd=data)
    if r.returncode != 0:
        sys.exit("dd %s failed" % src)


def floor_run(floor, data, args):
    r = subprocess.run([floor] + args, cwd=data)
    if r.returncode != 0:
        sys.exit("floor %s failed" % " ".join(args))


def floor_args(mapped, args):
    """The floor's arguments, in its mapped form or its read-based one."""
    return (["--map"] if mapped else []) + args


def floor_hex(floor, data, base, mapped):
    """The floor of the HEX pass: the reads, the search for line ends and the
    writes of routed records that the pass cannot do without."""
    return lambda: floor_run(floor, data, floor_args(mapped, ["hex", base + ".hex", "floor.hex", "floor.hxh"]))


def floor_sym(floor, data, base, mapped):
    """The floor of the symbol pass: two reads of the file, each finding every
    line end, and every byte written once."""
    return lambda: floor_run(floor, data, floor_args(mapped, ["sym", base + ".sym", "floor.sym"]))


def spawn_group(data, argvs, runs):
    """Short runs, started with posix_spawn (less of the measuring script's
    own time in each figure than with subprocess), each argv in turn, round
    after round, after two warm-up rounds; an argv ending in ">", FILE writes
    its standard output to FILE, made anew each run. Returns the wall times
    of each argv."""
    devnull = os.open(os.devnull, os.O_WRONLY)
    times = [[] for _ in argvs]
    old = os.getcwd()
    os.chdir(data)
    try:
        for r in range(runs + 2):
            for t, argv in zip(times, argvs):
                for name in OUTPUTS:
                    if os.path.exists(name):
                        os.remove(name)
                t0 = time.perf_counter()
                out = devnull
                if len(argv) > 2 and argv[-2] == ">":
                    out = os.open(argv[-1], os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o666)
                    argv = argv[:-2]
                pid = os.posix_spawnp(argv[0], argv, os.environ, file_actions=[(os.POSIX_SPAWN_DUP2, out, 1)])
                _, status = os.waitpid(pid, 0)
                if out != devnull:
                    os.close(out)
                wall = time.perf_counter() - t0
                if status != 0:
                    sys.exit("%s ended with status %d" % (" ".join(argv), status))
                if r >= 2:
                    t.append(wall)
    finally:
        os.chdir(old)
        os.close(devnull)
    return times


def srec_crop(data, src, dst):
    r = subprocess.run(["srec_cat", src, "-intel", "-crop", "0", "0x10000", "-o", dst, "-intel"],
                       cwd=data, stdout=subprocess.DEVNULL)
    if r.returncode != 0:
        sys.exit("srec_cat failed")


class Pair:
    """Medians of a and b, wall time and processor time, in seconds."""

    def __init__(self, ta, tb):
        self.a = statistics.median(w for w, _ in ta)
        self.b = statistics.median(w for w, _ in tb)
        self.cpu_a = statistics.median(c for _, c in ta)
        self.cpu_b = statistics.median(c for _, c in tb)


def group(data, fns, runs):
    """Runs every fn of fns in turn, round after round, after one warm-up
    round; returns the list of (wall, cpu) times of each."""
    for fn in fns:
        timed(data, fn)
    times = [[] for _ in fns]
    for _ in range(runs):
        for t, fn in zip(times, fns):
            t.append(timed(data, fn))
    return times


def pair(data, a, b, runs):
    """Runs a and b alternately, after one warm-up run of each."""
    ta, tb = group(data, [a, b], runs)
    return Pair(ta, tb)


def report_rows(report, binary, data, runs, row, units):
    """mrl85-report against the conversion of the same symbol file: the text
    summary (short, and with every row), the summary with the page, and the
    comparison of two builds (symo, then symn). The short summary and the
    comparison have the targets of the report's users; the others are
    measured against the older, looser one."""
    conv = lambda: run_mrl(binary, data, "symn", "out", "-S")
    for what, extra, limit in (("text summary", [], 1.2), ("text summary, every row (--all)", ["--all"], 2.0),
                               ("summary and page", ["--html=page.html"], 2.0),
                               ("--compare of two builds (symo, symn)", ["--compare=symo"], 2.5)):
        p = pair(data, lambda: run_report(report, data, "symn", extra), conv, runs)
        row("mrl85-report, %s, %.0f MB / conversion" % (what, size_mb(data, "symn.sym")), p, "<= %.2f x" % limit,
            p.a / p.b <= limit)


class Memory:
    """The memory of one run, in KiB: `private` is the peak of its private
    (anonymous) resident memory, the memory the limits are about; `mapped`
    the peak of its resident file pages (the program's own and the pages of
    a mapped input, which are the page cache's and shared, not the run's);
    `resident` its peak resident set, both together, as the kernel counts it
    (the maximum resident set size of /usr/bin/time)."""

    def __init__(self, private, mapped, resident):
        self.private, self.mapped, self.resident = private, mapped, resident


def memory(argv, cwd):
    """Runs argv in cwd under /usr/bin/time and measures its memory. The
    kernel keeps the peak of the whole resident set only (what /usr/bin/time
    -f %M shows), so the private and file parts are sampled from the
    program's /proc/PID/status (RssAnon, RssFile) every millisecond while it
    runs, and each part's peak is the largest sample. That is sound for
    these runs: the private memory is mostly the tables, which only grow and
    are kept until the run ends, so their peak lasts from the end of the
    first symbol pass to the exit, hundreds of samples. Samples of the
    process before it became the program (whose name is another) are left
    out."""
    proc = subprocess.Popen(["/usr/bin/time", "-f", "%M"] + argv, cwd=cwd, stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE, text=True)
    name = os.path.basename(argv[0])[:15]
    children = "/proc/%d/task/%d/children" % (proc.pid, proc.pid)
    private = mapped = 0
    while proc.poll() is None:
        try:
            with open(children) as f:
                kids = f.read().split()
            with open("/proc/%s/status" % kids[0]) as f:
                fields = dict(re.findall(r"^(\w+):\s*(\S+)", f.read(), re.M))
        except (OSError, IndexError):
            fields = {}
        if fields.get("Name") == name:
            private = max(private, int(fields.get("RssAnon", 0)))
            mapped = max(mapped, int(fields.get("RssFile", 0)))
        time.sleep(0.001)
    err = proc.stderr.read()
    if proc.returncode != 0:
        sys.exit("%s ended with status %d:\n%s" % (" ".join(argv), proc.returncode, err))
    return Memory(private, mapped, int(err.strip().splitlines()[-1]))


def report_memory(report, data, base, extra):
    return memory([report, "--sym", base] + extra, data)


def conversion_memory(binary, data, base, out, option):
    """The memory of one conversion."""
    return memory([binary, base, "-O" + out, option], data)


def size_mb(data, name):
    return os.path.getsize(os.path.join(data, name)) / MB


def count_units(data, name):
    """Unit records and functions of a generated symbol file (for the table)."""
    units = funcs = 0
    in_sec = False
    with open(os.path.join(data, name), "rb") as f:
        for line in f:
            if line.startswith(b"#"):
                in_sec = line.startswith(b"# SECTION INFORMATION")
                if line.startswith(b"# FUNC "):
                    funcs += 1
            elif in_sec and line[:1] not in (b" ", b"\n"):
                units += 1
    return units, funcs


def machine():
    cpu = platform.processor() or platform.machine()
    try:
        with open("/proc/cpuinfo") as f:
            m = re.search(r"model name\s*:\s*(.*)", f.read())
            if m:
                cpu = m.group(1).strip()
    except OSError:
        pass
    mem = ""
    try:
        with open("/proc/meminfo") as f:
            kib = int(re.search(r"MemTotal:\s*(\d+)", f.read()).group(1))
            mem = "%.0f GiB RAM" % (kib / 1024 / 1024)
    except (OSError, AttributeError):
        pass
    cxx = subprocess.run(["c++", "--version"], stdout=subprocess.PIPE, text=True).stdout.splitlines()
    fs = subprocess.run(["df", "-T", "."], stdout=subprocess.PIPE, text=True).stdout.splitlines()
    fstype = fs[-1].split()[1] if len(fs) > 1 else "?"
    return "%s, %d cores, %s, Linux %s, %s, inputs and outputs on %s" % (
        cpu, os.cpu_count() or 0, mem, platform.release(), cxx[0] if cxx else "c++", fstype)


def compare_run(binary, data, base, out, option, traced):
    """One run for compare(): exit status, standard output (with the output
    name made neutral), the hash of each output file and, when traced, of the
    trace log without its date line."""
    for name in [out + ext for ext in (".hex", ".hxh", ".sym")] + ["mrl.ifd"]:
        p = os.path.join(data, name)
        if os.path.exists(p):
            os.remove(p)
    argv = ["mrl85"] + (["+info"] if traced else []) + [base, "-O" + out] + ([option] if option else [])
    r = subprocess.run(argv, executable=binary, cwd=data, stdout=subprocess.PIPE)
    files = {}
    for ext in (".hex", ".hxh", ".sym", ".ifd"):
        p = os.path.join(data, ("mrl" if ext == ".ifd" else out) + ext)
        if os.path.exists(p):
            with open(p, "rb") as f:
                text = f.read()
            if ext == ".ifd":
                lines = text.split(b"\n")
                text = b"\n".join(lines[:1] + lines[2:]).replace(out.encode(), b"OUT")
            files[ext] = hashlib.sha256(text).hexdigest()
            os.remove(p)
    return r.returncode, r.stdout.replace(out.encode(), b"OUT"), files


def compare(binary, other, data, quick):
    """Both binaries on every input; outputs must be byte-identical, and on
    the traced inputs the trace logs too."""
    ok = True
    for name, args in inputs(quick).items():
        base = name.split(".")[0]
        option = "-S" if args[0] == "sym" else "-H"
        traced = base in TRACED
        results = [compare_run(b, data, base, out, option, traced) for b, out in ((binary, "cmpa"), (other, "cmpb"))]
        same = results[0] == results[1]
        ok = ok and same
        print("%-7s %s  status %d  %s" % (name, "identical" if same else "DIFFERENT", results[0][0],
                                          " ".join("%s:%s" % (k, v[:12]) for k, v in sorted(results[0][2].items()))))
    # Both passes in one run, on the 1 MB image and its symbol file.
    results = [compare_run(b, data, "img", out, None, False) for b, out in ((binary, "cmpa"), (other, "cmpb"))]
    same = results[0] == results[1]
    ok = ok and same
    print("%-7s %s  status %d  %s" % ("img", "identical" if same else "DIFFERENT", results[0][0],
                                      " ".join("%s:%s" % (k, v[:12]) for k, v in sorted(results[0][2].items()))))
    return ok


def loadavg():
    """The load average of the machine over 1, 5 and 15 minutes, or "?"."""
    try:
        with open("/proc/loadavg") as f:
            return " ".join(f.read().split()[:3])
    except OSError:
        return "?"


def print_passes(passes):
    """The table of the passes: each beside the read-based floor, the mapped
    floor and cat, with the ratios between them; the target is against the
    mapped floor or against cat, as named."""
    head = ("mrl85 s", "read s", "mapped s", "cat s", "/read", "/mapped", "/cat", "read/cat", "map/cat", "cpu /map")
    w = max(len(p[0]) for p in passes) + 1
    print("%-*s %8s %8s %8s %8s %7s %7s %7s %8s %7s %8s %18s %6s" % ((w, "pass") + head + ("target", "holds")))
    print("-" * (w + 125))
    for what, (m, r, f, c), cpus, against, limit in passes:
        ratio = {"mapped": m / f, "cat": m / c}[against]
        fmt = "%.4f" if m < 0.05 else "%.3f"
        print("%-*s %8s %8s %8s %8s %6.2fx %6.2fx %6.2fx %7.2fx %6.2fx %8s %18s %6s" % (
            w, what, fmt % m, fmt % r, fmt % f, fmt % c, m / r, m / f, m / c, r / c, f / c,
            "%.2fx" % (cpus[0] / cpus[2]) if cpus else "",
            "<= %.2f x %s" % (limit, against), "yes" if ratio <= limit else "NO"))
    print()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--binary", required=True)
    ap.add_argument("--floor")
    ap.add_argument("--data", required=True)
    ap.add_argument("--runs", type=int, default=9)
    ap.add_argument("--quick", action="store_true", help="inputs a tenth of the size, for a smoke test")
    ap.add_argument("--compare-with", metavar="BINARY")
    ap.add_argument("--report", metavar="BINARY", help="mrl85-report, measured against the conversion")
    ap.add_argument("--report-only", action="store_true", help="measure mrl85-report only")
    a = ap.parse_args()
    binary = os.path.abspath(a.binary)
    data = os.path.abspath(a.data)
    generate(data, a.quick, ("symn", "symo", "symhm") if a.report_only else None)
    if a.compare_with:
        return 0 if compare(binary, os.path.abspath(a.compare_with), data, a.quick) else 1
    if not a.floor:
        sys.exit("--floor is needed for measuring")
    floor = os.path.abspath(a.floor)

    runs = max(a.runs, 5)
    mrl = lambda base, opt: (lambda: run_mrl(binary, data, base, "out", opt))
    rows = []
    passes = []

    def row(measure, p, target, holds):
        rows.append((measure, p, target, holds))

    def against_floor(what, base, opt, floor_fn, copy, limit):
        """mrl85, the read-based floor, the mapped floor and cat in turn; the
        target is mrl85 / mapped floor."""
        ext = ".sym" if opt == "-S" else ".hex"
        times = group(data, [mrl(base, opt), floor_fn(floor, data, base, False), floor_fn(floor, data, base, True),
                             lambda: cat_copy(data, base + ext, copy)], runs)
        walls = [statistics.median(w for w, _ in t) for t in times]
        cpus = [statistics.median(c for _, c in t) for t in times]
        passes.append((what, walls, cpus, "mapped", limit))

    load_start = loadavg()
    print("measuring (median of %d alternating runs per group; load average %s) ..." % (runs, load_start),
          file=sys.stderr, flush=True)
    mem = []
    if a.report:
        report = os.path.abspath(a.report)
        units, _ = count_units(data, "symn.sym")
        report_rows(report, binary, data, runs, row, units)
        heavy_units, _ = count_units(data, "symhm.sym")
        # Each within its absolute limit and within twice the conversion of
        # the same file (of the later build, for the comparison).
        for base, what, limit in (("symn", "N (%d unit lines)" % units, 65536),
                                  ("symhm", "rewrite-heavy, %d unit lines" % heavy_units, 122880)):
            conv = conversion_memory(binary, data, base, "out", "-S").private
            runs_of = [([], "summary"), (["--all"], "summary, every row (--all)"),
                       (["--html=page.html"], "summary and page")]
            if base == "symn":
                runs_of.append((["--compare=symo"], "--compare of two builds"))
            for extra, how in runs_of:
                m = report_memory(report, data, base, extra)
                mem.append(("peak memory, mrl85-report %s, %s" % (how, what), m,
                            "<= %d MiB, <= 2x conversion (%.1f MiB)" % (limit // 1024, conv / 1024),
                            "yes" if m.private <= limit and m.private <= 2 * conv else "NO"))
    short_runs = max(runs, 60)
    small = []
    if not a.report_only:
        for base, label in (("hexn", "16-byte records"), ("hexw", "32-byte records")):
            against_floor("HEX pass, %.0f MB, %s" % (size_mb(data, base + ".hex"), label), base, "-H", floor_hex,
                          "copy.hex", 1.10)
        p = pair(data, lambda: dd_copy(data, "hexn.hex", "copy.hex"), lambda: cat_copy(data, "hexn.hex", "copy.hex"),
                 runs)
        row("(for scale) dd bs=128K copy, %.0f MB / cat" % size_mb(data, "hexn.hex"), p, "", None)
        units, funcs = count_units(data, "symn.sym")
        against_floor("symbol pass, %.0f MB, %d unit lines, %d functions" % (size_mb(data, "symn.sym"), units, funcs),
                      "symn", "-S", floor_sym, "copy.sym", 1.5)
        against_floor("symbol pass, rewrite-heavy, %.0f MB" % size_mb(data, "symh.sym"), "symh", "-S", floor_sym,
                      "copy.sym", 2.0)
        p = pair(data, mrl("hex2n", "-H"), mrl("hexn", "-H"), runs)
        row("HEX pass, 2N (%.0f MB) / N (%.0f MB)" % (size_mb(data, "hex2n.hex"), size_mb(data, "hexn.hex")), p,
            "<= 2.20 x", p.a / p.b <= 2.2)
        p = pair(data, mrl("sym2n", "-S"), mrl("symn", "-S"), runs)
        row("symbol pass, 2N (%.0f MB) / N (%.0f MB)" % (size_mb(data, "sym2n.sym"), size_mb(data, "symn.sym")), p,
            "<= 2.20 x", p.a / p.b <= 2.2)
        p = pair(data, lambda: srec_crop(data, "img.hex", "crop.hex"), mrl("img", "-H"), runs)
        row("1 MB image (%.1f MB HEX): srec_cat / mrl85" % size_mb(data, "img.hex"), p, ">= 10 x", p.a / p.b >= 10)

        # Real programs are small: a run is then mostly the start of the process.
        ta, tb = spawn_group(data, [[binary, "-V"], ["cat", "/dev/null"]], short_runs)
        small.append(("start-up: mrl85 -V / cat /dev/null", ta, tb, 1.2))
        # The 1 MB image beside both floors and cat, start-up included.
        sym_mb = size_mb(data, "img.sym")
        hex_io = ["img.hex", "floor.hex", "floor.hxh"]
        for what, argv, floor_argv, cat, limit in (
                ("1 MB image, -H (%.1f MB HEX)" % size_mb(data, "img.hex"), [binary, "img", "-Oout", "-H"],
                 ["hex"] + hex_io, ["cat", "img.hex", ">", "copy.hex"], 1.3),
                ("1 MB image, both passes (%.1f MB symbol file; cat of both)" % sym_mb, [binary, "img", "-Oout"],
                 ["both"] + hex_io + ["img.sym", "floor.sym"], ["cat", "img.hex", "img.sym", ">", "copy.sym"], 2.0)):
            times = spawn_group(data, [argv, [floor] + floor_args(False, floor_argv),
                                       [floor] + floor_args(True, floor_argv), cat], short_runs)
            passes.append((what + ", median", [statistics.median(t) for t in times], None, "cat", limit))
            passes.append((what + ", minimum", [min(t) for t in times], None, "cat", limit))

        heavy_units, _ = count_units(data, "symhm.sym")
        for base, opt, what, limit in (("img", "-H", "HEX pass, 1 MB image", 8192),
                                       ("hexn", "-H", "HEX pass, N", 8192),
                                       ("hex2n", "-H", "HEX pass, 2N", 8192),
                                       ("symn", "-S", "symbol pass, N (%d unit lines)" % units, 65536),
                                       ("sym2n", "-S", "symbol pass, 2N", None),
                                       ("symhm", "-S", "symbol pass, rewrite-heavy, %.0f MB, %d unit lines" %
                                        (size_mb(data, "symhm.sym"), heavy_units), 122880)):
            m = conversion_memory(binary, data, base, "out", opt)
            mem.append(("peak memory, " + what, m, "<= %d MiB" % (limit // 1024) if limit else "(none)",
                        ("yes" if m.private <= limit else "NO") if limit else ""))

    w = max(len(r[0]) for r in rows + mem + [(x[0] + " (minimum)",) for x in small]) + 1
    print()
    if passes:
        print_passes(passes)
    print("%-*s %8s %8s %7s   %7s %10s %6s" % (w, "measure", "A s", "B s", "A/B", "cpu A/B", "target", "holds"))
    print("-" * (w + 56))
    for measure, p, target, holds in rows:
        verdict = "" if holds is None else "yes" if holds else "NO"
        print("%-*s %8.3f %8.3f %6.2fx   %6.2fx %10s %6s" % (w, measure, p.a, p.b, p.a / p.b, p.cpu_a / p.cpu_b,
                                                            target, verdict))
    for what, ta, tb, limit in small:
        lo, mid = min(ta) / min(tb), statistics.median(ta) / statistics.median(tb)
        print("%-*s %8.4f %8.4f %6.2fx   %7s %10s %6s" % (w, what + " (median)", statistics.median(ta),
                                                          statistics.median(tb), mid, "", "<= %.1f x" % limit,
                                                          "yes" if mid <= limit else "NO"))
        print("%-*s %8.4f %8.4f %6.2fx   %7s %10s %6s" % (w, what + " (minimum)", min(ta), min(tb), lo, "",
                                                          "<= %.1f x" % limit, "yes" if lo <= limit else "NO"))
    if mem:
        print()
        print("%-*s %12s %12s %12s %10s %6s" % (w, "memory", "private", "file pages", "resident", "target", "holds"))
        print("-" * (w + 60))
    for what, m, target, holds in mem:
        print("%-*s %12s %12s %12s %10s %6s" % (w, what, "%.1f MiB" % (m.private / 1024), "%.1f MiB" %
                                               (m.mapped / 1024), "%.1f MiB" % (m.resident / 1024), target, holds))
    print()
    if passes:
        print("Passes: mrl85, the read-based floor, the mapped floor and cat in turn, medians of %d rounds," % runs)
        print("wall time (the targets), cpu: mrl85 / mapped floor with user + system time.")
    print("A/B: medians of %d alternating runs of A and B, wall time (the targets); cpu A/B: the same" % runs)
    print("with user + system time. Start-up and 1 MB image: %d alternating runs, median and minimum" % short_runs)
    print("of each side. Memory of one run: the peak of its private (anonymous) resident memory, which")
    print("the targets are about, and of its resident file pages (the program, a mapped input), both")
    print("sampled from /proc/PID/status every millisecond; resident: the peak resident set (/usr/bin/time).")
    print("machine: %s" % machine())
    print("load average (1, 5, 15 minutes) at the start: %s; at the end: %s" % (load_start, loadavg()))
    return 0


if __name__ == "__main__":
    sys.exit(main())
