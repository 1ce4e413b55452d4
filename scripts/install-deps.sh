#!/usr/bin/env bash
# Installs the Debian packages the build needs, only when they are missing.
set -euo pipefail
needed=()
for pkg in libpugixml-dev libxxhash-dev nlohmann-json3-dev ninja-build cmake g++ libgtest-dev clang ansible-core; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || needed+=("$pkg")
done
if [ "${#needed[@]}" -gt 0 ]; then
  apt-get update -qq
  # Recommends would add, among others, every Ansible collection (hundreds of MiB).
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${needed[@]}"
fi
