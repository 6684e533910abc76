#!/usr/bin/env python3
"""Turns the raw outputs of bench/run-all.sh into the results table.

Every benchmark ran with repetitions; the median of each counter is used.
"""
import glob
import json
import os
import re
import subprocess
import sys

raw = sys.argv[1]


def medians(name):
    path = os.path.join(raw, name + ".json")
    if not os.path.exists(path):
        return {}
    with open(path) as f:
        data = json.load(f)
    out = {}
    for b in data.get("benchmarks", []):
        if b.get("aggregate_name") == "median":
            out[b["run_name"]] = b
    return out


def fmt(value, digits=3):
    return "n/a" if value is None else f"{value:.{digits}f}"


def counter(runs, run, key):
    b = runs.get(run)
    return None if b is None else b.get(key)


rows = []


def row(figure, target, value, unit, how):
    status = ""
    if target is not None and value is not None:
        status = "met" if value <= target else "MISSED"
    rows.append((figure, "" if target is None else f"<= {target} {unit}", f"{fmt(value)} {unit}", status, how))


lvl0 = medians("enum-level0")
lvl4 = medians("enum-level4")
for monitors in (1, 4, 16):
    run = f"BM_DriverEnumeration/{monitors}"
    row(f"driver own CPU per monitor, level 0, {monitors} monitor(s)", 0.4,
        counter(lvl0, run, "own_cpu_ms_per_monitor"), "ms", "thread CPU - CPU inside libusb")
for monitors in (1, 4, 16):
    run = f"BM_DriverEnumeration/{monitors}"
    row(f"driver own CPU per monitor, level 4, {monitors} monitor(s)", 1.0,
        counter(lvl4, run, "own_cpu_ms_per_monitor"), "ms", "thread CPU - CPU inside libusb")
for monitors in (1, 4, 16):
    row(f"  check: driver thread CPU per monitor incl. libusb, level 0, {monitors}", None,
        counter(lvl0, f"BM_DriverEnumeration/{monitors}", "cpu_ms_per_monitor"), "ms", "thread CPU")
    row(f"  check: bare libusb loop thread CPU per monitor, {monitors}", None,
        counter(lvl0, f"BM_BareLibusbKeepOpen/{monitors}", "cpu_ms_per_monitor"), "ms", "thread CPU")
row("  wrapper clock overhead per monitor (included above)", None,
    counter(lvl0, "BM_DriverEnumeration/4", "meter_ms_per_monitor"), "ms", "2 clock reads per libusb call")

flash = medians("flashaware")
for procs in (100, 1000):
    b = flash.get(f"BM_FlashCheck/{procs}")
    row(f"FlashAware check, {procs} processes", None,
        None if b is None else b["cpu_time"], "ms", "process CPU per check (median)")

prov = medians("provider")
for monitors in (1, 4, 16):
    run = f"BM_EnumerateInstances/{monitors}/real_time"
    row(f"provider+host beyond the driver per instance, {monitors} monitor(s)", 0.1,
        counter(prov, run, "beyond_driver_ms_per_instance"), "ms", "thread CPU of ei - CPU inside the driver")
p1 = counter(prov, "BM_EnumerateInstances/1/real_time", "provider_driver_cpu_ms")
d1 = counter(prov, "BM_EnumerateInstances/1/real_time", "driver_cpu_ms")
p16 = counter(prov, "BM_EnumerateInstances/16/real_time", "provider_driver_cpu_ms")
d16 = counter(prov, "BM_EnumerateInstances/16/real_time", "driver_cpu_ms")
if None not in (p1, d1, p16, d16):
    row("provider+host beyond the driver, slope per added instance (1->16)", 0.1,
        ((p16 - d16) - (p1 - d1)) / 15, "ms", "difference of the above")

mem = medians("memory")
r1 = counter(mem, "BM_DriverMemory/1/iterations:3", "rss_kib")
r16 = counter(mem, "BM_DriverMemory/16/iterations:3", "rss_kib")
h1 = counter(mem, "BM_DriverMemory/1/iterations:3", "heap_kib")
h16 = counter(mem, "BM_DriverMemory/16/iterations:3", "heap_kib")
for label, a, b in (("VmRSS", r1, r16), ("heap in use", h1, h16)):
    row(f"driver {label}, 1 monitor", None, a, "KiB", "after 3 enumerations - before DisplayApi")
    row(f"driver {label}, 16 monitors", None, b, "KiB", "after 3 enumerations - before DisplayApi")
    if a is not None and b is not None:
        row(f"driver {label} per monitor ((16-1)/15)", None, (b - a) / 15, "KiB", "")

coll = medians("collector")
for monitors in (1, 2, 4):
    b = coll.get(f"BM_CollectorRun/{monitors}/min_time:2.000/real_time")
    row(f"metrics collector run, CPU, {monitors} monitor(s)", None,
        None if b is None else b.get("cpu_ms_per_run"), "ms", "child user+system time per run")
    row(f"metrics collector run, wall, {monitors} monitor(s)", None,
        None if b is None else b["real_time"], "ms", "real time per run (machine load counts)")

width = [max(len(r[i]) for r in rows) for i in range(5)]
for r in rows:
    print("  ".join(r[i].ljust(width[i]) for i in range(5)).rstrip())


OURS = re.compile(r"(DisplayApi|DisplayManager|HidDisplayManager|QavHidDisplay|QavHidDisplayList|FlashAware|HidIo|"
                  r"Inventory|Edid|Osd|DeviceData|DisplayInformation|LogRecord|FileLogHandler|Logger|Config|"
                  r"SupportedHidDisplays|ResolutionList)::|(Log|LogQuick)\(")


def callgrind_split(path):
    text = subprocess.run(["callgrind_annotate", "--inclusive=yes", "--tree=calling", "--threshold=100", path],
                          capture_output=True, text=True).stdout
    total = None
    libusb = 0
    current = None
    own = {}
    for line in text.splitlines():
        m = re.match(r"\s*([\d,]+) \([^)]*\)\s+([*>])\s+(\S.*)$", line)
        if not m:
            if total is None:
                t = re.match(r"\s*([\d,]+) \([^)]*\)\s+PROGRAM TOTALS", line)
                if t:
                    total = int(t.group(1).replace(",", ""))
            continue
        cost = int(m.group(1).replace(",", ""))
        if m.group(2) == "*":
            current = m.group(3)
            name = re.sub(r" \[.*\]$", "", current.split(":", 1)[-1])
            if OURS.match(name):
                own[name] = max(own.get(name, 0), cost)
        elif current is not None and ":HidIo::" in current and "LibusbMeter.cpp" in m.group(3):
            libusb += cost
    return total, libusb, own


for level in (0, 4):
    files = sorted(glob.glob(os.path.join(raw, f"callgrind-level{level}.*")), key=os.path.getsize)
    if not files:
        continue
    total, libusb, own = callgrind_split(files[-1])
    if not total:
        continue
    print()
    print(f"callgrind, level {level}, 4 monitors, instructions of the calling thread inside getDisplayInformationList:")
    print(f"  total {total:,}  libusb+emulator hand-off {libusb:,}  ours {total - libusb:,} "
          f"({100.0 * (total - libusb) / total:.1f}%)")
    print("  largest inclusive costs of our functions:")
    for name, cost in sorted(own.items(), key=lambda kv: -kv[1])[:14]:
        print(f"    {cost:>12,}  {name}")
