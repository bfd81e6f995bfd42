#!/usr/bin/env bash
# Every catalog is complete for what the sources say today, with nothing
# fuzzy and no format that does not match its msgid (msgfmt --check); and
# the zept.pot given to translators holds every text too. FRESH is zept.pot
# as xgettext gives it from the current sources (the build makes it).
set -euo pipefail
po=$1
fresh=$2
fail=0
for lang in $(cat "$po/LINGUAS"); do
  if ! out=$(msgfmt --check -o /dev/null "$po/$lang.po" 2>&1); then
    echo "FAIL: $lang.po does not build: $out" >&2
    fail=1
  fi
  # Untranslated and fuzzy entries count as missing.
  if ! out=$(msgcmp "$po/$lang.po" "$fresh" 2>&1); then
    echo "FAIL: $lang.po lacks texts of the sources:" >&2
    echo "$out" >&2
    fail=1
  fi
  if [ -n "$(msgattrib --only-fuzzy --no-obsolete "$po/$lang.po")" ]; then
    echo "FAIL: $lang.po has fuzzy entries" >&2
    fail=1
  fi
done
if ! out=$(msgcmp --use-untranslated "$po/zept.pot" "$fresh" 2>&1); then
  echo "FAIL: po/zept.pot is behind the sources (ninja zept-pot):" >&2
  echo "$out" >&2
  fail=1
fi
[ "$fail" -eq 0 ] && echo "catalogs complete"
exit "$fail"
