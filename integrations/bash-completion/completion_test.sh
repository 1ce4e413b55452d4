#!/usr/bin/env bash
# Drives the completion function as bash would (COMP_LINE, COMP_POINT,
# COMPREPLY) against a copy of the demo installation.
# Usage: completion_test.sh SETWISE_BINARY SOURCE_DIR
set -uo pipefail
binary=$1 source=$2
scratch=$(mktemp -d /tmp/setwise-completion.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
cp -r "$source/examples/demo-install" "$scratch/inst"
cp "$binary" "$scratch/inst/Setwise"
touch "$scratch/settings-a.xml" "$scratch/settings-b.xml"
export HOME=$scratch/home
# shellcheck source=/dev/null
source "$source/integrations/bash-completion/Setwise"

failures=0
# expect "<expected replies, sorted, blank-separated>" word...: completes the
# last word, or with CWORD set the word at that index, the words typed as
# given and joined by blanks; the cursor ends the word, or stands BACK
# characters before its end.
expect() {
  local expected=$1 cword
  shift
  cword=${CWORD:-$(($# - 1))}
  COMP_LINE="$*"
  COMP_POINT=$(($(printf '%s ' "${@:1:cword + 1}" | wc -c) - 1 - ${BACK:-0}))
  COMPREPLY=()
  _setwise
  local got
  got=$(printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort | paste -sd ' ')
  if [[ $got != "$expected" ]]; then
    echo "FAILED: $COMP_LINE: expected <$expected>, got <$got>"
    failures=$((failures + 1))
  fi
}

S=$scratch/inst/Setwise
CWORD=1 expect "-getkeys" "$S" -getk -ProductName Meridian
expect "-get -getkeys" "$S" -get
expect "/GETKEYS" "$S" /GETK
expect "/GetKeys" "$S" /GetK
expect "-RegistryKey -RegistryLevel -RegistryValue" "$S" -Registry
expect "-import" "$S" -i
expect "" "$S" -Nothing
expect "install install_machine" "$S" -Get -RegistryLevel inst
expect "USER USER_MACHINE" "$S" /get /registrylevel USER
expect "2 4" "$S" -Set -ValueType ""
expect "Meridian MeridianViewer" "$S" -Get -ProductName Mer
expect "meridian meridianViewer" "$S" -Get -ProductName meridian
expect "Desktop/Options Desktop/Options/" "$S" -Get -ProductName Meridian -RegistryKey Desktop/Op
CWORD=3 expect "desktop/options/autosave desktop/options/autosaveMinutes" \
  "$S" -Get -RegistryKey desktop/options/auto -ProductName Meridian
expect "licensing licensing/" "$S" -Get -ProductName Meridian -RegistryKey lic
expect "" "$S" -Get -RegistryKey Desktop
expect "" "$S" -Set -RegistryValue -
expect "$scratch/settings-a.xml $scratch/settings-b.xml" "$S" -Import "$scratch/settings-"
# Found through PATH, as an installed binary is.
PATH=$scratch/inst:$PATH expect "Desktop/Theme" Setwise -ProductName Meridian -RegistryKey Desktop/The
HOME=$scratch expect "Desktop/Theme" '~/inst/Setwise' -ProductName Meridian -RegistryKey Desktop/The
# Names are offered whole, never matched against the files of the current
# folder; an unknown product offers nothing; nothing is created on the disk.
syntax=$scratch/inst/config/CoreRegistrySyntax.XML
sed -i 's|^</key>$|  <key name="Odd"><value name="Star*" type="string"/><value name="Colour: Main" type="string"/><value name="Say \&quot;hi\&quot;" type="string"/><value name="it\&apos;s" type="string"/><value name="Bang!x" type="string"/></key>\n</key>|' "$syntax"
printf 'Odd*\n' >> "$scratch/inst/config/ProductList.txt"
mkdir -p "$scratch/Odd" && touch "$scratch/Odd/Star1" "$scratch/Odd/Star2" "$scratch/OddA"
cd "$scratch" || exit 1
# Offered quoted as the word was begun, so that the shell passes them whole.
expect "Odd/Bang\\!x Odd/Colour:\\ Main Odd/Say\\ \\\"hi\\\" Odd/Star\\* Odd/it\\'s" \
  "$S" -Get -ProductName Meridian -RegistryKey Odd/
# Readline replaces what follows the ':' (a word break) alone.
expect '\ Main' "$S" -Get -ProductName Meridian -RegistryKey 'Odd/Colour:\ M'
expect 'Odd/Colour: Main' "$S" -Get -ProductName Meridian -RegistryKey '"Odd/Col'
expect 'Odd/Say \"hi\""' "$S" -Get -ProductName Meridian -RegistryKey '"Odd/Say \"'
expect 'Odd/Bang"\!"x' "$S" -Get -ProductName Meridian -RegistryKey '"Odd/Ba'
expect "Odd/it'\\''s" "$S" -Get -ProductName Meridian -RegistryKey "'Odd/it"
CWORD=3 BACK=1 expect 'Odd/Colour: Main' "$S" -Get -RegistryKey '"Odd/Colou"' -ProductName Meridian
expect 'Desktop/Theme' "'$S'" -ProductName Meridian -RegistryKey Desktop/The
expect 'Desktop/Theme' "$S" -ProductName '"Meridian"' -RegistryKey Desktop/The
expect 'Desktop/Theme' "$S" -ProductName Meridian -RegistryKey '"Desktop"/The'
expect '-ProductName' "$S" -P
# A completion step that ends false leaves a shell under set -e running.
survived=$(set -e; COMP_LINE="$S -ProductName Meridian -RegistryKey Desktop/The"
  COMP_POINT=${#COMP_LINE}; _setwise; echo yes)
if [[ $survived != yes ]]; then
  echo "FAILED: a completion ended a shell under set -e"
  failures=$((failures + 1))
fi
expect 'Colour: Main' "$S" -ProductName Meridian -RegistryKey 'Odd/"Col'
expect 'odd/star*' "$S" -Get -ProductName Meridian -RegistryKey "'odd/st"
expect 'Odd\*' "$S" -Get -ProductName Od
expect "" "$S" -Get -ProductName Bogus -RegistryKey ""
if [[ -e $HOME/Documents ]]; then
  echo "FAILED: completing a key path created $HOME/Documents"
  failures=$((failures + 1))
fi

if ((failures > 0)); then
  echo "$failures completion case(s) failed"
  exit 1
fi
echo "all completion cases passed"
