#!/usr/bin/env bash
# Builds Setwise, copies the demo installation into a scratch folder (the
# repository stays clean) and runs a short session on it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset default > /dev/null
cmake --build --preset default --target Setwise

scratch=$(mktemp -d /tmp/setwise-demo.XXXXXX)
cp -r examples/demo-install "$scratch/inst"
cp build/default/tool/Setwise "$scratch/inst/Setwise"
# The user's own settings of the demo go to a scratch home too.
export HOME="$scratch/home"
unset XDG_CONFIG_HOME TALVEN_DEBUG_LEVEL TALVEN_DEBUG_FILE TALVEN_FORCE_REGISTRY_WRITES

run() {
  echo "\$ Setwise $*"
  local status=0
  "$scratch/inst/Setwise" "$@" || status=$?
  echo "(exit status $status)"
  echo
}

echo "Demo installation: $scratch/inst"
echo
run -GetKeys -ProductName Meridian
run -Get -ProductName Meridian -RegistryKey Desktop/Theme
run -Set -ProductName Meridian -RegistryKey Desktop/Theme -RegistryValue dark
run -Get -ProductName Meridian -RegistryKey Desktop/Theme
run -Delete -ProductName Meridian -RegistryKey Desktop/Theme
run -Get -ProductName Meridian -RegistryKey Desktop/Theme

# The scripting interface: a settings document tried, applied, and read back.
cat > "$scratch/settings.xml" <<'XML'
<key name="Meridian">
  <key name="Desktop">
    <value name="Theme" type="string">dark</value>
    <value name="FontSize" type="int">12</value>
  </key>
</key>
XML
run -Import "$scratch/settings.xml" -ProductName Meridian -RegistryLevel install -DryRun
run -Import "$scratch/settings.xml" -ProductName Meridian -RegistryLevel install
run -Get -ProductName Meridian -RegistryKey Desktop/Theme -AllLevels
run -Get -ProductName Meridian -RegistryKey Desktop/FontSize -Json
run -Export Desktop -ProductName Meridian
run -Check -ProductName Meridian
