#!/usr/bin/env bash
# Times `umbradisc-cli ls -R` against other listers of the same image with hyperfine and prints
# the ratios. Usage: compare-listers.sh [BUILD_BIN_DIR] [IMAGE]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=${1:-$here/../build/bin}
image=${2:-}
if [ -z "$image" ]; then
  image=$(mktemp --suffix=.iso); trap 'rm -f "$image"' EXIT
  "$here/make-large-image.sh" "$image"
fi
echo "image: $image ($(du -h "$image" | cut -f1))"
"$bin/umbradisc-cli" info "$image"
cmds=(
  "$bin/umbradisc-cli ls -R $image"
  "$bin/umbradisc-cli ls -R --json $image"
  "isoinfo -R -l -i $image"
  "xorriso -indev $image -find / -exec lsdl"
  "7z l $image"
  "cat $image"
)
json=$(mktemp); trap 'rm -f "$json" ${image:+}' EXIT
hyperfine --warmup 2 --min-runs 5 --style basic --export-json "$json" --output=null "${cmds[@]}" >&2
python3 - "$json" <<'PY'
import json, sys
r = json.load(open(sys.argv[1]))["results"]
ours = r[0]["mean"]
for x in r:
    print(f"{x['mean']*1000:9.1f} ms  {x['mean']/ours:7.1f} x ours   {x['command'].split()[0].split('/')[-1]} {' '.join(x['command'].split()[1:3])}")
PY
