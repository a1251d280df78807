#!/usr/bin/env bash
# Runs the README's examples as a reader would, top to bottom in one shell,
# on a tree of awkward names: new lines, tabs, leading dashes, blanks,
# backslashes, quotes and bytes that are not UTF-8, some usable and some not.
#
#   tests/readme.sh BUILD-DIR SOURCE-DIR
#
# A block fenced ```sh runs, but for the first two, the set-up commands
# (they install, build and run every test: CI runs them its own way); one
# fenced ```shell (a build, other machines) does not. A plain ``` block whose lines begin "$ " is a
# transcript: each command runs and must print the lines that follow it.
# Then the recipes' results are checked: every name has its record, the lists
# of names that are not usable hold exactly those names, byte for byte, and
# the counts agree however they were made.
set -euo pipefail
build=$(realpath "$1")
source=$(realpath "$2")
NEEDED="jq parallel python3" source "$(dirname "$0")/scratch.sh"
ln -s "$build" build
cp -r "$source/examples" examples

# The tree: under good/ files that are usable, under bad/ and bad2/ files
# that are not (two of them with one base name, for the move aside).
python3 - "$source/examples/tone.wav" <<'PY'
import os, sys
good = open(sys.argv[1], 'rb').read()
cut = good[:-100]
not_wave = b'RIFF\x04\0\0\0WAVX'
files = {
    b'good/new\nline.wav': good, b'good/tab\there.wav': good, b'-dash.wav': good,
    b'sub dir/ two  blanks .wav': good, b'good/\xc3\xa9t\xc3\xa9.wav': good,
    b'bad/\xff\xfe latin \xe9.wav': cut, b'bad/new\nline.wav': cut, b'bad/-dash\ttab.wav': not_wave,
    b'bad2/\xff\xfe latin \xe9.wav': not_wave, b'bad/back\\slash "quote".wav': cut,
}
for name, data in files.items():
    os.makedirs(os.path.dirname(name) or b'.', exist_ok=True)
    open(name, 'wb').write(data)
open('expected-unusable.lst', 'wb').write(
    b''.join(b'./' + n + b'\0' for n in sorted(n for n in files if n.startswith(b'bad'))))
PY

# The README's blocks: the ```sh ones as one script, each block's streams
# into files of its own; the transcripts as pairs of command and output.
python3 - "$source/README.md" <<'PY'
import re, sys
text = open(sys.argv[1]).read()
blocks = re.findall(r'^```(\w*)\n(.*?)^```$', text, re.S | re.M)
script, transcripts = [], []
setup = 2  # the two set-up commands come first
for info, body in blocks:
    if info == 'sh' and setup > 0:
        setup -= 1
    elif info == 'sh':
        n = len(script)
        open(f'block{n}.sh', 'w').write(body)
        script.append(f'{{\n{body}}} >block{n}.out 2>block{n}.err\n')
    elif info == '' and body.startswith('$ '):
        for part in re.split(r'^\$ ', body, flags=re.M)[1:]:
            command, _, output = part.partition('\n')
            transcripts.append((command, output))
open('blocks.sh', 'w').write(''.join(script))
open('blocks.count', 'w').write(str(len(script)))
for i, (command, output) in enumerate(transcripts):
    open(f'transcript{i}.cmd', 'w').write(command)
    open(f'transcript{i}.expected', 'w').write(output)
PY
fail() { echo "FAIL: $*" >&2; exit 1; }
[ "$(cat blocks.count)" -ge 8 ] || fail "too few sh blocks found in the README"

# What a terminal shows, without the CR at each line end.
for cmd in transcript*.cmd; do
  t=${cmd%.cmd}
  SONDREL_ENCODING=utf-8 bash -c "$(cat "$cmd")" >"$t.out" 2>&1 </dev/null || true
  cmp -s "$t.out" "$t.expected" || fail "\$ $(cat "$cmd"): $(diff "$t.expected" "$t.out")"
done

tree=$(find . -name '*.wav' -printf . | wc -c)
env -u SONDREL_ENCODING PATH="$PATH" bash blocks.sh </dev/null || true

# Nothing on standard error but sondrel-scan's closing counts.
for err in block[0-9]*.err; do
  if grep -qv '^Checked [0-9]* files\?:' "$err"; then fail "${err%.err}.sh wrote to standard error: $(cat "$err")"; fi
done
# The block that prints a given command's output.
output_of() { grep -l -- "$1" block[0-9]*.sh | sort -V | sed 's/\.sh$/.out/'; }

# Every name of the last list has exactly one record, on one line.
names=$(tr -cd '\0' <names.lst | wc -c)
[ "$(jq -s length records.json)" = "$names" ] || fail "records.json: $(jq -s length records.json) records for $names names"
[ "$(wc -l <records.json)" = "$names" ] || fail "records.json: a record spread over more than one line"
[ "$(jq -r '.file_base64 // (.file | @base64)' records.json | sort)" = \
  "$(python3 -c 'import base64, sys; [print(base64.b64encode(n).decode()) for n in open("names.lst", "rb").read().split(b"\0")[:-1]]' | sort)" ] ||
  fail "the records' names are not the list's, byte for byte"

sorted() { sort -z "$1" | cmp -s - expected-unusable.lst; }
sorted unusable.lst || fail "unusable.lst is not exactly the names of the files not usable"
sorted unusable-each.lst || fail "unusable-each.lst is not exactly the names of the files not usable"
unusable=$(tr -cd '\0' <expected-unusable.lst | wc -c)
[ "$(find damaged -type f -printf . | wc -c)" = "$unusable" ] || fail "damaged/ does not hold every file not usable"
[ "$(find bad bad2 -type f -printf . | wc -c)" = 0 ] || fail "a file not usable was not moved"

# The list with reasons: one line a file not usable.
[ "$(wc -l <"$(output_of '@json')")" = "$unusable" ] || fail "the reasons: not one line a file"
[ "$(wc -l <"$(output_of "printf '%q")")" = "$unusable" ] || fail "the quoted names: not one line a file"
# Files per exit code: the first count covers the whole tree; the parts
# across cores sum to what one scan of their list gives.
counts=$(output_of 'reduce inputs.exit')
[ "$(echo "$counts" | wc -l)" = 2 ] || fail "expected two blocks counting exit codes"
first=$(jq -S . $(echo "$counts" | head -n 1))
[ "$(jq '[.[]] | add' <<<"$first")" = "$tree" ] || fail "the first count does not add up to the $tree files: $first"
parts=$(jq -S . $(echo "$counts" | tail -n 1))
one=$({ build/sondrel-scan -0 --files-from names.lst --json 2>/dev/null || true; } | jq -S -n 'reduce inputs.exit as $code ({}; .["\($code)"] += 1)')
[ "$one" = "$parts" ] || fail "counts of the parts differ from one scan's: $parts against $one"
echo PASS
