#!/usr/bin/env bash
# Fresh machine to running program: install what is missing, build, start Umbradisc.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
exec build/bin/umbradisc "$@"
