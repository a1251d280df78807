#!/usr/bin/env bash
# Another build of the program against the Linux program, run for run: the
# Windows program under Wine, or a Linux program for another machine under an
# emulator (qemu-aarch64, qemu-s390x). Every
# file under tests/data/ and examples/ and a set of made ones (damaged headers,
# odd chunks, every kind of descriptor, files at and past 4 GiB, awkward
# names), each with every option set, and a few bad command lines, and some
# of them again with SONDREL_ENCODING=utf-8. Both must write the same bytes to
# standard output and standard error (UTF-16LE, CR LF, no byte-order mark; or
# UTF-8 and LF when asked) and end with the same exit code. Allowed to differ: the
# text inside the "(...)" of a failed system call, which is the system's own,
# and exit codes above 255, of which Linux keeps the low 8 bits.
#
# Usage: tests/wine_e2e.sh <Linux build dir> <Windows build dir>
#        tests/wine_e2e.sh <Linux build dir> <other build dir> <runner>
set -euo pipefail

if [ $# -ne 2 ] && [ $# -ne 3 ]; then
    echo "usage: $0 <Linux build dir> <Windows build dir> | <other build dir> <runner>" >&2
    exit 2
fi
source_dir=$(cd "$(dirname "$0")/.." && pwd)
linux_program=$(cd "$1" && pwd)/sondrel
runner=${3:-wine}
if [ "$runner" = wine ]; then
    other_program=$(cd "$2" && pwd)/sondrel.exe
else
    other_program=$(cd "$2" && pwd)/sondrel
fi
for program in "$linux_program" "$other_program"; do
    [ -f "$program" ] || { echo "$0: no $program; build it first" >&2; exit 2; }
done
command -v "$runner" >/dev/null || { echo "$0: $runner is not installed" >&2; exit 2; }

# The Wine prefix of the Windows build folder, the one its ctest uses.
export WINEPREFIX=${WINEPREFIX:-$(cd "$2" && pwd)/wine-prefix}
# Wine's own errors about the address space stay on: they tell a Wine that
# failed to start from a program that failed.
export WINEDEBUG=-all,err+virtual
# Without address-space randomisation Wine always finds the fixed address of
# its shared user data free; with it, a start now and then fails (exit code 1,
# nothing from the program).
wine=(wine)
if setarch "$(uname -m)" -R true 2>/dev/null; then
    wine=(setarch "$(uname -m)" -R wine)
fi
# File names reach both programs as UTF-8 bytes.
export LC_ALL=C.UTF-8

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
made="$work/files"

python3 - "$made" <<'PYTHON'
import os, struct, sys

out = sys.argv[1]
os.makedirs(out)

def le16(v): return struct.pack('<H', v)
def le32(v): return struct.pack('<I', v)
def chunk(id, body, size=None): return id + le32(len(body) if size is None else size) + body
def riff(chunks, size=None): return b'RIFF' + le32(len(chunks) + 4 if size is None else size) + b'WAVE' + chunks

def fmt(tag, channels, rate, bits, align=None, byte_rate=None, extra=b''):
    align = channels * bits // 8 if align is None else align
    byte_rate = rate * align if byte_rate is None else byte_rate
    return le16(tag) + le16(channels) + le32(rate) + le32(byte_rate) + le16(align) + le16(bits) + extra

def subformat(tag): return le16(tag) + b'\x00\x00\x00\x00\x10\x00\x80\x00\x00\xaa\x00\x38\x9b\x71'

def extensible(channels, rate, bits, valid, mask, sub, cb=22):
    return fmt(0xFFFE, channels, rate, bits, extra=le16(cb) + le16(valid) + le32(mask) + sub)

def wave(descriptor, data=b'\x01' * 16): return riff(chunk(b'fmt ', descriptor) + chunk(b'data', data))

pcm = fmt(1, 2, 44100, 16)
files = {
    'empty.wav': b'',
    'five.wav': b'RIFF\x01',
    'rifx.wav': b'RIFX' + le32(4) + b'WAVE',
    'avi.wav': b'RIFF' + le32(4) + b'AVI ',
    'header_only.wav': riff(b''),
    'nineteen.wav': riff(b'1234567', 100),
    'usual.wav': wave(pcm),
    'riff_size_small.wav': riff(chunk(b'fmt ', pcm), 28) + chunk(b'data', b'12345678'),
    'riff_size_large.wav': riff(chunk(b'fmt ', pcm) + chunk(b'data', b'12'), 1000),
    'odd_padded.wav': riff(chunk(b'LIST', b'abc') + b'\0' + chunk(b'fmt ', pcm) + chunk(b'data', b'xyz') + b'\0'),
    'odd_unpadded.wav': riff(chunk(b'junk', b'abc') + chunk(b'fmt ', pcm) + chunk(b'data', b'xyz')),
    'binary_ids.wav': riff(chunk(b'\0\0\0\0', b'') + chunk(b'\x01\x02\x03\x04', b'ab') + chunk(b'\x7f ~!', b'')
                           + chunk(b'dat\x80', b'') + chunk(b'\xff\xff\xff\xff', b'') + chunk(b'FMT ', b'')
                           + chunk(b'fmt ', pcm) + chunk(b'data', b'12')),
    'beyond_end.wav': riff(chunk(b'fmt ', pcm) + chunk(b'data', b'1234', 0xFFFFFFFF)),
    'no_data.wav': riff(chunk(b'fmt ', pcm)),
    'empty_data.wav': riff(chunk(b'fmt ', pcm) + chunk(b'data', b'')),
    'data_first.wav': riff(chunk(b'data', b'1234') + chunk(b'fmt ', pcm)),
    'last_data_empty.wav': riff(chunk(b'fmt ', pcm) + chunk(b'data', b'1234') + chunk(b'data', b'')),
    'two_fmt.wav': riff(chunk(b'fmt ', pcm) + chunk(b'fmt ', fmt(3, 1, 8000, 32)) + chunk(b'data', b'1234')),
    'extra_tail.wav': riff(chunk(b'fmt ', pcm) + chunk(b'data', b'1234') + b'xyz'),
    'fmt_short.wav': wave(pcm[:14]),
    'fmt_too_long.wav': wave(fmt(0x1234, 1, 8000, 8, extra=le16(4079) + bytes(4079))),
    'fmt_longest.wav': wave(fmt(0x1234, 1, 8000, 8, extra=le16(4078) + bytes(4078))),
    'pcm_u8.wav': wave(fmt(1, 1, 8000, 8)),
    'pcm_inconsistent.wav': wave(fmt(1, 2, 44100, 16, align=3)),
    'pcm_18.wav': wave(fmt(1, 2, 22050, 16, extra=le16(0))),
    'float.wav': wave(fmt(3, 2, 48000, 32)),
    'adpcm.wav': wave(fmt(2, 1, 22050, 4, align=256, byte_rate=11155, extra=le16(32) + bytes(32))),
    'gsm.wav': wave(fmt(0x31, 1, 8000, 0, align=65, byte_rate=1625, extra=le16(2) + le16(320))),
    'mp3.wav': wave(fmt(0x55, 2, 44100, 0, align=1, byte_rate=16000, extra=le16(12) + bytes(12))),
    'tag_unknown.wav': wave(fmt(0x1234, 1, 8000, 8)),
    'tag_ffff.wav': wave(fmt(0xFFFF, 1, 8000, 8)),
    'ext_pcm24.wav': wave(extensible(2, 48000, 32, 24, 0x3, subformat(1))),
    'ext_float51.wav': wave(extensible(6, 48000, 32, 32, 0x3F, subformat(3))),
    'ext_every_speaker.wav': wave(extensible(2, 44100, 16, 16, 0xFFFFFFFF, subformat(1))),
    'ext_no_mask.wav': wave(extensible(4, 96000, 24, 20, 0, subformat(1))),
    'ext_other_guid.wav': wave(extensible(2, 44100, 16, 16, 3, bytes(range(1, 17)))),
    'ext_ac3_guid.wav': wave(extensible(2, 48000, 16, 16, 3, subformat(0x92))),
    'ext_cb_zero.wav': wave(fmt(0xFFFE, 2, 44100, 16, extra=le16(0))),
    'ext_cut_short.wav': wave(extensible(2, 44100, 16, 16, 3, subformat(1))[:30]),
    'many_chunks.wav': riff(chunk(b'fmt ', pcm) + b''.join(chunk(b'c%03d' % i, b'x' * (i % 3)) for i in range(300))
                            + chunk(b'data', b'1234')),
    # Across the 64 KiB read-ahead: a header split by a refill, a pad byte
    # and then a chunk larger than the buffer.
    'header_across_refill.wav': riff(chunk(b'fmt ', pcm) + chunk(b'data', b'\x01' * 65488) + chunk(b'LIST', b'')),
    'pad_then_large.wav': riff(chunk(b'fmt ', pcm) + chunk(b'junk', b'abc') + b'\0' + chunk(b'LIST', b'x' * 70000)
                               + chunk(b'data', b'12')),
    'a b (1).wav': wave(pcm),
    '\u00e9t\u00e9 \u266b.wav': wave(pcm),
}
for name, data in files.items():
    with open(os.path.join(out, name), 'wb') as f:
        f.write(data)

# Sizes at and past the 32-bit limit, sparse: only the first chunks hold bytes.
head = riff(chunk(b'fmt ', pcm) + chunk(b'data', b'', 0xFFFFFFFE - 44), 0xFFFFFFFE - 8)
for name, size in [('size_fffffffe.wav', 0xFFFFFFFE), ('size_ffffffff.wav', 0xFFFFFFFF), ('size_5g.wav', 5 << 30)]:
    with open(os.path.join(out, name), 'wb') as f:
        f.write(head)
        f.truncate(size)
os.mkdir(os.path.join(out, 'folder.wav'))
PYTHON

# The first Wine start creates the prefix and starts Wine's services; with
# nothing of ours to hold open, they serve the runs below and then go.
if [ "$runner" = wine ]; then
    run_other=("${wine[@]}")
    "${wine[@]}" cmd /c exit </dev/null >/dev/null 2>&1 || true
else
    run_other=("$runner")
fi

# Wine's start-up failing before the program runs, exactly as it shows: exit
# code 1, no output, and this one line on standard error.
wine_start_failure='err:virtual:virtual_alloc_first_teb wine: failed to map the shared user data: c0000018'

runs=0
# The value of SONDREL_ENCODING for the runs; unset when empty.
encoding=
# run_both <folder> <argument>...: one run of each program from the folder.
run_both() {
    local folder=$1
    shift
    runs=$((runs + 1))
    local run="$work/runs/$runs"
    mkdir -p "$run"
    printf '%s\n' "$encoding" "$folder" "$@" >"$run/arguments"
    (
        cd "$folder"
        set +e
        if [ -n "$encoding" ]; then export SONDREL_ENCODING=$encoding; else unset SONDREL_ENCODING; fi
        "$linux_program" "$@" </dev/null >"$run/linux.out" 2>"$run/linux.err"
        echo $? >"$run/linux.code"
        local attempt
        for attempt in 1 2 3; do
            "${run_other[@]}" "$other_program" "$@" </dev/null >"$run/other.out" 2>"$run/other.err"
            echo $? >"$run/other.code"
            # Only that failure is run again; any other outcome is compared.
            [ "$(cat "$run/other.code")" = 1 ] && [ ! -s "$run/other.out" ] &&
                [ "$(cat "$run/other.err")" = "$wine_start_failure" ] || break
            echo "wine_e2e: Wine failed to start (its shared user data address was taken); running again: $*" >&2
        done
    )
}

option_sets=("" "-v" "-o" "-f" "-v -o -f")
run_files() {
    local folder=$1
    shift
    local name options
    for name in "$@"; do
        for options in "${option_sets[@]}"; do
            # shellcheck disable=SC2086  # the options are separate words
            run_both "$folder" $options "$name"
        done
    done
}

cd "$source_dir"
mapfile -t project_files < <(find tests/data examples -type f | LC_ALL=C sort)
run_files "$source_dir" "${project_files[@]}"
cd "$made"
mapfile -t made_files < <(ls -1 | LC_ALL=C sort)
run_files "$made" "${made_files[@]}" missing.wav
for arguments in "" "-x -y usual.wav" "-vf usual.wav" "-V usual.wav" "-" "-v" "usual.wav extra" '"a b (1).wav"'; do
    eval "run_both \"\$made\" $arguments"
done
# UTF-8 output on request: the awkward names, every kind of line, a failure.
encoding=utf-8
run_files "$made" 'été ♫.wav' binary_ids.wav ext_other_guid.wav fmt_short.wav missing.wav
run_both "$made"
run_both "$made" -x -y usual.wav
encoding=

python3 - "$work/runs" "$runner" <<'PYTHON'
import os, re, sys

# Lines that carry a system error text: the text inside the last "(...)" is
# the system's and may differ; the rest of the line may not.
SYSTEM_ERROR = re.compile(r'^((?:Cannot open ".*"|Cannot get file size|Cannot read \d+ bytes|Cannot skip chunk data) )\(.*\)$')

def decode(raw, what, problems, utf8):
    if utf8:
        try:
            text = raw.decode('utf-8')
        except UnicodeDecodeError as e:
            problems.append('%s is not UTF-8: %s' % (what, e))
            text = raw.decode('utf-8', errors='replace')
        if '\r' in text or (text and not text.endswith('\n')):
            problems.append(what + ' does not end each line with LF alone')
        return text.replace('\n', '\r\n')
    if raw[:2] == b'\xff\xfe':
        problems.append(what + ' starts with a byte-order mark')
    if len(raw) % 2:
        problems.append(what + ' has an odd number of bytes')
        raw = raw[:-1]
    text = raw.decode('utf-16-le', errors='replace')
    if text and not text.endswith('\r\n'):
        problems.append(what + ' does not end with CR LF')
    return text

def without_system_texts(text):
    return '\r\n'.join(SYSTEM_ERROR.sub(r'\1(<system error>)', line) for line in text.split('\r\n'))

def read(path):
    with open(path, 'rb') as f:
        return f.read()

root = sys.argv[1]
passed = failed = 0
for run in sorted(os.listdir(root), key=int):
    d = os.path.join(root, run)
    problems = []
    lines = read(os.path.join(d, 'arguments')).decode().split('\n')[:-1]
    encoding, folder = lines[0], lines[1]
    label = ' '.join(lines[2:]) or '(no arguments)'
    if encoding:
        label = 'SONDREL_ENCODING=%s %s' % (encoding, label)
    outs = {}
    for side in ('linux', 'other'):
        out = decode(read(os.path.join(d, side + '.out')), side + ' standard output', problems, encoding != '')
        err = decode(read(os.path.join(d, side + '.err')), side + ' standard error', problems, encoding != '')
        code = int(read(os.path.join(d, side + '.code')))
        outs[side] = (out, err, code)
    (lo, le, lc), (wo, we, wc) = outs['linux'], outs['other']
    if read(os.path.join(d, 'linux.out')) != read(os.path.join(d, 'other.out')):
        problems.append('standard output differs:\n--- linux\n%s--- other\n%s' % (lo, wo))
    if without_system_texts(le) != without_system_texts(we):
        problems.append('standard error differs:\n--- linux\n%s--- other\n%s' % (le, we))
    if lc % 256 != wc % 256:
        problems.append('exit code %d on linux, %d on the other' % (lc, wc))
    if problems:
        failed += 1
        print('FAIL %s (in %s)' % (label, folder))
        for p in problems:
            print('  ' + p.replace('\n', '\n  '))
    else:
        passed += 1
print('%s: %d passed, %d failed' % (sys.argv[2], passed, failed))
sys.exit(1 if failed else 0)
PYTHON
