#!/usr/bin/env bash
# scripts/conformance-lrs on a made-up suite whose runner checks the real
# zept-lrs-serve the way the suite reaches it (credentials, the about
# resource, the alternate request syntax, HEAD) and writes a log as the
# suite does; then the lines and figure the script makes of it, and its
# clear failures. Needs node; ZEPT_LRS_SERVE names the program.
set -uo pipefail
script=$(cd "$(dirname "$0")/../.." && pwd)/scripts/conformance-lrs
serve=${1:-${ZEPT_LRS_SERVE:-}}
[ -x "$serve" ] || { echo "usage: $0 ZEPT_LRS_SERVE"; exit 2; }
command -v node >/dev/null || { echo "SKIP: no node"; exit 77; }
scratch=$(mktemp -d /tmp/zept-lrs-test-XXXXXX)
trap 'rm -rf "$scratch"' EXIT
failures=0
check() {  # NAME EXPECTED ACTUAL
  if [ "$2" != "$3" ]; then
    echo "FAIL: $1"
    diff <(printf '%s\n' "$2") <(printf '%s\n' "$3") | sed 's/^/  /'
    failures=$((failures + 1))
  fi
}

suite=$scratch/suite
mkdir -p "$suite/bin" "$suite/test/v1_0_3" "$suite/node_modules"
echo '{}' >"$suite/package.json"
cat >"$suite/bin/console_runner.js" <<'EOF'
// Stands in for the suite's runner: the same options, requests over plain
// HTTP, a log of nested tests in logs/.
const http = require('http'), fs = require('fs'), path = require('path');
const arg = (flag) => process.argv[process.argv.indexOf(flag) + 1];
const url = new URL(arg('-e') + '/');
const basic = 'Basic ' + Buffer.from(arg('-u') + ':' + arg('-p')).toString('base64');
const send = (method, where, headers, body) => new Promise((done) => {
  const request = http.request({host: url.hostname, port: url.port,
      path: url.pathname + where, method, headers}, (answer) => {
    let data = '';
    answer.on('data', (chunk) => data += chunk);
    answer.on('end', () => done({status: answer.statusCode,
                                 headers: answer.headers, body: data}));
  });
  request.end(body);
});
const version = {'X-Experience-API-Version': '1.0.3'};
const id = '11111111-1111-4111-8111-111111111111';
const statement = JSON.stringify({actor: {mbox: 'mailto:a@example.org'},
    verb: {id: 'http://example.org/v'}, object: {id: 'http://example.org/a'}});
const checks = [
  ['about without credentials', async () =>
      (await send('GET', 'about', {})).status === 200],
  ['statements need the credentials', async () =>
      (await send('GET', 'statements', {...version,
          Authorization: 'Basic bm86bm8='})).status === 401],
  ['the alternate syntax carries its credentials', async () => {
    const form = new URLSearchParams({Authorization: basic, statementId: id,
        'X-Experience-API-Version': '1.0.3',
        'Content-Type': 'application/json', content: statement}).toString();
    const put = await send('POST', 'statements?method=PUT',
        {'Content-Type': 'application/x-www-form-urlencoded'}, form);
    const get = await send('GET', 'statements?statementId=' + id,
        {...version, Authorization: basic});
    return put.status === 204 && JSON.parse(get.body).id === id;
  }],
  ['HEAD answers without a body', async () => {
    const head = await send('HEAD', 'statements', {...version,
        Authorization: basic});
    return head.status === 200 && head.body === '' &&
        Number(head.headers['content-length']) > 0 &&
        !!head.headers['x-experience-api-consistent-through'] &&
        !!head.headers['date'];
  }],
];
(async () => {
  const tests = [];
  for (const [title, test] of checks) {
    const ok = await test().catch(() => false);
    tests.push({title, status: ok ? 'passed' : 'failed',
                error: ok ? undefined : 'Error: did not hold at (x.js:1:1)'});
  }
  tests.push({title: 'made to fail', status: 'failed',
              error: 'AssertionError: expected 1\n  to equal 2 at (y.js:2:2)'});
  const log = {summary: {total: tests.length + 1, version: '1.0.3'},
               log: {title: '', tests: [{title: 'Made up', tests}]}};
  fs.mkdirSync(path.join(__dirname, '../logs'), {recursive: true});
  fs.writeFileSync(path.join(__dirname, '../logs/run.log'), JSON.stringify(log));
  console.log('Test Suite Complete');
})();
EOF

run() {  # ARGS...: prints the output and then the exit status
  local out status=0
  out=$(ZEPT_LRS_SERVE=$serve "$script" "$@" 2>&1) || status=$?
  printf '%s\nstatus %s\n' "$out" "$status"
}

check "the figure and what failed" "failed: Made up > made to fail: AssertionError: expected 1 to equal 2
4 passed, 2 failed
status 1" "$(run "$suite")"
[ -e "$suite/logs" ] && check "the suite's folder is not written to" "" "logs"

rm -r "$suite/node_modules"
check "dependencies missing" "conformance-lrs: the suite's dependencies are not installed: run npm install in $suite
status 2" "$(run "$suite")"
check "not the suite" "conformance-lrs: $scratch has no package.json: not the LRS conformance suite
status 2" "$(run "$scratch")"

[ "$failures" -eq 0 ] && echo "all passed"
[ "$failures" -eq 0 ]
