#!/usr/bin/env bash
# sondrel-scan's status line, on a pseudo-terminal (script(1)) and into a
# file: the records are byte for byte those of a run without it, the line is
# never inside them, it stays within 79 columns, and it is erased before the
# closing count.
#
#   tests/progress.sh SONDREL-SCAN SOURCE-DIR
set -euo pipefail
scan=$(realpath "$1")
source=$(realpath "$2")
source "$(dirname "$0")/scratch.sh"
cp "$source/examples/tone.wav" a.wav
# Long enough to run for more than a tenth of a second on any machine; every
# tenth name is missing, so the count of files not usable moves too.
awk 'BEGIN { for (i = 1; i <= 40000; i++) print (i % 10 ? "./a.wav" : "missing.wav") }' >list
awk 'BEGIN { for (i = 1; i <= 10000; i++) print "./a.wav" }' >arguments

fail() { echo "FAIL: $*" >&2; exit 1; }

# Takes the status lines and their erasing out of what a terminal got, and
# checks each status line on the way.
strip() {
  python3 - "$1" <<'PY'
import re, sys
text = open(sys.argv[1], 'rb').read().decode()
status = re.compile(r'\rChecked (\d+)( of \d+)? files, \d+ a second, (\d+) not usable *')
lines = status.findall(text)
if not lines:
    sys.exit('no status line')
# Each drawing covers what the one before left on the line; a drawing is
# followed by another or by the erasing, never by other text; the erasing
# blanks the whole line.
width = 0
for match in re.finditer(status.pattern + r'|\r( +)\r', text):
    if match.group(4) is not None:
        if len(match.group(4)) < width:
            sys.exit('an erasing of %d columns after a line of %d' % (len(match.group(4)), width))
        width = 0
        continue
    columns = len(match.group(0)) - 1
    if columns > 79 or columns < width:
        sys.exit('a status line of %d columns after one of %d' % (columns, width))
    width = columns
    if text[match.end():match.end() + 1] != '\r':
        sys.exit('a status line followed by other text: %r' % text[match.end():match.end() + 40])
text = re.sub(r'\r +\r', '', status.sub('', text))
sys.stdout.write(text)
PY
}

# Each case: the options, where the records go, and what a run without the
# status line gives.
# 1. Names from a list, records into a file, the status line on the terminal.
"$scan" --no-progress --files-from list >plain.out 2>plain.err || true
script -qec "'$scan' --files-from list >shown.out" /dev/null </dev/null >shown.tty || true
cmp plain.out shown.out || fail "records into a file differ when the status line is on the terminal"
stripped=$(strip shown.tty) || fail "the terminal of case 1"
[ "$stripped" = "$(cat plain.err)"$'\r\r' ] || fail "the terminal held more than the status line and the count: $(printf %q "$stripped")"

# 2. Forced into a file: the same records, and the same count once the
# status lines are taken out.
"$scan" --progress --files-from list >forced.out 2>forced.err || true
cmp plain.out forced.out || fail "records differ with --progress"
stripped=$(strip forced.err) || fail "standard error of case 2"
[ "$stripped" = "$(cat plain.err)" ] || fail "--progress into a file: $(printf %q "$stripped")"

# 3. Records and status line on one terminal, names on the command line (so
# their number is known): each record whole, the status line between them.
script -qec "exec '$scan' --json --no-progress \$(cat arguments)" /dev/null </dev/null >plain.tty || true
script -qec "exec '$scan' --json \$(cat arguments)" /dev/null </dev/null >both.tty || true
grep -qa 'Checked [0-9]* of 10000 files' both.tty || fail "no count of the names given on the command line"
stripped=$(strip both.tty) || fail "the terminal of case 3"
[ "$stripped" = "$(cat plain.tty)" ] || fail "a status line inside the records"

# 4. Standard error not a terminal: nothing but the count.
script -qec "'$scan' --files-from list 2>auto.err >/dev/null" /dev/null </dev/null >/dev/null || true
cmp plain.err auto.err || fail "a status line where standard error is no terminal"
# 5. A status line that cannot be written costs the records nothing, and
# the run ends as it would without it.
status=0; "$scan" --no-progress --files-from list >full-plain.out 2>/dev/full || status=$?
forced=0; "$scan" --progress --files-from list >full.out 2>/dev/full || forced=$?
cmp plain.out full.out || fail "records differ when the status line cannot be written"
[ "$status" = "$forced" ] || fail "exit status $forced with the status line to /dev/full, $status without"
echo "PASS"
