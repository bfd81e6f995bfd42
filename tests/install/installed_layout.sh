#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks what lands where: the
# programs, only the emulator files the movie page loads, the desktop entry,
# the icons, the manual pages and the catalogs; then that the installed zept
# finds the installed emulator.
set -euo pipefail
build=$1
prefix=$(mktemp -d /tmp/zept-install-XXXXXX)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null

fail() { echo "FAIL: $*" >&2; exit 1; }
cd "$prefix"
for f in bin/zept bin/zept-reg bin/zept-report bin/zept-results bin/zept-sync \
         share/applications/zept.desktop \
         share/icons/hicolor/scalable/apps/zept.svg \
         share/man/man1/zept.1 share/man/man1/zept-reg.1 share/man/man1/zept-report.1 \
         share/man/man1/zept-results.1 share/man/man1/zept-sync.1 \
         share/zept/ruffle/ruffle.js share/zept/ruffle/LICENSE_APACHE share/zept/ruffle/LICENSE_MIT \
         lib/zept/web-extensions/libzept-media.so \
         share/locale/fr/LC_MESSAGES/zept.mo share/locale/de/LC_MESSAGES/zept.mo \
         share/locale/es/LC_MESSAGES/zept.mo; do
  [ -f "$f" ] || fail "$f is not installed"
done
for f in bin/zept bin/zept-reg bin/zept-report bin/zept-results bin/zept-sync; do
  [ -x "$f" ] || fail "$f is not executable"
done
ls share/zept/ruffle/core.ruffle.*.js >/dev/null 2>&1 || fail "no core.ruffle.*.js"
ls share/zept/ruffle/*.wasm >/dev/null 2>&1 || fail "no wasm"
while read -r f; do
  case "$f" in
    bin/zept | bin/zept-reg | bin/zept-report | bin/zept-results | bin/zept-sync) ;;
    share/applications/zept.desktop) ;;
    share/icons/hicolor/scalable/apps/zept.svg | share/icons/hicolor/48x48/apps/zept.png) ;;
    share/man/man1/zept.1 | share/man/man1/zept-reg.1 | share/man/man1/zept-report.1) ;;
    share/man/man1/zept-results.1 | share/man/man1/zept-sync.1) ;;
    share/zept/ruffle/ruffle.js | share/zept/ruffle/core.ruffle.*.js) ;;
    share/zept/ruffle/*.wasm | share/zept/ruffle/LICENSE_*) ;;
    lib/zept/web-extensions/libzept-media.so) ;;
    share/locale/*/LC_MESSAGES/zept.mo) ;;
    *) fail "$f should not be installed" ;;
  esac
done < <(find . -type f -printf '%P\n')

# The emulator is looked for before the display is opened: with a display
# that cannot be reached, the installed zept gets past it only when it found
# share/zept/ruffle.
course=$(mktemp -d /tmp/zept-install-course-XXXXXX)
trap 'rm -rf "$prefix" "$course"' EXIT
set +e
out=$(env -u ZEPT_RUFFLE_DIR -u WAYLAND_DISPLAY DISPLAY=:bogus \
      bin/zept --program-folder "$course" 2>&1)
status=$?
set -e
[ "$status" -ne 0 ] || fail "zept ended with status 0: $out"
grep -qE "^zept: cannot open the display(: .+)?; run with --headless$" <<<"$out" ||
  fail "the installed zept did not find its emulator: $out"
echo "installed layout ok"
