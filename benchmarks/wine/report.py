#!/usr/bin/env python3
"""Turns the measurements of scripts/benchmark.sh into tables and plots.

    report.py RESULTS_DIR DOCS_DIR

RESULTS_DIR holds what the benchmark run left: wine-<row>-<items>.txt (one
"rep N ours_ms tool_ms tool_start_ms" line per repetition from the harness),
wholerun.txt ("name ms" lines), sim.json (Google Benchmark's JSON output,
every repetition), count-<benchmark>-<size>.json and .log (one run under
callgrind: the benchmark's JSON and valgrind's summary with the events
collected in the measured region) and load-*.txt (the machine's load before
and after). Prints the tables and rewrites the measured section of
DOCS_DIR/performance.md (between its two marker lines) and the plots
DOCS_DIR/performance-*.svg. Plain python3.
"""
import json
import os
import statistics
import sys

BEGIN = "<!-- measured: begin (scripts/benchmark.sh writes this part) -->"
END = "<!-- measured: end -->"

WINE_ROWS = [
    ("files", "Directory removal", "`cmd /c rd /s /q`", "files"),
    ("keys", "Key tree deletion", "`reg delete /f`", "keys"),
    ("scan", "Component scan", "`reg query /s`", "component keys"),
]

SIM_ROWS = [
    ("BM_ScaleRemoveDirectoryTree", "Directory removal (nested folders, log open)", "file", "directory removal"),
    ("BM_ScaleDeleteKeyTree", "Key tree deletion (groups of 100 keys)", "key", "key tree, groups of 100"),
    ("BM_RegistryDeleteKeyTreeWide", "Key tree deletion (one wide key)", "key", "key tree, one wide key"),
    ("BM_RegistryCollectProductComponents", "Component scan", "component key", "component scan"),
    ("BM_ScaleWholeRun", "Whole run, two codes, N component keys", "component key", "whole run"),
]

COLOURS = ["#1f77b4", "#d62728", "#2ca02c", "#9467bd", "#ff7f0e", "#8c564b"]


def read_reps(path):
    reps = []
    with open(path) as f:
        for line in f:
            parts = line.split()
            if len(parts) == 5 and parts[0] == "rep":
                reps.append(tuple(float(x) for x in parts[2:]))
    return reps


def wine_table(results):
    rows = []
    for key, name, tool, unit in WINE_ROWS:
        sizes = sorted(
            int(f[len("wine-%s-" % key):-4])
            for f in os.listdir(results)
            if f.startswith("wine-%s-" % key) and f.endswith(".txt")
        )
        for size in sizes:
            reps = read_reps(os.path.join(results, "wine-%s-%d.txt" % (key, size)))
            if not reps:
                continue
            ours = statistics.median(r[0] for r in reps)
            tool_raw = statistics.median(r[1] for r in reps)
            start = statistics.median(r[2] for r in reps)
            tool_net = statistics.median(r[1] - r[2] for r in reps)
            ratios = [r[0] / (r[1] - r[2]) for r in reps if r[1] - r[2] > 0]
            rows.append({
                "name": name, "tool": tool, "unit": unit, "size": size, "reps": len(reps),
                "ours": ours, "tool_raw": tool_raw, "start": start, "tool_net": tool_net,
                "ratio": ours / tool_net if tool_net > 0 else float("nan"),
                "ratio_median": statistics.median(ratios) if ratios else float("nan"),
                "all": reps,
            })
    return rows


def sim_table(results):
    """CPU time per item of every repetition, in microseconds, by size."""
    path = os.path.join(results, "sim.json")
    if not os.path.exists(path):
        return []
    with open(path) as f:
        data = json.load(f)
    per = {}
    for b in data.get("benchmarks", []):
        if b.get("run_type") == "aggregate":
            continue
        base, _, arg = b["run_name"].partition("/")
        arg = arg.split("/")[0]
        if not arg.isdigit():
            continue
        items = b.get("items", int(arg))
        # CPU time per item in microseconds, from the benchmark's own unit.
        scale = {"ns": 1e-3, "us": 1.0, "ms": 1e3, "s": 1e6}[b.get("time_unit", "ns")]
        per.setdefault(base, {}).setdefault(int(arg), []).append(b["cpu_time"] * scale / items)
    rows = []
    for base, name, unit, short in SIM_ROWS:
        if base in per:
            times = per[base]
            rows.append({"base": base, "name": name, "unit": unit, "short": short,
                         "per": {size: min(v) for size, v in times.items()},
                         "median": {size: statistics.median(v) for size, v in times.items()},
                         "reps": max(len(v) for v in times.values())})
    return rows


def count_table(results):
    """Events per item that callgrind collected in one measured run, by size."""
    per = {}
    for name in sorted(os.listdir(results)):
        if not (name.startswith("count-") and name.endswith(".log")):
            continue
        base, size = name[len("count-"):-len(".log")].rsplit("-", 1)
        events, collected = [], []
        with open(os.path.join(results, name)) as f:
            for line in f:
                if "Events    :" in line:
                    events = line.split(":", 1)[1].split()
                elif "Collected :" in line:
                    collected = [int(v) for v in line.split(":", 1)[1].split()]
        try:
            with open(os.path.join(results, name[:-len(".log")] + ".json")) as f:
                run = [b for b in json.load(f)["benchmarks"] if b.get("run_type") != "aggregate"][0]
        except (OSError, ValueError, IndexError, KeyError):
            continue
        if not events or len(events) != len(collected):
            continue
        count = dict(zip(events, collected))
        items = run["iterations"] * run.get("items", int(size))
        per.setdefault(base, {})[int(size)] = {
            "instructions": count["Ir"] / items,
            "first_level": (count["D1mr"] + count["D1mw"]) / items,
            "last_level_reads": count["DLmr"] / items,
            "last_level_writes": count["DLmw"] / items,
        }
    return [{"base": base, "name": name, "unit": unit, "per": per[base]}
            for base, name, unit, _ in SIM_ROWS if base in per]


def spread(values):
    present = [v for v in values if v is not None]
    return (max(present) / min(present) - 1) * 100 if len(present) > 1 and min(present) > 0 else 0


def fmt_ms(ms):
    return "%.0f" % ms if ms >= 100 else "%.1f" % ms


def markdown(wine, sim, counts, whole, load, steps):
    out = []
    if load:
        out.append("Machine while measuring: " + load.strip().replace("\n", "; ") + ".")
        out.append("")
    if wine:
        out.append("### Under wine64: the cleaner against the platform's tool")
        out.append("")
        out.append("Times are medians over the repetitions, in milliseconds, all taken inside one harness process "
                   "in one wineserver session: the cleaner's function as a plain call, the tool from `CreateProcessW` "
                   "to its exit, less the median start of the same tool doing nothing (`cmd /c rem`, "
                   "`reg query` of an empty key). Ratio: cleaner / tool; below 1 the cleaner is faster.")
        out.append("")
        out.append("| Operation | Items | Cleaner (ms) | Tool | Tool net (ms) | Tool start (ms) | Ratio | Ratio, median of reps | Reps |")
        out.append("|---|---:|---:|---|---:|---:|---:|---:|---:|")
        for r in wine:
            out.append("| %s | %s %s | %s | %s | %s | %s | %.2f | %.2f | %d |" % (
                r["name"], "{:,}".format(r["size"]), r["unit"], fmt_ms(r["ours"]), r["tool"], fmt_ms(r["tool_net"]),
                fmt_ms(r["start"]), r["ratio"], r["ratio_median"], r["reps"]))
        out.append("")
        out.append("Every repetition (cleaner ms / tool ms with start / tool start ms):")
        out.append("")
        for r in wine:
            out.append("- %s, %s: %s" % (r["name"], "{:,}".format(r["size"]),
                                         "; ".join("%.0f / %.0f / %.0f" % rep for rep in r["all"])))
        out.append("")
    if whole:
        out.append("### The real program under wine64, nothing of the product installed, two codes")
        out.append("")
        out.append("| Measure | Median (ms) |")
        out.append("|---|---:|")
        labels = {
            "wall_run": "`wine64 vornalet.exe {P} {U}`, wall time from the shell (wine start included)",
            "wall_start": "`wine64 cmd /c rem`, wall time from the shell (wine start alone)",
            "session_run": "vornalet.exe started by the harness (`CreateProcessW` to exit, same session)",
            "session_start": "`cmd /c rem` started by the harness (process start alone)",
        }
        for key in ("wall_run", "wall_start", "session_run", "session_start"):
            if key in whole:
                out.append("| %s | %s |" % (labels[key], fmt_ms(whole[key])))
        if "wall_run" in whole and "wall_start" in whole:
            out.append("| the run less wine's start, from the shell | %s |" % fmt_ms(whole["wall_run"] - whole["wall_start"]))
        if "session_run" in whole and "session_start" in whole:
            out.append("| the run less the process start, in the session | %s |" %
                       fmt_ms(whole["session_run"] - whole["session_start"]))
        out.append("")
    if steps:
        out.append("The steps of that run, each timed inside the harness on the same prefix (median, ms):")
        out.append("")
        out.append("| Step | Median (ms) | Max (ms) |")
        out.append("|---|---:|---:|")
        for name, values in steps:
            out.append("| %s | %.2f | %.2f |" % (name, statistics.median(values), max(values)))
        out.append("| all steps | %.1f | |" % sum(statistics.median(v) for _, v in steps))
        out.append("")
    if sim:
        sizes = sorted({s for r in sim for s in r["per"]})
        out.append("### On the simulated machine: CPU time per item (Google Benchmark)")
        out.append("")
        out.append("The fastest of %d repetitions, the median in brackets." % max(r["reps"] for r in sim))
        out.append("")
        out.append("| Operation | " + " | ".join("{:,}".format(s) for s in sizes) + " | Spread |")
        out.append("|---|" + "---:|" * len(sizes) + "---:|")
        for r in sim:
            values = [r["per"].get(s) for s in sizes]
            cells = ["%.2f µs (%.2f)" % (r["per"][s], r["median"][s]) if s in r["per"] else "–" for s in sizes]
            out.append("| %s, per %s | %s | %+.0f%% |" % (r["name"], r["unit"], " | ".join(cells), spread(values)))
        out.append("")
        out.append("Spread: the largest cost per item over the smallest, less one.")
        out.append("")
        out.append("![Cost per item against size on the simulated machine](performance-sim.svg)")
        out.append("")
    if counts:
        sizes = sorted({s for r in counts for s in r["per"]})
        out.append("### On the simulated machine: work per item (callgrind)")
        out.append("")
        out.append("One run of each operation under callgrind, counting only the operation itself; the caches "
                   "are simulated (32 KiB first level, 8 MiB last level), so these figures are the same on any "
                   "machine and under any load.")
        out.append("")
        header = "| Operation | " + " | ".join("{:,}".format(s) for s in sizes)
        out.append("Instructions per item:")
        out.append("")
        out.append(header + " | Spread |")
        out.append("|---|" + "---:|" * len(sizes) + "---:|")
        for r in counts:
            values = [r["per"][s]["instructions"] if s in r["per"] else None for s in sizes]
            out.append("| %s, per %s | %s | %+.1f%% |" % (
                r["name"], r["unit"], " | ".join("{:,.0f}".format(v) if v is not None else "–" for v in values),
                spread(values)))
        out.append("")
        out.append("Data cache misses per item: first level, reads and writes / last level, reads / last level, "
                   "writes:")
        out.append("")
        out.append(header + " |")
        out.append("|---|" + "---:|" * len(sizes))
        for r in counts:
            cells = ["%.1f / %.1f / %.1f" % (r["per"][s]["first_level"], r["per"][s]["last_level_reads"],
                                             r["per"][s]["last_level_writes"]) if s in r["per"] else "–"
                     for s in sizes]
            out.append("| %s, per %s | %s |" % (r["name"], r["unit"], " | ".join(cells)))
        out.append("")
    if wine:
        out.append("![Cost per item under wine64, cleaner and tool](performance-wine.svg)")
        out.append("")
    return "\n".join(out)


def svg_plot(path, title, y_label, series):
    """series: list of (label, {size: value}); x on a log scale."""
    width, height, left, right, top, bottom = 760, 420, 70, 280, 40, 50
    xs = sorted({x for _, pts in series for x in pts})
    ys = [v for _, pts in series for v in pts.values()]
    if not xs or not ys:
        return
    import math
    x_lo, x_hi = math.log10(min(xs)), math.log10(max(xs))
    if x_hi == x_lo:
        x_lo, x_hi = x_lo - 0.5, x_hi + 0.5
    y_hi = max(ys) * 1.1
    # A round top for the axis.
    step = 10 ** math.floor(math.log10(y_hi))
    y_hi = math.ceil(y_hi / step) * step

    def px(x):
        return left + (math.log10(x) - x_lo) / (x_hi - x_lo) * (width - left - right)

    def py(y):
        return height - bottom - y / y_hi * (height - top - bottom)

    parts = ['<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" font-family="sans-serif" font-size="12">'
             % (width, height), '<rect width="100%" height="100%" fill="white"/>',
             '<text x="%d" y="22" font-size="14">%s</text>' % (left, title)]
    for i in range(6):
        y = y_hi * i / 5
        parts.append('<line x1="%d" y1="%.1f" x2="%d" y2="%.1f" stroke="#ddd"/>' % (left, py(y), width - right, py(y)))
        parts.append('<text x="%d" y="%.1f" text-anchor="end">%g</text>' % (left - 6, py(y) + 4, round(y, 3)))
    for x in xs:
        parts.append('<line x1="%.1f" y1="%d" x2="%.1f" y2="%d" stroke="#ddd"/>' % (px(x), top, px(x), height - bottom))
        parts.append('<text x="%.1f" y="%d" text-anchor="middle">%s</text>' % (px(x), height - bottom + 18,
                                                                              "{:,}".format(x)))
    parts.append('<text x="%d" y="%d" text-anchor="middle">items (log scale)</text>' %
                 ((left + width - right) / 2, height - 10))
    parts.append('<text x="16" y="%d" transform="rotate(-90 16 %d)" text-anchor="middle">%s</text>' %
                 ((top + height - bottom) / 2, (top + height - bottom) / 2, y_label))
    for i, (label, pts) in enumerate(series):
        colour = COLOURS[i % len(COLOURS)]
        coords = " ".join("%.1f,%.1f" % (px(x), py(pts[x])) for x in sorted(pts))
        parts.append('<polyline fill="none" stroke="%s" stroke-width="2" points="%s"/>' % (colour, coords))
        for x in sorted(pts):
            parts.append('<circle cx="%.1f" cy="%.1f" r="3" fill="%s"/>' % (px(x), py(pts[x]), colour))
        ly = top + 10 + i * 20
        parts.append('<line x1="%d" y1="%d" x2="%d" y2="%d" stroke="%s" stroke-width="2"/>' %
                     (width - right + 15, ly, width - right + 35, ly, colour))
        parts.append('<text x="%d" y="%d">%s</text>' % (width - right + 40, ly + 4,
                                                         label.replace("&", "&amp;").replace("<", "&lt;")))
    parts.append("</svg>")
    with open(path, "w") as f:
        f.write("\n".join(parts) + "\n")


def main():
    results, docs = sys.argv[1], sys.argv[2]
    wine = wine_table(results)
    sim = sim_table(results)
    counts = count_table(results)
    whole = {}
    whole_path = os.path.join(results, "wholerun.txt")
    if os.path.exists(whole_path):
        values = {}
        with open(whole_path) as f:
            for line in f:
                parts = line.split()
                if len(parts) == 2:
                    values.setdefault(parts[0], []).append(float(parts[1]))
        whole = {k: statistics.median(v) for k, v in values.items()}
    load = ""
    for name in sorted(os.listdir(results)):
        if name.startswith("load-") and name.endswith(".txt"):
            with open(os.path.join(results, name)) as f:
                load += " ".join(f.read().split()) + "\n"
    steps = []
    steps_path = os.path.join(results, "steps.txt")
    if os.path.exists(steps_path):
        by_name = {}
        with open(steps_path) as f:
            for line in f:
                parts = line.split()
                if len(parts) == 3 and parts[0] == "step":
                    if parts[1] not in by_name:
                        steps.append((parts[1], []))
                        by_name[parts[1]] = steps[-1][1]
                    by_name[parts[1]].append(float(parts[2]))
    text = markdown(wine, sim, counts, whole, load, steps)
    print(text)

    os.makedirs(docs, exist_ok=True)
    if sim:
        svg_plot(os.path.join(docs, "performance-sim.svg"), "Simulated machine: CPU time per item",
                 "µs per item", [(r["short"], r["per"]) for r in sim])
    if wine:
        series = {}
        for r in wine:
            series.setdefault("cleaner: " + r["name"].lower(), {})[r["size"]] = r["ours"] * 1000 / r["size"]
            series.setdefault(r["tool"].strip("`") + ": " + r["name"].lower(), {})[r["size"]] = (
                r["tool_net"] * 1000 / r["size"])
        svg_plot(os.path.join(docs, "performance-wine.svg"), "wine64: wall time per item", "µs per item",
                 sorted(series.items()))

    doc_path = os.path.join(docs, "performance.md")
    if os.path.exists(doc_path):
        with open(doc_path) as f:
            doc = f.read()
        if BEGIN in doc and END in doc:
            head = doc[:doc.index(BEGIN) + len(BEGIN)]
            tail = doc[doc.index(END):]
            with open(doc_path, "w") as f:
                f.write(head + "\n\n" + text + "\n" + tail)


if __name__ == "__main__":
    main()
