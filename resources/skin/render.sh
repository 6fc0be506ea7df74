#!/usr/bin/env bash
# Renders the skin bitmaps from their SVG drawings. The PNGs are committed, so the program's build
# never needs this; run it after changing body.svg or banner.svg and commit the new PNGs.
# Needs only the Qt 6 development packages the project already installs (qt6-base-dev, qt6-svg-dev).
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
work="${TMPDIR:-/tmp}/umbradisc-svg2png"
cmake -S "$here/svg2png" -B "$work" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$work" >/dev/null
export QT_QPA_PLATFORM=offscreen
"$work/svg2png" "$here/body.svg" "$here/body.png" 224 114
"$work/svg2png" "$here/banner.svg" "$here/banner.png" 760 92
echo "rendered $here/body.png (224 x 114) and $here/banner.png (760 x 92)"
