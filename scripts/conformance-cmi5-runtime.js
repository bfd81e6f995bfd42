#!/usr/bin/env node
// The runtime half of scripts/conformance-cmi5: plays each runtime package
// of ADL's cmi5 suite in zept's window (under the display it is given),
// reads the AU's result through zept's test channel, forwards the
// statements with zept-sync to the tests' LRS and checks them there by
// index, as the suite's runtime.js does. One line per run:
// `NAME: passed` or `NAME: failed: WHY`. See docs/conformance-cmi5.md.
//
//   conformance-cmi5-runtime.js ROOT ZEPT ZEPT_SYNC DIST RUN...
//
// RUN: a package's file name, with `@browse` or `@review` for a launch
// mode, `@twice` for two sessions on one registration.
'use strict';
const fs = require('fs');
const net = require('net');
const os = require('os');
const path = require('path');
const http = require('http');
const {spawn, spawnSync} = require('child_process');

const [root, zept, zeptSync, dist, ...runs] = process.argv.slice(2);
const HOME_PAGE = 'https://w3id.org/xapi/cmi5/catapult/lts';
const PUBLISHER = HOME_PAGE;
const CMI5 = 'https://w3id.org/xapi/cmi5/context/categories/cmi5';
const EXT = 'https://w3id.org/xapi/cmi5/context/extensions/';
const VERB = {
  launched: 'http://adlnet.gov/expapi/verbs/launched',
  experienced: 'http://adlnet.gov/expapi/verbs/experienced',
  satisfied: 'https://w3id.org/xapi/adl/verbs/satisfied',
  abandoned: 'https://w3id.org/xapi/adl/verbs/abandoned',
};
const RESULT_MS = 30000;  // for the AU's result, from zept's start
const END_MS = 10000;     // for the session's end once the result shows

const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'zept-cmi5-run-'));
const cleanups = [() => fs.rmSync(scratch, {recursive: true, force: true})];
process.on('exit', () => { for (const c of cleanups.reverse()) c(); });
for (const sig of ['SIGINT', 'SIGTERM']) process.on(sig, () => process.exit(2));

const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

// --- The tests' LRS -------------------------------------------------------
async function startLrs() {
  const portFile = path.join(scratch, 'lrs.port');
  const key = 'conformance', secret = 'cmi5-' + process.pid;
  const lrs = spawn(path.join(root, 'tests/lrs/start-lrs'),
                    ['--port', '0', '--key', key, '--secret', secret,
                     '--port-file', portFile],
                    {stdio: ['ignore', 'inherit', 'inherit']});
  cleanups.push(() => lrs.kill());
  for (let i = 0; i < 300 && !fs.existsSync(portFile); i++) {
    if (lrs.exitCode !== null) break;
    await sleep(100);
  }
  const port = fs.existsSync(portFile) &&
      fs.readFileSync(portFile, 'utf8').trim();
  if (!port) throw new Error('the tests\' LRS did not start (tests/lrs)');
  return {endpoint: `http://127.0.0.1:${port}/xAPI/`, key, secret};
}

function lrsGet(lrs, url) {
  return new Promise((resolve, reject) => {
    const auth = Buffer.from(lrs.key + ':' + lrs.secret).toString('base64');
    http.get(url, {headers: {Authorization: 'Basic ' + auth,
                             'X-Experience-API-Version': '1.0.3'}}, (res) => {
      let body = '';
      res.setEncoding('utf8');
      res.on('data', (d) => body += d);
      res.on('end', () => res.statusCode === 200 ?
          resolve(JSON.parse(body)) :
          reject(new Error(`the LRS answered ${res.statusCode}: ${body}`)));
    }).on('error', reject);
  });
}

// The registration's statements, oldest stored first, as the suite reads them.
async function statementsOf(lrs, registration) {
  const out = [];
  let url = lrs.endpoint + 'statements?registration=' +
      encodeURIComponent(registration) + '&ascending=true';
  while (url) {
    const page = await lrsGet(lrs, url);
    out.push(...page.statements);
    url = page.more ? new URL(page.more, lrs.endpoint).href : '';
  }
  return out;
}

// --- zept with its test channel -------------------------------------------
function decodeLine(line) {
  const fields = [''];
  for (let i = 0; i < line.length; i++) {
    const c = line[i];
    if (c === '\t') {
      fields.push('');
    } else if (c === '\\' && i + 1 < line.length) {
      const e = line[++i];
      fields[fields.length - 1] += e === 't' ? '\t' : e === 'n' ? '\n' : e;
    } else {
      fields[fields.length - 1] += c;
    }
  }
  return fields;
}
const encodeLine = (fields) => fields.map((f) => f.replace(/\\/g, '\\\\')
    .replace(/\t/g, '\\t').replace(/\n/g, '\\n')).join('\t') + '\n';

// One start of zept on the package, until it has closed: the AU's result
// and how its session ended. home is kept between the sessions of 007.
async function playOnce({file, home, conf, auId, mode}) {
  const socket = path.join(home, 'channel');
  fs.rmSync(socket, {force: true});
  const seen = {result: null, ended: '', abandonButton: null, log: []};
  let conn = null;
  const waiters = [];
  const notify = () => { for (const w of waiters.splice(0)) w(); };
  const server = net.createServer((c) => {
    conn = c;
    let buffer = '';
    c.setEncoding('utf8');
    c.on('data', (d) => {
      buffer += d;
      for (let end; (end = buffer.indexOf('\n')) >= 0;) {
        const fields = decodeLine(buffer.slice(0, end));
        buffer = buffer.slice(end + 1);
        seen.log.push(fields[0] + (fields[1] ? ' ' + fields[1] : ''));
        if (fields[0] === 'sco' && fields[1] === 'au-result') {
          if (!seen.result) seen.result = fields[2] || '';
          c.write(encodeLine(['sco', '[]']));
        } else if (fields[0] === 'sco' && fields[1] === 'au-abandon') {
          seen.abandonButton = fields[2] || '';
        } else if (fields[0] === 'session-ended') {
          seen.ended = fields[1];
        }
        notify();
      }
    });
    c.on('error', () => {});
  });
  await new Promise((r) => server.listen(socket, r));
  const until = async (test, ms) => {
    const end = Date.now() + ms;
    while (!test() && Date.now() < end && !exited) {
      await new Promise((r) => { waiters.push(r); setTimeout(r, 200); });
    }
    return test();
  };
  const args = ['--lrs', conf, '--learner', file, '--item', auId];
  if (mode) args.push('--mode', mode);
  args.push(path.join(dist, file));
  let exited = false, stderr = '';
  const child = spawn(zept, args, {
    env: envFor(home, {ZEPT_TEST_CHANNEL: socket}),
    stdio: ['ignore', 'ignore', 'pipe']});
  child.stderr.on('data', (d) => stderr += d);
  const gone = new Promise((r) => child.on('exit', (code) => {
    exited = true; notify(); r(code);
  }));
  try {
    // 008: the LMS abandons the session while the AU's page stays, then the
    // learner clicks the AU's button.
    await until(() => seen.result !== null || seen.abandonButton !== null,
                RESULT_MS);
    if (seen.result === null && seen.abandonButton !== null && conn) {
      conn.write(encodeLine(['abandon']));
      await until(() => seen.ended, END_MS);
      conn.write(encodeLine(['sco', '["click"]']));
      await until(() => seen.result !== null, RESULT_MS);
    }
    if (seen.result !== null) await until(() => seen.ended, END_MS);
    if (conn) conn.write(encodeLine(['quit']));
    const timer = setTimeout(() => child.kill(), 20000);
    const code = await gone;
    clearTimeout(timer);
    seen.code = code;
    seen.stderr = stderr;
  } finally {
    if (!exited) child.kill('SIGKILL');
    server.close();
  }
  return seen;
}

function envFor(home, extra) {
  const env = Object.assign({}, process.env, {
    HOME: home, XDG_DATA_HOME: path.join(home, 'data'),
    XDG_CONFIG_HOME: path.join(home, 'config'),
    XDG_CACHE_HOME: path.join(home, 'cache'),
    XDG_STATE_HOME: path.join(home, 'state')}, extra || {});
  if (!extra) delete env.ZEPT_TEST_CHANNEL;
  return env;
}

// The AU's id: the first <au id="…"> of the package's cmi5.xml.
function auIdOf(file) {
  const xml = spawnSync('unzip', ['-p', path.join(dist, file), 'cmi5.xml'],
                        {encoding: 'utf8'}).stdout || '';
  const m = /<au\b[^>]*\bid\s*=\s*"([^"]+)"/.exec(xml);
  return m ? m[1] : '';
}

// A failure to report: the requirement and what was found.
class Failed extends Error {}
const fail = (why) => { throw new Failed(why); };
const must = (ok, why) => { if (!ok) fail(why); };

function parseResult(seen, label) {
  if (seen.result === null) {
    fail(`${label}no result from the AU` +
         (seen.code !== undefined && seen.code !== null && seen.code !== 0 ?
              ` (zept ended with status ${seen.code})` : '') +
         ` (channel: ${seen.log.join(', ') || 'nothing'})`);
  }
  let result;
  try {
    result = JSON.parse(seen.result);
  } catch (e) {
    fail(`${label}the AU's result is not JSON: ${seen.result.slice(0, 200)}`);
  }
  if (result.success !== true || result.isError !== false) {
    fail(`${label}${result.reqId ? result.reqId + ': ' : ''}` +
         `${result.msg || JSON.stringify(result).slice(0, 300)}`);
  }
  return result;
}

// --- The suite's checks on the statements ---------------------------------
const verbOf = (s) => s && s.verb && s.verb.id;
const ext = (s, name) =>
    ((s && s.context && s.context.extensions) || {})[EXT + name];
const hasCategory = (s, id) =>
    ((s && s.context && s.context.contextActivities &&
      s.context.contextActivities.category) || []).some((a) => a.id === id);
const grouped = (s, id) =>
    ((s && s.context && s.context.contextActivities &&
      s.context.contextActivities.grouping) || []).some((a) => a.id === id);
const listed = (st) => st.map((s, i) =>
    `[${i}] ${(verbOf(s) || '?').replace(/.*\//, '')}`).join(', ');

function checkSatisfied(st, at, kind, name, req) {
  const s = st[at];
  must(verbOf(s) === VERB.satisfied,
       `${req}: [${at}] is not satisfied (${listed(st)})`);
  const type = s.object.definition && s.object.definition.type;
  must(type === `https://w3id.org/xapi/cmi5/activitytype/${kind}`,
       `${req}: [${at}] satisfied is of type ${type}, not the ${kind}'s`);
  const publisher = `${PUBLISHER}/${kind}/${name}`;
  must(s.object.id !== publisher,
       `${req}: [${at}] satisfied has the publisher's ${kind} id as object`);
  must(grouped(s, publisher),
       `9.6.2.3-2: [${at}] satisfied has no ${publisher} in grouping`);
}

function checkStatements(name, st, result) {
  if (name === '001-essentials') {
    must(st.filter((s) => verbOf(s) === VERB.launched).length === 1,
         `9.3.1.0-2: not exactly one launched (${listed(st)})`);
    const l = st[0];
    must(verbOf(l) === VERB.launched,
         `9.3.1.0-1: [0] is not launched (${listed(st)})`);
    must(ext(l, 'sessionid') === result.sessionId,
         `9.6.3.1-3: launched's sessionid ${ext(l, 'sessionid')} is not the ` +
         `launch data's ${result.sessionId}`);
    must(ext(l, 'masteryscore') === 0.9,
         `9.6.3.2-1: launched's masteryscore is ${ext(l, 'masteryscore')}`);
    must(ext(l, 'launchmode') === result.launchMode,
         `9.6.3.3-1: launched's launchmode is ${ext(l, 'launchmode')}`);
    // zept:// URLs have no origin of their own: scheme, host and path.
    let url = null, launch = null;
    try {
      url = new URL(ext(l, 'launchurl'));
      launch = new URL(result.launchString);
    } catch (e) {}
    must(url && launch && url.protocol === launch.protocol &&
             url.host === launch.host && url.pathname === launch.pathname &&
             url.searchParams.get('paramA') === '1' &&
             url.searchParams.get('paramB') === '2',
         `9.6.3.4-1: launched's launchurl ${ext(l, 'launchurl')} is not the ` +
         `AU's ${result.launchString}`);
    must(ext(l, 'moveon') === 'CompletedAndPassed',
         `9.6.3.6-1: launched's moveon is ${ext(l, 'moveon')}`);
    must(ext(l, 'launchparameters') === result.launchParameters,
         `9.6.3.7-1: launched's launchparameters are ` +
         `${ext(l, 'launchparameters')}`);
    for (const i of [0, 4, 5])
      must(hasCategory(st[i], CMI5), `9.6.2.1-1: [${i}] lacks the cmi5 category`);
    checkSatisfied(st, 4, 'block', name, '9.3.9.0-1');
    checkSatisfied(st, 5, 'course', name, '9.3.9.0-1');
    for (const i of [4, 5])
      must(ext(st[i], 'sessionid') === result.sessionId,
           `9.3.9.0-9: [${i}] satisfied's sessionid is not the session's`);
  } else if (name === '002-allowed') {
    must(verbOf(st[2]) === VERB.experienced,
         `9.3.0.0-9: [2] is not experienced (${listed(st)})`);
  } else if (/^004-[1-4]/.test(name)) {
    const req = /^004-[12]/.test(name) ? '9.3.3.0-3' : '9.3.4.0-4';
    checkSatisfied(st, 3, 'block', name, req);
    checkSatisfied(st, 4, 'course', name, req);
  } else if (name === '004-5-moveOn-NotApplicable') {
    checkSatisfied(st, 0, 'block', name, '9.6.1.1-3');
    checkSatisfied(st, 1, 'course', name, '9.6.1.1-3');
  } else if (name === '008-1-abandoned') {
    const s = st[2];
    must(verbOf(s) === VERB.abandoned,
         `9.3.6.0-2: [2] is not abandoned (${listed(st)})`);
    must(ext(s, 'sessionid') === result.session,
         `9.6.3.1-3: abandoned's sessionid is not the AU's ${result.session}`);
    must(hasCategory(s, CMI5), '9.6.2.1-1: abandoned lacks the cmi5 category');
    must(s.result && s.result.duration !== undefined,
         '9.5.4.2-1: abandoned has no result.duration');
    const actor = Object.assign({}, s.actor);
    if (result.actor && result.actor.objectType === undefined)
      delete actor.objectType;
    must(JSON.stringify(actor) === JSON.stringify(result.actor) ||
             (actor.account && result.actor && result.actor.account &&
              actor.account.name === result.actor.account.name &&
              actor.account.homePage === result.actor.account.homePage),
         `abandoned's actor ${JSON.stringify(s.actor)} is not the AU's`);
    must(s.object.id === result.activityId,
         'abandoned\'s object is not the AU\'s activity');
    must(s.context.registration === result.registration,
         'abandoned\'s registration is not the AU\'s');
  }
}

// --- One run --------------------------------------------------------------
async function run(spec, lrs) {
  const [file, how] = spec.split('@');
  const name = file.replace(/\.zip$/, '');
  const label = how === 'browse' ? `${file} (Browse)` :
                how === 'review' ? `${file} (Review)` :
                how === 'twice' ? `${file} (two sessions)` : file;
  try {
    if (!fs.existsSync(path.join(dist, file))) fail(`not built (${dist}/${file})`);
    const auId = auIdOf(file);
    if (!auId) fail('no AU in its cmi5.xml');
    const home = fs.mkdtempSync(path.join(scratch, name + '-'));
    fs.mkdirSync(path.join(home, 'config'), {recursive: true});
    const conf = path.join(home, 'lrs.conf');
    fs.writeFileSync(conf, `[lrs]\nendpoint=${lrs.endpoint}\nusername=` +
                     `${lrs.key}\npassword=${lrs.secret}\nhomepage=${HOME_PAGE}\n` +
                     'activity-base=https://courses.example.org/\n',
                     {mode: 0o600});
    const mode = how === 'browse' || how === 'review' ? how : '';
    const sessions = how === 'twice' ? 2 : 1;
    let result = null;
    for (let n = 1; n <= sessions; n++) {
      const seen = await playOnce({file, home, conf, auId, mode});
      const r = parseResult(seen, sessions > 1 ? `session ${n}: ` : '');
      // Only the first session's result names the registration; the
      // second finds the first's state document only on the same one.
      if (result && r.registration && r.registration !== result.registration)
        fail(`8.1.5.0-4: session 2 has registration ${r.registration}, ` +
             `session 1 had ${result.registration}`);
      result = result || r;
      if (!seen.ended)
        fail(`${sessions > 1 ? `session ${n}: ` : ''}the session did not end ` +
             `(channel: ${seen.log.join(', ')})`);
    }
    const sync = spawnSync(zeptSync, ['--lrs', conf],
                           {env: envFor(home), encoding: 'utf8',
                            timeout: 60000});
    if (sync.status !== 0)
      fail(`zept-sync ended with status ${sync.status}: ` +
           `${(sync.stderr || sync.stdout || '').trim().split('\n')[0]}`);
    if (!result.registration) return `${label}: passed`;
    const st = await statementsOf(lrs, result.registration);
    checkStatements(name, st, result);
    return `${label}: passed`;
  } catch (e) {
    if (!(e instanceof Failed)) return `${label}: failed: ${e.stack || e}`;
    return `${label}: failed: ${e.message}`;
  }
}

(async () => {
  const lrs = await startLrs();
  for (const spec of runs) console.log(await run(spec, lrs));
  process.exit(0);
})().catch((e) => {
  console.error('conformance-cmi5: ' + (e.stack || e));
  process.exit(2);
});
