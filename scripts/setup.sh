#!/usr/bin/env bash
# Installs the Debian packages the project builds and tests with (Debian 12, as root).
# Skips apt entirely when everything is already present.
set -euo pipefail
packages=(g++ cmake ninja-build pkg-config liblzo2-dev libgtest-dev googletest
          qt6-base-dev qt6-translations-l10n fonts-nanum libsqlite3-dev nettle-dev
          nlohmann-json3-dev help2man dpkg-dev file dbus-daemon dbus-bin lintian libpq-dev
          postgresql)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update
    apt-get install -y --no-install-recommends "${missing[@]}"
fi
