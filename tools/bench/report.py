#!/usr/bin/env python3
"""Turns the bench's figures into the table scripts/bench prints and a small PNG chart.

    report.py RESULTS CHART.png [MORE_RESULTS ...]

RESULTS holds lines "figure<TAB>program<TAB>baseline" (baseline "-" where there is none), written
by footprint.exe and scripts/bench, and a line "build<TAB>how the programs ran<TAB>-". Each file
gives its own tables, the sizes come from the first, the chart from the first. The chart shows the start and exchange times beside the
baseline's; it is drawn with the standard library only: bars and a 5 x 7 pixel font in a bitmap,
written as PNG with zlib.
"""
import struct
import sys
import zlib

KIB = 1024
SIZE_LIMITS = {"VornTray": 64 * KIB, "InstallZel": 32 * KIB}
START_RATIO_LIMIT = 1.2
PAUSES_MS = 2200
RUN_SLACK_MS = 50


def read_results(path):
    figures = {}
    with open(path) as results:
        for line in results:
            name, program, baseline = line.rstrip("\n").split("\t")
            if name == "build":
                figures[name] = program
                continue
            figures[name] = (float(program), None if baseline == "-" else float(baseline))
    return figures


def verdict(holds, text=""):
    return ("holds" if holds else "MISSED") + (f" ({text})" if text else "")


def table(f, sizes=True):
    def n(name):
        return int(f[name][0])

    rows = []

    def section(title):
        rows.append((title,))

    def row(label, program, baseline="-", target="", result=""):
        rows.append((label, program, baseline, target, result))

    if sizes:
        section("Size of the i686 build as it ships (dist/win32: stripped, resources included)")
        for program, limit in SIZE_LIMITS.items():
            size, base = f[f"size.{program}"]
            row(f"{program}.exe", f"{int(size)} B = {size / KIB:.1f} KiB", f"{int(base)} B = {base / KIB:.1f} KiB",
                f"<= {limit // KIB} KiB", verdict(size <= limit))
            dlls, base_dlls = f[f"dlls.{program}"]
            functions, base_functions = f[f"functions.{program}"]
            row(f"{program}.exe imports", f"{int(dlls)} DLLs, {int(functions)} functions",
                f"{int(base_dlls)} DLLs, {int(base_functions)} functions")

    section(f"VornTray, {f['build']} (medians; {n('runs.start')} starts each, "
            f"{n('runs.idle')} x {n('idle.seconds')} s at rest, {n('runs.switch')} x {n('switches')} switches)")
    for name, label in (("start.wall.ms", "start: CreateProcess to icon added and loop waiting"),
                        ("start.own.ms", "start: entry point to icon added and loop waiting")):
        program, base = f[name]
        ratio = program / base
        row(label, f"{program:.1f} ms", f"{base:.1f} ms", f"<= {START_RATIO_LIMIT} x baseline",
            verdict(ratio <= START_RATIO_LIMIT, f"{ratio:.2f} x"))
    seconds = n("idle.seconds")
    cpu, base_cpu = f["idle.cpu.ms"]
    row(f"CPU time at rest over {seconds} s", f"{cpu:.0f} ms", f"{base_cpu:.0f} ms", "0", verdict(cpu == 0))
    wakeups, base_wakeups = f["idle.wakeups"]
    row(f"wake-ups at rest over {seconds} s", f"{wakeups:.0f}", f"{base_wakeups:.0f}", "0", verdict(wakeups == 0))
    switches = n("switches")
    for name, label in (("resident.start.kib", "resident memory after start"),
                        ("resident.switched.kib", f"resident memory after {switches} mode switches")):
        program, base = f[name]
        row(label, f"{program:.0f} KiB", f"{base:.0f} KiB")
    handles, base_handles = f["handles.start"]
    row("handles after start", f"{handles:.0f}", f"{base_handles:.0f}")
    after, base_after = f["handles.switched"]
    row(f"handles after {switches} mode switches", f"{after:.0f}", f"{base_after:.0f}")
    # A process's first mode change also opens what Wine keeps for every later one.
    later = after - f["handles.first"][0]
    wine_later = f["platform.handles.later"][0]
    row(f"  added by switches 2 to {switches}", f"{later:.0f}", "-", "no more than Wine keeps",
        verdict(later <= wine_later))
    row(f"  Wine keeps for changes 2 to {switches} made by the bench itself", f"{wine_later:.0f}")
    program, base = f["switch.ms"]
    row("mode switch: WM_COMMAND sent to its return, broadcast included", f"{program:.1f} ms",
        f"{base:.2f} ms (ignores it)")
    row("  the same change and broadcast made by the bench itself", f"{f['platform.switch.ms'][0]:.1f} ms")

    section(f"InstallZel against the ACPI server stand-in, {f['build']} (medians of {n('runs.client')} runs;"
            " baseline: started and closed as soon as it waits)")
    program, base = f["installzel.wall.ms"]
    row("run: CreateProcess to end", f"{program:.0f} ms", f"{base:.0f} ms")
    program, base = f["installzel.own.ms"]
    limit = PAUSES_MS + RUN_SLACK_MS
    row("run: entry point to end", f"{program:.0f} ms", f"{base:.0f} ms", f"<= {limit} ms",
        verdict(program <= limit, f"{program - PAUSES_MS:+.0f} ms beyond the {PAUSES_MS} ms of pauses"))
    # The baseline's shortest life is what Wine charges any GUI program for its start and end.
    own = program - PAUSES_MS - base
    row("  beyond the pauses and the baseline's life", f"{own:.0f} ms", "-", f"<= {RUN_SLACK_MS} ms",
        verdict(own <= RUN_SLACK_MS))
    first_to_last = f["installzel.requests.ms"][0]
    row("  register to unregister request, less the 1000 ms pause between", f"{first_to_last - 1000:.0f} ms")
    program, base = f["exchange.us"]
    row(f"one request exchange, in loops of {n('exchanges')}", f"{program:.0f} us",
        f"{base:.0f} us (look-up, bare message)")
    row("  ten of them, as in a run", f"{10 * program / 1000:.1f} ms", f"{10 * base / 1000:.1f} ms")
    return rows


def format_table(rows):
    widths = [max(len(r[i]) for r in rows if len(r) > 1) for i in range(5)]
    header = ("", "program", "baseline", "target", "")
    lines = []
    for r in rows:
        if len(r) == 1:
            lines.append("")
            lines.append(r[0])
            lines.append("  " + "  ".join(h.ljust(w) for h, w in zip(header, widths)).rstrip())
        else:
            lines.append("  " + "  ".join(c.ljust(w) for c, w in zip(r, widths)).rstrip())
    return "\n".join(lines[1:])


# --- the chart ---------------------------------------------------------------------------------------

# 5 x 7 glyphs, one string of five pixels per row.
FONT = {
    "A": "01110 10001 10001 11111 10001 10001 10001", "B": "11110 10001 10001 11110 10001 10001 11110",
    "C": "01110 10001 10000 10000 10000 10001 01110", "D": "11110 10001 10001 10001 10001 10001 11110",
    "E": "11111 10000 10000 11110 10000 10000 11111", "F": "11111 10000 10000 11110 10000 10000 10000",
    "G": "01110 10001 10000 10111 10001 10001 01111", "H": "10001 10001 10001 11111 10001 10001 10001",
    "I": "01110 00100 00100 00100 00100 00100 01110", "J": "00111 00010 00010 00010 00010 10010 01100",
    "K": "10001 10010 10100 11000 10100 10010 10001", "L": "10000 10000 10000 10000 10000 10000 11111",
    "M": "10001 11011 10101 10101 10001 10001 10001", "N": "10001 10001 11001 10101 10011 10001 10001",
    "O": "01110 10001 10001 10001 10001 10001 01110", "P": "11110 10001 10001 11110 10000 10000 10000",
    "Q": "01110 10001 10001 10001 10101 10010 01101", "R": "11110 10001 10001 11110 10100 10010 10001",
    "S": "01111 10000 10000 01110 00001 00001 11110", "T": "11111 00100 00100 00100 00100 00100 00100",
    "U": "10001 10001 10001 10001 10001 10001 01110", "V": "10001 10001 10001 10001 10001 01010 00100",
    "W": "10001 10001 10001 10101 10101 10101 01010", "X": "10001 10001 01010 00100 01010 10001 10001",
    "Y": "10001 10001 10001 01010 00100 00100 00100", "Z": "11111 00001 00010 00100 01000 10000 11111",
    "0": "01110 10001 10011 10101 11001 10001 01110", "1": "00100 01100 00100 00100 00100 00100 01110",
    "2": "01110 10001 00001 00010 00100 01000 11111", "3": "11111 00010 00100 00010 00001 10001 01110",
    "4": "00010 00110 01010 10010 11111 00010 00010", "5": "11111 10000 11110 00001 00001 10001 01110",
    "6": "00110 01000 10000 11110 10001 10001 01110", "7": "11111 00001 00010 00100 01000 01000 01000",
    "8": "01110 10001 10001 01110 10001 10001 01110", "9": "01110 10001 10001 01111 00001 00010 01100",
    " ": "00000 00000 00000 00000 00000 00000 00000", ".": "00000 00000 00000 00000 00000 01100 01100",
    ",": "00000 00000 00000 00000 01100 00100 01000", ":": "00000 01100 01100 00000 01100 01100 00000",
    "(": "00010 00100 01000 01000 01000 00100 00010", ")": "01000 00100 00010 00010 00010 00100 01000",
    "-": "00000 00000 00000 11111 00000 00000 00000", "/": "00001 00001 00010 00100 01000 10000 10000",
}

WHITE = (255, 255, 255)
INK = (40, 40, 40)
PROGRAM_COLOUR = (31, 95, 160)
BASELINE_COLOUR = (160, 175, 190)


class Bitmap:
    def __init__(self, width, height):
        self.width, self.height = width, height
        self.pixels = [[WHITE] * width for _ in range(height)]

    def box(self, x, y, w, h, colour):
        for row in self.pixels[y:y + h]:
            row[x:x + w] = [colour] * len(row[x:x + w])

    def text(self, x, y, text, scale=2, colour=INK):
        for ch in text.upper():
            for r, bits in enumerate(FONT[ch].split()):
                for c, bit in enumerate(bits):
                    if bit == "1":
                        self.box(x + c * scale, y + r * scale, scale, scale, colour)
            x += 6 * scale

    def png(self):
        def chunk(kind, data):
            return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

        raw = b"".join(b"\0" + bytes(v for p in row for v in p) for row in self.pixels)
        header = struct.pack(">IIBBBBB", self.width, self.height, 8, 2, 0, 0, 0)
        return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9))
                + chunk(b"IEND", b""))


def chart(f, path):
    groups = [
        ("VornTray start from CreateProcess", f["start.wall.ms"], "ms"),
        ("VornTray start from its entry point", f["start.own.ms"], "ms"),
        ("InstallZel exchange (baseline: a bare message)", f["exchange.us"], "us"),
    ]
    width, left, bar_width, bar_height = 640, 16, 440, 14
    group_height = 3 * bar_height + 26
    image = Bitmap(width, 44 + len(groups) * group_height + 26)
    image.text(left, 12, "Medians beside the baseline program")
    y = 44
    for title, (program, baseline), unit in groups:
        image.text(left, y, title)
        # Each pair on its own scale: the values are written beside the bars.
        scale = bar_width / max(program, baseline)
        for value, colour in ((program, PROGRAM_COLOUR), (baseline, BASELINE_COLOUR)):
            y += bar_height + 6
            length = max(1, round(value * scale))
            image.box(left, y, length, bar_height, colour)
            image.text(left + length + 8, y, f"{value:.1f} {unit}")
        y += bar_height + 14
    image.box(left, y, 14, 14, PROGRAM_COLOUR)
    image.text(left + 22, y, "program")
    image.box(left + 140, y, 14, 14, BASELINE_COLOUR)
    image.text(left + 162, y, "baseline")
    with open(path, "wb") as out:
        out.write(image.png())


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    figures = read_results(sys.argv[1])
    rows = table(figures)
    for more in sys.argv[3:]:
        rows += table(read_results(more), sizes=False)
    print(format_table(rows))
    chart(figures, sys.argv[2])


if __name__ == "__main__":
    main()
