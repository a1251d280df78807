#!/usr/bin/env bash
# Measures sondrel-scan on a collection: 20,000 small files (a mix of PCM,
# float, extensible and damaged ones, with and without extra chunks), warm
# in the page cache, checked by sondrel-scan, by sondrel-scan --isolate and by
# `xargs -0 -n 100 soxi` (Debian's sox), in interleaved rounds (ROUNDS, 6 by
# default). Then the peak memory of sondrel-scan (its processes' largest
# resident set) for 100 names and for 100,000 (the 20,000 files named five
# times over).
# Then CPU time (user and system, of every process of the run): a file checked
# by sondrel-scan against one sondrel process per file (xargs -0 -n 1, over
# 2,000 of the names), and sondrel-scan with its status line on a
# pseudo-terminal against without it; each pair A B B A, four times.
#
# Usage: bench/scan.sh [path/to/sondrel-scan]     (default: build/sondrel-scan)
# Prints the figures and the targets as PASS/FAIL; exits non-zero only when
# something cannot be measured at all.
set -euo pipefail

die() { echo "scan.sh: $*" >&2; exit 2; }

scan=${1:-build/sondrel-scan}
[[ -x $scan ]] || die "no executable sondrel-scan at '$scan' (give its path as the argument)"
scan=$(cd "$(dirname "$scan")" && pwd)/$(basename "$scan")
sondrel=$(dirname "$scan")/sondrel
[[ -x $sondrel ]] || die "no sondrel beside sondrel-scan"
for tool in soxi python3 /usr/bin/time script; do
    command -v "$tool" >/dev/null || die "$tool is needed but not installed (soxi: apt-get install sox)"
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

python3 - "$work" <<'PY'
import os, struct, sys
work = sys.argv[1]
def chunk(cid, body):
    return cid + struct.pack("<I", len(body)) + body + (b"\0" if len(body) % 2 else b"")
def riff(chunks):
    body = b"WAVE" + chunks
    return b"RIFF" + struct.pack("<I", len(body)) + body
def fmt(tag, channels, rate, bits, extra=b""):
    align = channels * bits // 8
    return chunk(b"fmt ", struct.pack("<HHIIHH", tag, channels, rate, rate * align, align, bits) + extra)
kinds = [
    riff(fmt(1, 2, 44100, 16) + chunk(b"data", b"\0" * 400)),
    riff(fmt(3, 1, 48000, 32) + chunk(b"fact", struct.pack("<I", 100)) + chunk(b"data", b"\0" * 400)),
    riff(fmt(0xFFFE, 2, 48000, 24, struct.pack("<HHI", 22, 24, 3) + bytes.fromhex("0100000000001000800000aa00389b71"))
         + chunk(b"LIST", b"INFOISFT\x06\0\0\0sondr\0") + chunk(b"data", b"\0" * 600)),
    riff(fmt(1, 1, 8000, 8) + chunk(b"data", b"\x80" * 300))[:-100],   # cut short: 102
    b"RIFF\x04\0\0\0WAVX",                                               # not WAVE: 103
]
names = []
for i in range(20000):
    name = f"{work}/files/{i // 1000:02d}/f{i:05d}.wav"
    os.makedirs(os.path.dirname(name), exist_ok=True)
    with open(name, "wb") as f:
        f.write(kinds[i % len(kinds)])
    names.append(name.encode())
open(f"{work}/all.lst", "wb").write(b"\0".join(names) + b"\0")
open(f"{work}/100.lst", "wb").write(b"\0".join(names[:100]) + b"\0")
open(f"{work}/2000.lst", "wb").write(b"\0".join(names[:2000]) + b"\0")
open(f"{work}/100000.lst", "wb").write((b"\0".join(names) + b"\0") * 5)
PY

# Warm: every file read once before anything is measured.
cat "$work"/files/*/* >/dev/null

# The largest resident set of the run's processes (the opener and the worker
# it waits for), as GNU time reads it from wait4().
peak() {
    /usr/bin/time -f %M -o "$work/rss" "$scan" -0 --files-from "$1" >/dev/null 2>&1 || true
    tail -n 1 "$work/rss"
}
rss100=$(peak "$work/100.lst")
rss100000=$(peak "$work/100000.lst")

# CPU seconds of a command's processes, as GNU time reads them from wait4().
cpu() {
    /usr/bin/time -f '%U %S' -o "$work/cpu" "$@" >/dev/null 2>&1 || true
    tail -n 1 "$work/cpu" | awk '{print $1 + $2}'
}
on_terminal() {
    script -qec "$(printf '%q ' /usr/bin/time -f '%U %S' -o "$work/cpu" "$scan" "$@" -0 --files-from "$work/all.lst") >/dev/null" \
        /dev/null </dev/null >/dev/null || true
    tail -n 1 "$work/cpu" | awk '{print $1 + $2}'
}
: >"$work/cpu.txt"
for round in 1 2 3 4; do
    a=$(cpu "$scan" -0 --files-from "$work/all.lst"); b=$(cpu xargs -0 -n 1 "$sondrel" <"$work/2000.lst")
    c=$(cpu xargs -0 -n 1 "$sondrel" <"$work/2000.lst"); d=$(cpu "$scan" -0 --files-from "$work/all.lst")
    e=$(on_terminal --progress); f=$(on_terminal --no-progress); g=$(on_terminal --no-progress); h=$(on_terminal --progress)
    echo "$a $b $c $d $e $f $g $h" >>"$work/cpu.txt"
done

# The three commands in turn, each round's order the reverse of the one
# before (A B C, C B A, ...), so that a machine whose speed drifts favours
# none; each run's wall time and the CPU time of all its processes (from
# wait4). soxi's exit status (it fails on the damaged files) is ignored.
python3 - "$scan" "$work" "${ROUNDS:-6}" "$rss100" "$rss100000" "$work/cpu.txt" <<'PY'
import os, statistics, subprocess, sys, time
scan, work, rounds = sys.argv[1], sys.argv[2], int(sys.argv[3])
rss100, rss100000 = int(sys.argv[4]), int(sys.argv[5])
files = 20000
lst = f"{work}/all.lst"
commands = {
    "sondrel-scan": [scan, "-0", "--files-from", lst],
    "sondrel-scan --isolate": [scan, "--isolate", "-0", "--files-from", lst],
    "xargs -0 -n 100 soxi": ["sh", "-c", f"exec xargs -0 -n 100 soxi <{lst}"],
}
def run(argv):
    with open(os.devnull, "wb") as null:
        start = time.monotonic()
        child = subprocess.Popen(argv, stdout=null, stderr=null)
        _, _, usage = os.wait4(child.pid, 0)
        return time.monotonic() - start, usage.ru_utime + usage.ru_stime
times = {name: [] for name in commands}
order = list(commands)
for name in order:
    run(commands[name])  # warm-up
for r in range(rounds):
    for name in (order if r % 2 == 0 else order[::-1]):
        times[name].append(run(commands[name]))
def median(name, k):
    return statistics.median(t[k] for t in times[name])
soxi = "xargs -0 -n 100 soxi"
print(f"{files:,} files, {rounds} interleaved rounds, medians:")
print("| command | wall ms | files/s | CPU per file |")
print("|---|---:|---:|---:|")
for name in order:
    wall, cpu = median(name, 0), median(name, 1)
    print(f"| `{name}` | {wall * 1000:.1f} | {files / wall:,.0f} | {cpu / files * 1e6:.1f} us |")
def paired(name, k):  # the ratio soxi / name, round by round
    return statistics.median(b[k] / a[k] for a, b in zip(times[name], times[soxi]))
speed, cpu = paired("sondrel-scan", 0), paired("sondrel-scan", 1)
print(f"sondrel-scan against soxi, paired by round: {speed:.2f}x the speed, {1 / cpu:.2f} of the CPU per file; "
      f"--isolate: {paired('sondrel-scan --isolate', 0):.2f}x the speed, {1 / paired('sondrel-scan --isolate', 1):.2f} of the CPU")
print(f"peak resident set: {rss100} KiB for 100 names, {rss100000} KiB for 100,000")
print(f"{'PASS' if speed >= 2 else 'FAIL'}  sondrel-scan at least 2x as fast as xargs -n 100 soxi ({speed:.2f}x)")
print(f"{'PASS' if cpu >= 2 else 'FAIL'}  sondrel-scan at most half the CPU per file of soxi ({1 / cpu:.2f})")
grow = rss100000 - rss100
print(f"{'PASS' if grow <= 1024 else 'FAIL'}  peak memory for 100,000 names within 1 MiB of that for 100 ({grow:+d} KiB)")
pairs = [list(map(float, line.split())) for line in open(sys.argv[6])]
per_scan = [r[i] / 20000 * 1e6 for r in pairs for i in (0, 3)]
per_each = [r[i] / 2000 * 1e6 for r in pairs for i in (1, 2)]
print(f"CPU a file: sondrel-scan {min(per_scan):.1f} to {max(per_scan):.1f} us, one sondrel process per file "
      f"{min(per_each):.0f} to {max(per_each):.0f} us ({sum(per_each) / sum(per_scan):.0f} times as much); "
      f"one core checks about {3600e6 / (sum(per_scan) / len(per_scan)) / 1e6:.0f} million such files an hour")
on = [r[i] for r in pairs for i in (4, 7)]
off = [r[i] for r in pairs for i in (5, 6)]
print(f"status line, 20,000 files: CPU {sum(on) / len(on):.3f} s with it, {sum(off) / len(off):.3f} s without "
      f"(each {min(on + off):.3f} to {max(on + off):.3f} s)")
PY
