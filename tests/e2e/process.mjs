// The program started as a process: how it starts, what it says and how it
// ends, with its settings file and the update server under the test's
// control.
//
//   node tests/e2e/process.mjs <path-to-pellamo>
//
// Every case runs the program in a new temporary working directory (its data
// folder lives there). The update server is a local HTTP server of this
// script, or a refused loopback port. Prints "N passed, M failed" and exits
// non-zero on any failure.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import WebSocket from 'ws';
import { hostFor } from './lib/host.mjs';

const PLUGIN_PORT = 3000;
const URL = `ws://127.0.0.1:${PLUGIN_PORT}/`;
const VERSION = 101276;
const program = path.resolve(process.argv[2] ?? '');
const host = hostFor(program);
// Handshake options of a test client (an Origin under wine: see WineHost).
const clientOptions = (options = {}) => (host.clientOrigin ? { origin: host.clientOrigin, ...options } : options);
// How long a start may take on the host (seconds under wine).
const START_MS = Math.max(10000, host.startupMs);

const MSG_SETTINGS_DAMAGED = '[Pellamo Plugin] Файл настроек программы поврежден\n';
const MSG_UNREACHABLE = '[Pellamo Plugin] Не удаётся связаться с сервером УЦ.\n';

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// ------------------------------------------------------------ settings file

function u32(v) {
  const b = Buffer.alloc(4);
  b.writeUInt32LE(v >>> 0);
  return b;
}

function settingsFile(host, port, version = 106) {
  const h = Buffer.from(host, 'latin1');
  return Buffer.concat([Buffer.from([0x1d, 0xf1, 0xde, 0xff]), u32(version), u32(h.length), h, u32(port)]);
}

function makeWorkDir(settings) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'pellamo-process-'));
  if (settings) {
    fs.mkdirSync(path.join(dir, 'data'));
    fs.writeFileSync(path.join(dir, 'data', 'settings.dat'), settings);
  }
  return dir;
}

// ---------------------------------------------------------------- processes

const started = new Set();

// These cases read every line the program writes; a pinned CA certificate
// (no certificate is fetched here) keeps the start-up warning about an
// unpinned CA out of them.
const NO_CA_PIN_WARNING = { PELLAMO_CA_CERT_SHA256: '0'.repeat(64) };

function startProgram(dir, env = {}) {
  const child = host.spawn([], { cwd: dir, env: { ...NO_CA_PIN_WARNING, ...env } });
  const proc = { child, dir, stdout: '', stderr: '', exited: null };
  child.stdout.setEncoding('utf8');
  child.stderr.setEncoding('utf8');
  // The Windows C runtime ends text lines with CR LF: kept as LF, as on Linux.
  const text = host.isWine ? (t) => t.replace(/\r\n/g, '\n') : (t) => t;
  child.stdout.on('data', (d) => (proc.stdout = text(proc.stdout + d)));
  child.stderr.on('data', (d) => (proc.stderr = text(proc.stderr + d)));
  proc.exit = new Promise((resolve) => {
    child.once('exit', (code, signal) => resolve((proc.exited = { code, signal })));
  });
  started.add(proc);
  return proc;
}

async function waitForExit(proc, timeoutMs) {
  let timer;
  const outcome = await Promise.race([proc.exit, new Promise((r) => (timer = setTimeout(() => r(null), timeoutMs)))]);
  clearTimeout(timer);
  if (!outcome) throw new Error(`program still running after ${timeoutMs} ms; stderr: ${JSON.stringify(proc.stderr)}`);
  return outcome;
}

function cleanUp(proc) {
  if (!proc.exited) proc.child.kill('SIGKILL');
  fs.rmSync(proc.dir, { recursive: true, force: true });
  started.delete(proc);
}

// Other programs on this machine may hold the plugin port for a while: wait
// for it rather than test someone else's service. Only a listening socket
// keeps the program from binding (it rebinds over TIME_WAIT leftovers).
function portIsFree(port) {
  const hex = `:${port.toString(16).toUpperCase().padStart(4, '0')}`;
  for (const table of ['/proc/net/tcp', '/proc/net/tcp6']) {
    let text = '';
    try {
      text = fs.readFileSync(table, 'utf8');
    } catch {
      continue;
    }
    for (const line of text.split('\n').slice(1)) {
      const [, local, , state] = line.trim().split(/\s+/);
      if (local && local.endsWith(hex) && state === '0A') return false;  // LISTEN
    }
  }
  return true;
}

async function waitForFreePluginPort(timeoutMs = 120000) {
  const deadline = Date.now() + timeoutMs;
  while (!portIsFree(PLUGIN_PORT)) {
    if (Date.now() > deadline) throw new Error(`port ${PLUGIN_PORT} is held by another process`);
    await sleep(200);
  }
}

function handshakeSucceeds() {
  return new Promise((resolve) => {
    const ws = new WebSocket(URL, clientOptions());
    ws.once('open', () => {
      ws.terminate();
      resolve(true);
    });
    ws.once('error', () => resolve(false));
  });
}

// What the program told its user (stderr; its message boxes under wine).
const said = (proc) => host.messages(proc.child, proc.stderr);

async function waitUntilServing(proc, timeoutMs = Math.max(15000, host.startupMs)) {
  const deadline = Date.now() + timeoutMs;
  while (Date.now() < deadline) {
    if (proc.exited) throw new Error(`program exited early: ${JSON.stringify(proc.exited)}\n${proc.stderr}`);
    if (await handshakeSucceeds()) return;
    await sleep(50);
  }
  throw new Error(`port ${PLUGIN_PORT} did not accept within ${timeoutMs} ms; stderr: ${proc.stderr}`);
}

// Command 52 (current CSP) answers 53 with result 0 on a served connection.
async function askCommand52() {
  const ws = new WebSocket(URL, clientOptions({ perMessageDeflate: false }));
  try {
    await new Promise((resolve, reject) => {
      ws.once('open', resolve);
      ws.once('error', reject);
    });
    const reply = await new Promise((resolve, reject) => {
      const timer = setTimeout(() => reject(new Error('no reply to command 52')), 10000);
      ws.once('message', (data) => {
        clearTimeout(timer);
        resolve(data);
      });
      const uid = Buffer.from('alive');
      ws.send(Buffer.concat([u32(uid.length), uid, u32(0), u32(52)]));
    });
    const uidLength = reply.readUInt32LE(0);
    assert.equal(reply.subarray(4, 4 + uidLength).toString(), 'alive');
    assert.equal(reply.readUInt32LE(4 + uidLength + 4), 53);
    assert.equal(reply.readUInt32LE(4 + uidLength + 8), 0);
  } finally {
    ws.terminate();
  }
}

// Pids of running processes whose working directory is dir.
function processesIn(dir) {
  const real = fs.realpathSync(dir);
  const pids = [];
  for (const entry of fs.readdirSync('/proc')) {
    if (!/^\d+$/.test(entry)) continue;
    try {
      if (fs.readlinkSync(`/proc/${entry}/cwd`) === real) pids.push(Number(entry));
    } catch {
      // gone, or not ours to look at
    }
  }
  return pids;
}

// ------------------------------------------------------------ update server

// The files of an update package of the given version holding these files,
// built and signed with the repository's TEST-ONLY key by the build's
// update-packager (the program of a development build verifies with it).
function signedPackage(version, files) {
  const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..', '..');
  const key = path.join(root, 'tools', 'update-packager', 'test-keys', 'TEST-ONLY-update-signing.key');
  const packager = path.join(path.dirname(program), 'update-packager');
  const work = fs.mkdtempSync(path.join(os.tmpdir(), 'pellamo-package-'));
  try {
    fs.mkdirSync(path.join(work, 'src'));
    for (const [name, content] of Object.entries(files)) fs.writeFileSync(path.join(work, 'src', name), content);
    execFileSync(packager, ['build', key, String(version), path.join(work, 'src'), path.join(work, 'out')]);
    const out = {};
    for (const name of fs.readdirSync(path.join(work, 'out'))) out[name] = fs.readFileSync(path.join(work, 'out', name));
    return out;
  } finally {
    fs.rmSync(work, { recursive: true, force: true });
  }
}

// A transport server for the update endpoints. versions: the answers to the
// version requests, in turn (the last one repeats). files: the package.
async function startUpdateServer({ versions = [VERSION], files = {} } = {}) {
  const server = { requests: [], versionRequests: 0 };
  server.http = http.createServer((req, res) => {
    let body = '';
    req.on('data', (d) => (body += d));
    req.on('end', () => {
      server.requests.push({ method: req.method, url: req.url, body });
      if (req.method === 'GET' && req.url.startsWith('/api/etc/getLatestVersion/')) {
        const v = versions[Math.min(server.versionRequests++, versions.length - 1)];
        res.end(Buffer.from(`tesel.message${v}`));
      } else if (req.method === 'POST' && req.url === '/api/etc/downloadUpdate') {
        const name = new URLSearchParams(body).get('filename');
        if (name in files) res.end(files[name]);
        else res.end(Buffer.concat([Buffer.from('tesel.messageerror='), u32(13)]));
      } else {
        res.statusCode = 404;
        res.end('<html>not here</html>');
      }
    });
  });
  await new Promise((resolve) => server.http.listen(0, '127.0.0.1', resolve));
  server.port = server.http.address().port;
  server.close = () => new Promise((resolve) => server.http.close(resolve));
  return server;
}

// A loopback port on which nobody listens (connections are refused).
async function refusedPort() {
  const s = net.createServer();
  await new Promise((resolve) => s.listen(0, '127.0.0.1', resolve));
  const { port } = s.address();
  await new Promise((resolve) => s.close(resolve));
  return port;
}

// ------------------------------------------------------------------- cases

const cases = [];
const test = (name, fn) => cases.push({ name, fn });

test('a settings file of an unknown version: message on stderr, exit 80, no service', async () => {
  for (const settings of [settingsFile('127.0.0.1', 1, 107), settingsFile('127.0.0.1', 1).subarray(0, 14)]) {
    const proc = startProgram(makeWorkDir(settings));
    try {
      assert.deepEqual(await waitForExit(proc, START_MS), { code: 80, signal: null });
      assert.equal(await said(proc), MSG_SETTINGS_DAMAGED);
      assert.equal(proc.stdout, '');
      // The file is left as it was.
      assert.deepEqual(fs.readFileSync(path.join(proc.dir, 'data', 'settings.dat')), settings);
    } finally {
      cleanUp(proc);
    }
  }
});

test('an unreachable update server costs one message; the service answers', async () => {
  await waitForFreePluginPort();
  const proc = startProgram(makeWorkDir(settingsFile('127.0.0.1', await refusedPort())));
  try {
    await waitUntilServing(proc);
    await askCommand52();
    assert.equal(await said(proc), MSG_UNREACHABLE);
    await host.requestEnd(proc.child);
    assert.deepEqual(await waitForExit(proc, 10000), { code: 0, signal: null });
  } finally {
    cleanUp(proc);
  }
});

test('SIGTERM and SIGINT end the program with status 0', async () => {
  if (host.skip('POSIX signals (the end by WM_CLOSE is a case of run.mjs)')) return;
  const server = await startUpdateServer();
  try {
    for (const signal of ['SIGTERM', 'SIGINT']) {
      await waitForFreePluginPort();
      const proc = startProgram(makeWorkDir(settingsFile('127.0.0.1', server.port)));
      try {
        await waitUntilServing(proc);
        await askCommand52();
        proc.child.kill(signal);
        assert.deepEqual(await waitForExit(proc, 10000), { code: 0, signal: null }, signal);
        assert.equal(proc.stderr, '');
      } finally {
        cleanUp(proc);
      }
    }
  } finally {
    await server.close();
  }
});

test('the start asks for the latest version of variant 4 at the address of the settings file', async () => {
  const server = await startUpdateServer();
  await waitForFreePluginPort();
  const proc = startProgram(makeWorkDir(settingsFile('127.0.0.1', server.port)));
  try {
    await waitUntilServing(proc);
    assert.deepEqual(server.requests.map((r) => `${r.method} ${r.url}`), ['GET /api/etc/getLatestVersion/4']);
    // The same version: nothing to say, nothing downloaded.
    assert.equal(await said(proc), '');
    // Starting writes nothing into the data folder but its subfolders, the
    // log and (on Linux) the instance lock.
    await host.requestEnd(proc.child);
    await waitForExit(proc, 10000);
    const made = ['attachment', 'backup', 'packetin', 'pellamo.log', ...(host.isWine ? [] : ['pellamo.lock']), 'settings.dat'];
    assert.deepEqual(fs.readdirSync(path.join(proc.dir, 'data')).sort(), made.sort());
  } finally {
    cleanUp(proc);
    await server.close();
  }
});

test('without a settings file the defaults are used and no file is made', async () => {
  await waitForFreePluginPort();
  const proc = startProgram(makeWorkDir(null));
  try {
    await waitUntilServing(proc);
    // The default transport server cannot be reached from the test machine:
    // exactly one message, whatever the reason.
    const told = await said(proc);
    assert.equal(told.split('\n').filter((l) => l.startsWith('[Pellamo Plugin] ')).length, 1, told);
    await host.requestEnd(proc.child);
    assert.deepEqual(await waitForExit(proc, 10000), { code: 0, signal: null });
    assert.equal(fs.existsSync(path.join(proc.dir, 'data', 'settings.dat')), false);
  } finally {
    cleanUp(proc);
  }
});

test('an accepted update restarts: the old instance ends with 0 without serving, the new one serves', async () => {
  if (host.skip('the update question is a message box, answered No by the host; the instances are found by their Linux working folder')) return;
  const files = signedPackage(VERSION + 1, { 'notes.txt': Buffer.from('new notes\n') });
  // The first question is answered with a newer version; the restarted
  // program then finds itself up to date.
  const server = await startUpdateServer({ versions: [VERSION + 1, VERSION], files });
  await waitForFreePluginPort();
  const dir = makeWorkDir(settingsFile('127.0.0.1', server.port));
  fs.writeFileSync(path.join(dir, 'notes.txt'), 'old notes\n');
  const proc = startProgram(dir, { PELLAMO_DEFAULT_ANSWER: 'yes' });
  let successor = [];
  try {
    assert.deepEqual(await waitForExit(proc, 15000), { code: 0, signal: null });
    assert.match(proc.stderr, /Обновление загружено\. Требуется перезапуск программы\n$/);
    assert.equal(fs.readFileSync(path.join(dir, 'notes.txt'), 'utf8'), 'new notes\n');
    assert.equal(fs.readFileSync(path.join(dir, 'data', 'backup', 'notes.txt'), 'utf8'), 'old notes\n');
    // The new instance runs in the same folder and serves the port.
    const deadline = Date.now() + 10000;
    while (!(successor = processesIn(dir)).length && Date.now() < deadline) await sleep(50);
    assert.equal(successor.length, 1, 'one new instance');
    const serving = Date.now() + 15000;
    while (!(await handshakeSucceeds())) {
      if (Date.now() > serving) throw new Error('the new instance does not serve');
      await sleep(50);
    }
    await askCommand52();
  } finally {
    for (const pid of successor) {
      try {
        process.kill(pid, 'SIGTERM');
      } catch {
        // already gone
      }
    }
    const gone = Date.now() + 10000;
    while (processesIn(dir).length && Date.now() < gone) await sleep(50);
    cleanUp(proc);
    await server.close();
  }
  // Two version questions in all: the old instance's and the new one's.
  assert.equal(server.requests.filter((r) => r.url.startsWith('/api/etc/getLatestVersion/')).length, 2);
});

// -------------------------------------------------------------------- run

let passed = 0;
let failed = 0;
for (const c of cases) {
  try {
    await c.fn();
    passed++;
    console.log(`ok   ${c.name}`);
  } catch (e) {
    failed++;
    console.log(`FAIL ${c.name}\n     ${e.stack ?? e}`);
  }
}
for (const proc of started) cleanUp(proc);
await host.finish();
console.log(`${passed} passed, ${failed} failed`);
process.exit(failed ? 1 : 0);
