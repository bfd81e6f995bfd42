#!/usr/bin/env bash
# scripts/conformance-cmi5 on a made-up suite folder, with npm, npx and zept
# stood in for by small scripts: the verdicts it prints for every way zept
# --check can answer, the library built once and kept, and the clear
# failures (no npm, a build that fails, not the suite's folder).
set -uo pipefail
script=$(cd "$(dirname "$0")/../.." && pwd)/scripts/conformance-cmi5
scratch=$(mktemp -d /tmp/zept-cmi5-test-XXXXXX)
trap 'rm -rf "$scratch"' EXIT
failures=0
check() {  # NAME EXPECTED ACTUAL
  if [ "$2" != "$3" ]; then
    echo "FAIL: $1"
    diff <(printf '%s\n' "$2") <(printf '%s\n' "$3") | sed 's/^/  /'
    failures=$((failures + 1))
  fi
}

# The suite's shape: tables of ["FILE", "REQUIREMENT"] rows, each followed
# by its title; runtime packages named as strings in runtime.js.
lts=$scratch/lts
mkdir -p "$lts/__tests__" "$lts/pkg/src"
echo '{}' >"$lts/package.json"
echo '{}' >"$lts/package-lock.json"
: >"$lts/pkg/webpack.config.js"
for f in 101-good.xml 102-good.zip 201-bad.xml 202-taken.xml 203-crash.zip; do
  : >"$lts/pkg/src/$f"
done
cat >"$lts/__tests__/package.js" <<'EOF'
describe.each(
    [
        ["101-good.xml", "6.1.0.0-2"],
        ["102-good.zip", "14.0.0.0-1"]
    ]
)(
    "Valid package is imported, Test package: %s (%s)",
    () => {}
);
describe.each(
    [
        ["201-bad.xml", "3.0.0.0-1"],
        ["202-taken.xml", "14.2.0.0-1"],
        ["203-crash.zip", "14.1.0.0-4", {contentType: "application/zip"}],
        ["204-unbuilt.xml", "8.1.0.0-6"]
    ]
)(
    "Invalid package is rejected, Test package: %s (%s)",
    () => {}
);
EOF
cat >"$lts/__tests__/runtime.js" <<'EOF'
importAndRunAU("001-essentials.zip", 0);
importPkg("009-1-waived.zip");
importAndRunAU("010-later.zip", 0);
EOF

# npm ci and webpack as far as the script can tell: each call logged, dist/
# holding a copy of every source file.
stubs=$scratch/stubs
mkdir -p "$stubs"
cat >"$stubs/npm" <<EOF
#!/bin/sh
echo "npm \$*" >>"$scratch/calls"
mkdir -p node_modules
EOF
cat >"$stubs/npx" <<EOF
#!/bin/sh
echo "npx \$* (NODE_OPTIONS=\$NODE_OPTIONS)" >>"$scratch/calls"
[ -e "$scratch/break-build" ] && { echo "webpack: broken on purpose"; exit 1; }
mkdir -p dist && cp src/* dist/
EOF
# A Node.js on OpenSSL 3; as the runtime runner, each run it is given
# passes but 002, and the runs are logged.
cat >"$stubs/node" <<EOF
#!/bin/sh
case "\$1" in
  *conformance-cmi5-runtime.js)
    shift 5
    echo "runtime \$*" >>"$scratch/calls"
    for run in "\$@"; do
      case "\$run" in
        002-*) echo "\$run: failed: 9.3.0.0-9: [2] is not experienced" ;;
        *) echo "\$run: passed" ;;
      esac
    done
    [ -e "$scratch/break-runner" ] && exit 2
    exit 0 ;;
esac
echo 3
EOF
printf '#!/bin/sh\nexit 0\n' >"$stubs/zept-sync"
# zept --check answering by the package's number.
cat >"$stubs/zept" <<'EOF'
#!/bin/sh
[ "$1" = --check ] || exit 2
case "$(basename "$2")" in
  101-*) echo "cmi5: 1 AU"; exit 0 ;;
  102-*) echo "zept: 102-good.zip: not a zip archive" >&2; exit 1 ;;
  201-*) echo "zept: 201-bad.xml: course id is not an IRI" >&2; exit 1 ;;
  202-*) exit 0 ;;
  203-*) kill -SEGV $$ ;;
esac
EOF
chmod +x "$stubs"/*

run() {  # ARGS...: prints the output and then the exit status
  local out status=0
  out=$(PATH=$stubs:$PATH ZEPT=$stubs/zept ZEPT_LTS_BUILD=$scratch/build \
        ZEPT_LRS_DEPS=$scratch DISPLAY=:99 "$script" "$@" 2>&1) || status=$?
  printf '%s\nstatus %s\n' "$out" "$status"
}

check "every verdict" "conformance-cmi5: building the suite's packages in $scratch/build
101-good.xml: passed
102-good.zip: failed: refused (zept: 102-good.zip: not a zip archive); the suite expects it accepted (14.0.0.0-1)
201-bad.xml: passed
202-taken.xml: failed: accepted; the suite expects it refused (14.2.0.0-1)
203-crash.zip: failed: zept --check ended with status 139
204-unbuilt.xml: failed: not built ($scratch/build/lts/pkg/dist/204-unbuilt.xml)
010-later.zip: failed: unknown to this harness
001-essentials.zip: passed
002-allowed.zip: failed: 9.3.0.0-9: [2] is not experienced
003-launchMethod-OwnWindow.zip: passed
004-1-moveOn-Completed.zip: passed
004-2-moveOn-CompletedOrPassed.zip: passed
004-3-moveOn-Passed.zip: passed
004-4-moveOn-CompletedOrPassed.zip: passed
004-5-moveOn-NotApplicable.zip: passed
005-1-invalid-au.zip: passed
005-2-invalid-au.zip: passed
006-launchMode.zip@browse: passed
006-launchMode.zip@review: passed
007-1-multi-session.zip@twice: passed
007-2-multi-session.zip@twice: passed
008-1-abandoned.zip: passed
009-1-waived.zip: skipped: zept does not waive AUs (administrative)
16 passed, 6 failed
status 1" "$(run "$lts")"
check "built without install scripts" "npm ci --ignore-scripts --no-audit --no-fund --loglevel=error
npx --no-install webpack (NODE_OPTIONS=--openssl-legacy-provider)" "$(head -n 2 "$scratch/calls")"

check "a filter, the library kept" "201-bad.xml: passed
1 passed, 0 failed
status 0" "$(run "$lts" 201)"
check "no second build" 3 "$(wc -l <"$scratch/calls")"

# The runtime runs chosen by a filter, the runner's failure said.
check "runtime runs filtered" "006-launchMode.zip@browse: passed
006-launchMode.zip@review: passed
007-1-multi-session.zip@twice: passed
3 passed, 0 failed
status 0" "$(run "$lts" 006 007-1)"
check "the runs the runner was given" "runtime 006-launchMode.zip@browse 006-launchMode.zip@review 007-1-multi-session.zip@twice" "$(tail -n 1 "$scratch/calls")"
touch "$scratch/break-runner"
check "a runner that fails" "008-1-abandoned.zip: passed
conformance-cmi5: the runtime packages could not be run (status 2)
status 2" "$(run "$lts" 008)"
rm "$scratch/break-runner"

check "verbose shows zept's words" "201-bad.xml: passed
  | zept: 201-bad.xml: course id is not an IRI
1 passed, 0 failed
status 0" "$(run --verbose "$lts" 201)"

# A changed suite is built again; a build that fails says so and keeps
# nothing that a later run would take for built.
echo changed >"$lts/pkg/src/201-bad.xml"
touch "$scratch/break-build"
out=$(run "$lts" 201)
check "a failing build" "status 2" "$(tail -n 1 <<<"$out")"
grep -q "did not build" <<<"$out" || check "a failing build says so" "did not build" "$out"
rm "$scratch/break-build"
check "built again after the failure" "1 passed, 0 failed" "$(run "$lts" 201 | grep passed,)"

# Without npm on the PATH (a PATH of everything else this machine has).
nonpm=$scratch/nonpm
mkdir -p "$nonpm"
for dir in /usr/local/bin /usr/bin /bin; do
  [ -d "$dir" ] && cp -sn "$dir"/* "$nonpm/" 2>/dev/null
done
rm -f "$nonpm/npm" "$nonpm/npx"
out=$(PATH=$nonpm ZEPT=$stubs/zept ZEPT_LTS_BUILD=$scratch/build2 \
      "$script" "$lts" 2>&1; echo "status $?")
check "no npm" "conformance-cmi5: building the suite's packages needs node and npm (Debian package npm; scripts/bootstrap installs it)
status 2" "$out"

check "not the suite's folder" "conformance-cmi5: $scratch/stubs has no package.json: not the suite's lts/ folder
status 2" "$(run "$stubs")"

[ "$failures" -eq 0 ] && echo "conformance-cmi5: all checks passed"
exit $((failures > 0))
