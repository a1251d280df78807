# What the shell tests share, sourced after `set -euo pipefail`: the tools
# named in NEEDED (none when unset) checked first, then a scratch folder that
# goes when the test ends, made the current one.
for tool in ${NEEDED-}; do
  command -v "$tool" >/dev/null || { echo "$tool is needed (apt-get install jq parallel)" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
