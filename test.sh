#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test under Wine.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
source scripts/common.sh
kes_build
kes_prefix
trap kes_stop EXIT
kes_display
ctest --test-dir "$KES_BUILD" --output-on-failure "$@"
