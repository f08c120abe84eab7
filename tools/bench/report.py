#!/usr/bin/env python3
"""Turns the bench's figures into the table scripts/bench prints and a PNG chart.

    report.py RESULTS CHART.png [MORE_RESULTS ...]

RESULTS holds lines "figure<TAB>program<TAB>baseline" (baseline "-" where there is none), written
by footprint.exe and scripts/bench, and a line "build<TAB>how the programs ran<TAB>-". Each file
gives its own tables; the sizes and the chart come from the first. The chart shows the start and
exchange times beside the baseline's, drawn with matplotlib.
"""
import re
import sys
from pathlib import Path

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402  (the backend is chosen first)

KIB = 1024
START_RATIO_LIMIT = 1.2
PAUSES_MS = 2200
RUN_SLACK_MS = 50


def size_limits():
    """The shipped files' size limits, from the build's own check."""
    check = Path(__file__).resolve().parents[2] / "cmake" / "check_size.cmake"
    return {name: int(limit) for name, limit in re.findall(r"set\(limit_(\w+) (\d+)\)", check.read_text())}


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
        for program, limit in size_limits().items():
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

PROGRAM_COLOUR = "#1f5fa0"
BASELINE_COLOUR = "#a0afbe"


def chart(f, path):
    groups = [
        ("VornTray start, from CreateProcess", f["start.wall.ms"], "ms", 1, "VornTray", "baseline"),
        ("VornTray start, from its entry point", f["start.own.ms"], "ms", 1, "VornTray", "baseline"),
        ("One InstallZel request exchange", f["exchange.us"], "\u00b5s", 0, "exchange", "bare message"),
    ]
    figure, axes = plt.subplots(len(groups), 1, figsize=(8, 1.6 * len(groups) + 0.8))
    figure.suptitle("Medians beside the baseline (shorter is better)", fontsize=13)
    for ax, (title, (program, baseline), unit, digits, name, base_name) in zip(axes, groups):
        # Each pair on its own scale, the values written beside the bars.
        bars = ax.barh([base_name, name], [baseline, program], color=[BASELINE_COLOUR, PROGRAM_COLOUR], height=0.6)
        ax.bar_label(bars, labels=[f"{value:.{digits}f} {unit}" for value in (baseline, program)], padding=4,
                     fontsize=10)
        ax.set_title(title, loc="left", fontsize=11)
        ax.set_xlim(0, max(program, baseline) * 1.3)
        ax.tick_params(axis="y", labelsize=10)
        ax.tick_params(axis="x", labelsize=8)
        for side in ("top", "right"):
            ax.spines[side].set_visible(False)
    figure.tight_layout()
    figure.savefig(path, dpi=100)
    plt.close(figure)


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
