#!/usr/bin/env python3
"""Synthetic inputs for the mrl85 benchmark (standard library only).

  gen.py hex OUT.hex --bytes N [--record 16|32]
      A HEX file of at least N bytes: the segments of the program image
      below, repeated until the size is reached, then the end record.
  gen.py image OUT.hex
      One realistic program image: 16 segments of 64 KB in 32-byte records,
      segment 0000 (low area) first, then 1000 to F000 (high area).
  gen.py sym OUT.sym --units N
      A symbol file with N units and N functions: SECTION INFORMATION (with
      library lines and their continuation lines, empty "E" sections, units
      above FFFF and units that cross it), FUNC lines, CALL, SOURCE,
      LOCAL LABEL, LOCAL SYMBOL and LOCAL BIT SYMBOL blocks, and GLOBAL LABEL,
      GLOBAL SYMBOL and GLOBAL BIT SYMBOL sections. About 520 bytes per unit,
      so 200,000 units give about 103 MB.
  gen.py sym OUT.sym --units N --deleted-run R
      The same file, but R consecutive units from the middle on lie above
      FFFF, and 2R more LOCAL SYMBOL headers have one end in that run and the
      other outside it: a range walk that looked up every deleted number
      instead of passing the run in one step would take R * R lookups.
  gen.py sym OUT.sym --units N --rewrite-heavy
      A symbol file in which every line is a header or a line that a
      rewriter rebuilds or drops: SECTION INFORMATION lines and one blank
      line, then FUNC, CALL,
      SOURCE, LOCAL LABEL and LOCAL SYMBOL headers one after another (no data
      lines), then GLOBAL LABEL lines. About 190 bytes per unit.

Output depends only on the arguments (fixed seeds), so every run of the
benchmark measures the same bytes.
"""
import argparse
import random
import sys

SEGMENTS = 16
SEGMENT_BYTES = 0x10000


def hex_payloads(rng, record, count=512):
    """Random data fields of one record size, with the sum of their bytes."""
    pool = []
    for _ in range(count):
        data = bytes(rng.getrandbits(8) for _ in range(record))
        pool.append((data.hex().upper(), sum(data)))
    return pool


def hex_segment_lines(rng, pool, segment, record):
    """The lines of one 64 KB segment: its segment record, then data records."""
    seg_sum = 2 + 2 + (segment >> 8) + (segment & 0xFF)
    lines = [":02000002%04X%02X\n" % (segment, (-seg_sum) & 0xFF)]
    for addr in range(0, SEGMENT_BYTES, record):
        text, data_sum = pool[rng.randrange(len(pool))]
        total = record + (addr >> 8) + (addr & 0xFF) + data_sum
        lines.append(":%02X%04X00%s%02X\n" % (record, addr, text, (-total) & 0xFF))
    return lines


def write_hex(path, min_bytes, record, whole_images):
    """Program images (segments 0000 to F000, again and again) until min_bytes
    is reached, stopping after that segment or, with whole_images, after the
    image."""
    rng = random.Random(85)
    pool = hex_payloads(rng, record)
    written = 0
    with open(path, "w", newline="\n", buffering=1 << 20) as out:
        segment = 0
        while True:
            chunk = "".join(hex_segment_lines(rng, pool, segment << 12, record))
            out.write(chunk)
            written += len(chunk)
            segment = (segment + 1) % SEGMENTS
            if written >= min_bytes and (segment == 0 or not whole_images):
                break
        out.write(":00000001FF\n")
    return written + 12


def unit_layout(rng, u):
    """Section name, start, length and module of unit u. Most units lie low;
    some lie above FFFF, some cross it, some are empty "E" sections."""
    roll = rng.random()
    if roll < 0.06:
        return "E", rng.randrange(0x8000, 0xF000), 0, "mod%05d.o" % u
    if roll < 0.14:
        return "FAR", rng.randrange(0x10000, 0xF0000), rng.randrange(0x10, 0x800), "bank%04d.o" % (u % 5000)
    if roll < 0.16:
        return "P", 0xFFF0 - rng.randrange(0, 0x40), 0x80, "edge%05d.o" % u
    name = rng.choice(("P", "P", "P", "C", "D", "B"))
    start = rng.randrange(0, 0xF000)
    return name, start, rng.randrange(0x10, 0x400), "mod%05d.o" % u


def start_sym(path, seed, units):
    """The random source, the layout of the units and the output file, with
    the SECTION INFORMATION header written."""
    rng = random.Random(seed)
    layout = [None] + [unit_layout(rng, u) for u in range(1, units + 1)]
    out = open(path, "w", newline="\n", buffering=1 << 20)
    out.write("# SECTION INFORMATION\n")
    return rng, layout, out


def write_sym(path, units, deleted_run=0):
    """A symbol file of `units` units and as many functions, with a run of
    `deleted_run` deleted units in the middle (see the top)."""
    rng, layout, out = start_sym(path, 8085, units)
    w = out.write
    run_first = units // 2
    run_end = min(units, run_first + deleted_run)  # first unit after the run
    for u in range(run_first, run_end):
        layout[u] = ("FAR", 0x10000 + 0x100 * (u - run_first), 0x100, "far%05d.o" % u)

    for u in range(1, units + 1):
        name, start, length, module = layout[u]
        if u % 10 == 7:
            # A library member: the line names the library and is followed by
            # a continuation line, which shares the fate of its unit.
            w("%04X %-8s 0 0 0 %08X %08X libc%02d.lib\n" % (u, name, start, length, u % 7))
            w("      libc%02d.lib(%s) member\n" % (u % 7, module))
        else:
            w("%04X %-8s 0 0 0 %08X %08X %s\n" % (u, name, start, length, module))
        if u % 8 == 3:
            # A second section of the same unit.
            w("%04X %-8s 0 0 0 %08X %08X %s\n" % (u, "D", (start + 0x40) & 0xFFFFF, 0x20, module))
    w("\n")

    # One function per unit, in a unit close to its own number.
    func_unit = [0] * (units + 1)
    for f in range(1, units + 1):
        func_unit[f] = min(units, max(1, f + rng.randrange(-2, 3)))
        _, start, length, _ = layout[func_unit[f]]
        w("# FUNC %04X fn_%x %04X %08X %08X\n" % (f, f, func_unit[f], start, max(length // 2, 1)))
    w("\n")

    for f in range(1, units + 1):
        callees = " ".join("%04X" % rng.randrange(1, units + 1) for _ in range(rng.randrange(2, 9)))
        w("# CALL %04X\n %s\n\n" % (f, callees))

    for f in range(1, units + 1):
        line = rng.randrange(1, 4000)
        start = layout[func_unit[f]][1]
        w("# SOURCE %04X src%05d.c %d\n" % (f, f % 50000, line))
        for k in range(1, 8):
            w("  %5d %08X\n" % (line + 2 * k, start + 4 * k))
        if f % 4 == 0:
            w("\n")

    for u in range(1, units + 1):
        start = layout[u][1]
        w("# LOCAL LABEL %04X\n" % u)
        for k in range(rng.randrange(3, 11)):
            w("L%x_%d %08X\n" % (u, k, start + 8 * k))
        w("\n")

    for u in range(1, units + 1, 4):
        last = min(units, u + 3)
        w("# LOCAL SYMBOL %04X-%04X\n" % (u, last))
        for k in range(6):
            w("s%x_%d %08X\n" % (u, k, 0xF000 + 2 * k))
        if u % 16 == 1:
            w("# LOCAL BIT SYMBOL %04X-%04X\n" % (u, last))
            w("b%x_0 %08X\n" % (u, 0x2000 + u % 0x100))
        w("\n")
    for u in range(run_first, run_end):
        w("# LOCAL SYMBOL %04X-%04X\n" % (u, run_end))
        w("# LOCAL SYMBOL %04X-%04X\n" % (run_first - 1, u))
    if run_end > run_first:
        w("\n")

    w("# GLOBAL LABEL\n")
    for u in range(1, units + 1):
        start = layout[u][1]
        w("_g%x %X  _h%x %X  _i%x %X\n" % (u, start, u, start + 0x10, u, start + 0x30))
    w("\n# GLOBAL SYMBOL\n")
    for u in range(1, units + 1, 2):
        w("_v%x %X\n" % (u, 0xF000 + u % 0x800))
    w("\n# GLOBAL BIT SYMBOL\n")
    for u in range(1, units + 1, 16):
        w("_bit%x %X.%d\n" % (u, 0x2000 + u % 0x100, u % 8))
    out.close()


def write_sym_heavy(path, units):
    """A symbol file where nearly every line goes to a rewriter (see the top)."""
    rng, layout, out = start_sym(path, 8086, units)
    w = out.write
    for u in range(1, units + 1):
        name, start, length, module = layout[u]
        w("%04X %-8s 0 0 0 %08X %08X %s\n" % (u, name, start, length, module))
    w("\n")
    for f in range(1, units + 1):
        unit = min(units, max(1, f + rng.randrange(-2, 3)))
        w("# FUNC %04X fn_%x %04X %08X %08X\n" % (f, f, unit, layout[unit][1], 0x10))
    for f in range(1, units + 1):
        w("# CALL %04X\n" % f)
    for f in range(1, units + 1):
        w("# SOURCE %04X src%05d.c %d\n" % (f, f % 50000, rng.randrange(1, 4000)))
    for u in range(1, units + 1):
        w("# LOCAL LABEL %04X\n" % u)
    for u in range(1, units + 1, 4):
        w("# LOCAL SYMBOL %04X-%04X\n" % (u, min(units, u + 3)))
    w("# GLOBAL LABEL\n")
    for u in range(1, units + 1):
        start = layout[u][1]
        w("_g%x %X  _h%x %X  _i%x %X\n" % (u, start, u, start + 0x10, u, start + 0x10000))
    out.close()


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = ap.add_subparsers(dest="what", required=True)
    h = sub.add_parser("hex")
    h.add_argument("out")
    h.add_argument("--bytes", type=int, required=True)
    h.add_argument("--record", type=int, choices=(16, 32), default=16)
    i = sub.add_parser("image")
    i.add_argument("out")
    s = sub.add_parser("sym")
    s.add_argument("out")
    s.add_argument("--units", type=int, required=True)
    s.add_argument("--rewrite-heavy", action="store_true")
    s.add_argument("--deleted-run", type=int, default=0)
    a = ap.parse_args()
    if a.what == "hex":
        write_hex(a.out, a.bytes, a.record, False)
    elif a.what == "image":
        write_hex(a.out, 1, 32, True)
    elif a.rewrite_heavy:
        write_sym_heavy(a.out, a.units)
    else:
        write_sym(a.out, a.units, a.deleted_run)
    return 0


if __name__ == "__main__":
    sys.exit(main())
