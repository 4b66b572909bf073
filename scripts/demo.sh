#!/usr/bin/env bash
# On a fresh machine: installs what the demo needs, builds hvcfg and runs its tour.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh demo
cmake --workflow --preset demo
