#!/usr/bin/env bash
# Measures whole runs of sondrel against the floor (a static program that
# does nothing, linked the same way) and against the peers that are
# installed (soxi, sndfile-info, ffprobe, mediainfo), on the same two files:
# a typical one (header, 16-byte fmt chunk, one data chunk; 44.1 kHz stereo
# 16-bit) and one of 100,000 small chunks.
#
# Instructions (callgrind) and system calls (strace) do not depend on the
# machine's speed; wall times come from one hyperfine run with every command
# side by side, so they share the machine's state. Prints absolute figures,
# ratios and the targets as PASS/FAIL.
#
# Usage: bench/measure.sh [path/to/sondrel]     (default: build/sondrel)
# Exits non-zero only when something cannot be measured at all, never on a FAIL.
set -euo pipefail

die() { echo "measure.sh: $*" >&2; exit 2; }

sondrel=${1:-build/sondrel}
[[ -x $sondrel ]] || die "no executable sondrel at '$sondrel' (give its path as the argument)"
sondrel=$(cd "$(dirname "$sondrel")" && pwd)/$(basename "$sondrel")
q_sondrel=$(printf '%q' "$sondrel")
for tool in valgrind strace hyperfine gcc python3; do
    command -v "$tool" >/dev/null || die "$tool is needed but not installed"
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
started=$SECONDS

# --- The files and the floor ---------------------------------------------------

python3 - "$work" <<'PY'
import math, struct, sys, wave
work = sys.argv[1]
# One second of a 440 Hz tone: what Python's wave module writes is exactly
# the header, a 16-byte fmt chunk and one data chunk.
with wave.open(f"{work}/typical.wav", "wb") as w:
    w.setnchannels(2); w.setsampwidth(2); w.setframerate(44100)
    w.writeframes(b"".join(struct.pack("<hh", v, v) for v in
                  (int(8000 * math.sin(2 * math.pi * 440 * i / 44100)) for i in range(44100))))
# 100,000 small chunks between the fmt and the data chunk; bodies of 0 to 7
# bytes, the odd ones with their pad byte.
def chunk(cid, body):
    return cid + struct.pack("<I", len(body)) + body + (b"\0" if len(body) % 2 else b"")
fmt = chunk(b"fmt ", struct.pack("<HHIIHH", 1, 2, 44100, 176400, 4, 16))
small = b"".join(chunk(b"junk", b"\x01" * (i % 8)) for i in range(100000))
body = b"WAVE" + fmt + small + chunk(b"data", b"\0" * 4410 * 4)
with open(f"{work}/many.wav", "wb") as f:
    f.write(b"RIFF" + struct.pack("<I", len(body)) + body)
PY

# The floor is linked as sondrel's Release build is (static-pie, RELRO,
# immediate binding, packed relocations), so both pay the same start-up: the
# C library's own relocations among it.
echo 'int main(void) { return 0; }' >"$work/floor.c"
gcc -O2 -fPIE -static-pie -Wl,-z,relro -Wl,-z,now -Wl,-z,pack-relative-relocs -o "$work/floor" "$work/floor.c" ||
    die "cannot build the static-pie floor program"

# sondrel must read both files cleanly, or nothing below means anything.
for file in typical many; do
    "$sondrel" -v -o -f "$work/$file.wav" >"$work/$file.out" ||
        die "sondrel failed on the $file file (exit code $?)"
done

# The commands, one per tool, each taking the file name last; words are
# quoted for the shell, which is also how hyperfine splits them.
names=(floor sondrel)
commands=("$work/floor" "$q_sondrel -v -o -f")
peer() {  # name, command
    if command -v "${2%% *}" >/dev/null; then
        names+=("$1"); commands+=("$2")
    else
        echo "(skipping $1: ${2%% *} is not installed)"
    fi
}
peer soxi soxi
peer sndfile-info sndfile-info
peer ffprobe "ffprobe -v error -show_format -show_streams"
peer mediainfo mediainfo

# --- Instructions and system calls -----------------------------------------------

# Total instructions of a run and its children, or "n/a" when valgrind cannot
# run the program to its end (it stops at instructions it does not know).
instructions() {  # label, command...
    local label=$1; shift
    valgrind --tool=callgrind --trace-children=yes --callgrind-out-file="$work/cg.$label.%p" \
        "$@" >/dev/null 2>"$work/vg.$label" </dev/null || true
    if grep -q "Process terminating with default action of signal" "$work/vg.$label"; then
        echo n/a
    else
        awk '/Collected :/ {sum += $NF} END {print sum + 0}' "$work/vg.$label"
    fi
}

# Total system calls of a run and its children: the calls column of strace's
# closing "total" line.
syscalls() {  # label, command...
    local label=$1; shift
    strace -f -c -o "$work/st.$label" "$@" >/dev/null 2>&1 </dev/null || true
    awk '$NF == "total" {print $4}' "$work/st.$label"
}

results=$work/results.tsv
: >"$results"
for i in "${!names[@]}"; do
    cmd=()
    eval "cmd=(${commands[$i]})"
    for file in typical many; do
        label=${names[$i]}.$file
        printf '%s\t%s\tinstructions\t%s\n' "${names[$i]}" "$file" \
            "$(instructions "$label" "${cmd[@]}" "$work/$file.wav")" >>"$results"
        printf '%s\t%s\tsyscalls\t%s\n' "${names[$i]}" "$file" \
            "$(syscalls "$label" "${cmd[@]}" "$work/$file.wav")" >>"$results"
    done
done

# --- Wall time, side by side ------------------------------------------------------

# The typical file decides the targets: hyperfine's default of about three
# seconds per command, at least 50 runs. The many-chunk file is for
# information only and some peers take most of a second on it: 10 runs.
for file in typical many; do
    args=()
    for i in "${!names[@]}"; do args+=(-n "${names[$i]}" "${commands[$i]} $work/$file.wav"); done
    if [[ $file == typical ]]; then runs=(--warmup 20 --min-runs 50); else runs=(--warmup 2 --runs 10); fi
    hyperfine -N "${runs[@]}" --style none --export-json "$work/hf.$file.json" \
        "${args[@]}" >/dev/null 2>"$work/hf.$file.log" || die "hyperfine failed: $(tail -3 "$work/hf.$file.log")"
done

# --- The table ---------------------------------------------------------------------

python3 - "$work" <<'PY'
import json, sys
work = sys.argv[1]
data = {}
for line in open(f"{work}/results.tsv"):
    name, file, what, value = line.rstrip("\n").split("\t")
    data[name, file, what] = None if value in ("n/a", "") else float(value)
for file in ("typical", "many"):
    for r in json.load(open(f"{work}/hf.{file}.json"))["results"]:
        data[r["command"], file, "wall"] = r["mean"] * 1000
names = list(dict.fromkeys(n for n, _, _ in data))

def out_lines(file):
    text = open(f"{work}/{file}.out", "rb").read().decode("utf-16-le")
    return text.count("\r\n"), text.count("Found chunk")

def fmt(v, what):
    if v is None: return "n/a"
    return f"{v:.3f}" if what == "wall" else f"{v:,.0f}"

def ratio(a, b):
    return "n/a" if a is None or b is None or b == 0 else f"{a / b:.2f}x"

labels = {"typical": "Typical file (44.1 kHz stereo 16-bit, header + fmt + data)",
          "many": "File of 100,000 small chunks"}
for file in ("typical", "many"):
    print(f"\n{labels[file]}")
    print(f"{'':14}{'instructions':>14}{'syscalls':>10}{'wall ms':>10}   {'ratios (instr / syscalls / wall)':}")
    for n in names:
        v = [data.get((n, file, w)) for w in ("instructions", "syscalls", "wall")]
        if n == "floor":
            note = ""
        elif n == "sondrel":
            f = [data.get(("floor", file, w)) for w in ("instructions", "syscalls", "wall")]
            note = "sondrel/floor " + " / ".join(ratio(a, b) for a, b in zip(v, f))
        else:
            s = [data.get(("sondrel", file, w)) for w in ("instructions", "syscalls", "wall")]
            note = "peer/sondrel  " + " / ".join(ratio(a, b) for a, b in zip(v, s))
        print(f"{n:14}{fmt(v[0], 'i'):>14}{fmt(v[1], 's'):>10}{fmt(v[2], 'wall'):>10}   {note}")

lines, chunks = out_lines("many")
s_many_sys, s_many_ins = data[("sondrel", "many", "syscalls")], data[("sondrel", "many", "instructions")]
print(f"\n100,000-chunk file: sondrel printed {lines:,} lines for {chunks:,} chunks: "
      f"{s_many_sys / lines:.3f} system calls per output line, {s_many_ins / chunks:,.0f} instructions per chunk")

def target(text, value, limit, shown, strict=False):
    if value is None:
        print(f"  SKIP  {text}: cannot be measured here"); return
    ok = value < limit if strict else value <= limit
    print(f"  {'PASS' if ok else 'FAIL'}  {text}: {shown}")

print("\nTargets")
g = lambda n, f, w: data.get((n, f, w))
target("typical file, instructions <= 150,000", g("sondrel", "typical", "instructions"), 150000,
       fmt(g("sondrel", "typical", "instructions"), "i"))
target("typical file, system calls <= 64", g("sondrel", "typical", "syscalls"), 64,
       fmt(g("sondrel", "typical", "syscalls"), "s"))
over = None if g("sondrel", "typical", "instructions") is None else \
    g("sondrel", "typical", "instructions") - g("floor", "typical", "instructions")
target("typical file, instructions over the floor <= 20,000", over, 20000, fmt(over, "i"))
target("typical file, system calls <= 55", g("sondrel", "typical", "syscalls"), 55,
       fmt(g("sondrel", "typical", "syscalls"), "s"))
target("100,000 chunks, system calls per output line <= 2.02", s_many_sys / lines, 2.02,
       f"{s_many_sys / lines:.3f}")
target("100,000 chunks, instructions per chunk <= 2,500", s_many_ins / chunks, 2500, f"{s_many_ins / chunks:,.0f}")
w = g("sondrel", "typical", "wall")
fw, sw = g("floor", "typical", "wall"), g("soxi", "typical", "wall")
target("typical file, wall time <= 1.3x the floor", w / fw, 1.3, f"{w / fw:.2f}x")
target("typical file, wall time < 0.5x soxi", None if sw is None else w / sw, 0.5,
       "n/a" if sw is None else f"{w / sw:.2f}x", strict=True)
PY
echo
echo "Measured in $((SECONDS - started)) s."
