#!/usr/bin/env bash
# Every font the PDF writer embeds comes from a Debian package that zept's
# package depends on or recommends: the font paths in src/engine/pdf.cpp
# are looked up with dpkg -S and their packages in the generated CPack
# configuration.
set -euo pipefail
source_dir=$1
build=$2
fail() { echo "FAIL: $*" >&2; exit 1; }
config="$build/CPackConfig.cmake"
[ -f "$config" ] || fail "no $config"
declared=$(grep -E 'set\(CPACK_DEBIAN_PACKAGE_(DEPENDS|RECOMMENDS) ' "$config" |
  sed -E 's/.*"(.*)".*/\1/' | tr ',' '\n' | sed -E 's/^ +//; s/ .*//')
fonts=$(grep -oE '"/usr/share/fonts/[^"]+\.ttf"' "$source_dir/src/engine/pdf.cpp" | tr -d '"')
[ -n "$fonts" ] || fail "no font paths in src/engine/pdf.cpp"
for font in $fonts; do
  package=$(dpkg -S "$font" 2>/dev/null | cut -d: -f1) ||
    fail "$font belongs to no installed package (run scripts/bootstrap)"
  grep -qx "$package" <<<"$declared" ||
    fail "$font comes from $package, which the Debian package neither depends on nor recommends"
done
