#!/usr/bin/env bash
# A list of 2,000 awkward names (new lines, tabs, leading dashes, bytes that
# are not UTF-8), split by GNU parallel into 4 parts, each checked by its own
# sondrel-scan --json, as the README's "Past one machine" does across cores:
# every name has exactly one record, and the counts summed with jq equal
# those of one scan of the whole list.
#
#   tests/parallel.sh SONDREL-SCAN SOURCE-DIR
set -euo pipefail
scan=$(realpath "$1")
source=$(realpath "$2")
NEEDED="jq parallel python3" source "$(dirname "$0")/scratch.sh"
fail() { echo "FAIL: $*" >&2; exit 1; }

python3 - "$source/examples/tone.wav" <<'PY'
import os, sys
good = open(sys.argv[1], 'rb').read()
kinds = [good, good[:-100], b'RIFF\x04\0\0\0WAVX']       # exit codes 0, 102, 103
shapes = [b'-dash %d.wav', b'new\nline %d.wav', b'tab\t%d.wav', b'\xff\xfe %d \xe9.wav', b'plain %d.wav']
names = []
for i in range(1999):
    name = b'./d%d/' % (i % 7) + shapes[i % len(shapes)] % i
    os.makedirs(os.path.dirname(name), exist_ok=True)
    open(name, 'wb').write(kinds[i % 3 if i % 11 else 0])
    names.append(name)
names.append(b'./missing\nfile.wav')                      # exit code 101
open('names.lst', 'wb').write(b''.join(n + b'\0' for n in names))
PY

count() { jq -S -n 'reduce inputs.exit as $code ({}; .["\($code)"] += 1)' "$@"; }
parallel --pipe-part -a names.lst --recend '\0' --block -1 -j 4 \
  "$scan" -0 --files-from - --json >records.json 2>parts.err || true
[ "$(grep -c '^Checked' parts.err)" = 4 ] || fail "not 4 parts: $(cat parts.err)"
"$scan" -0 --files-from names.lst --json >one.json 2>/dev/null || true

# One record per name, each on one line, and each name's exact bytes.
[ "$(wc -l <records.json)" = 2000 ] || fail "$(wc -l <records.json) lines for 2,000 names"
python3 - <<'PY' || fail "the names of the records are not those of the list, each once"
import base64, collections, json, sys
names = collections.Counter(open('names.lst', 'rb').read().split(b'\0')[:-1])
seen = collections.Counter()
for line in open('records.json', 'rb'):
    r = json.loads(line)
    seen[base64.b64decode(r['file_base64']) if 'file_base64' in r else r['file'].encode()] += 1
sys.exit(0 if seen == names and max(seen.values()) == 1 else 1)
PY
one=$(count one.json)
parts=$(count records.json)
[ "$one" = "$parts" ] || fail "the parts count $parts, one scan $one"
[ "$(jq '[.[]] | add' <<<"$parts")" = 2000 ] || fail "the counts do not add up to 2,000"
[ "$(jq 'keys | length' <<<"$parts")" = 4 ] || fail "expected four exit codes: $parts"
echo PASS
