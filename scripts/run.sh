#!/usr/bin/env bash
# Installs what is needed, builds, and runs the main job on its built-in default.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
build/cli/zembra-cli --version
build/cli/zembra-cli --help
