#!/usr/bin/env bash
# Installs what is needed, builds from scratch into build-test/ and runs the whole suite.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
rm -rf build-test
ZEMBRA_BUILD_DIR=build-test scripts/build.sh
cd build-test
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j2
