// Shared pieces of the end-to-end suites: the wire format of the command
// envelope and its payload fields, the local CA peer (tools/ca-peer) and the
// program started as processes, and a WebSocket client that matches replies
// to requests by uid.
//
//   import { startPeer, startProgram, connect, enc, Reader, stopAll } from './lib/harness.mjs';
//
// Every started process is killed by stopAll() and when the test process ends.
import { execFileSync, spawn } from 'node:child_process';
import crypto from 'node:crypto';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import WebSocket from 'ws';
import { finishHosts, hostFor, recentBoxes } from './host.mjs';

export { hostFor } from './host.mjs';

const here = path.dirname(fileURLToPath(import.meta.url));
export const repoRoot = path.resolve(here, '..', '..', '..');
export const PLUGIN_PORT = 3000;
export const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// ---------------------------------------------------------------- wire format

// Payload field encoders: 32-bit little-endian integers; strings and blobs as
// a 32-bit length and the bytes (strings in UTF-8 unless given as bytes).
export const enc = {
  u32(v) {
    const b = Buffer.alloc(4);
    b.writeUInt32LE(v >>> 0);
    return b;
  },
  i32(v) {
    const b = Buffer.alloc(4);
    b.writeInt32LE(v | 0);
    return b;
  },
  str(s) {
    const bytes = typeof s === 'string' ? Buffer.from(s, 'utf8') : Buffer.from(s);
    return Buffer.concat([enc.u32(bytes.length), bytes]);
  },
  blob(b) {
    return enc.str(Buffer.from(b));
  },
  cat(...parts) {
    return Buffer.concat(parts.map((p) => Buffer.from(p)));
  },
};

// uid (string), format field, command code, payload.
export function envelope(uid, command, payload = Buffer.alloc(0), format = 0) {
  return Buffer.concat([enc.str(uid), enc.u32(format), enc.u32(command), Buffer.from(payload)]);
}

// A cursor over a reply payload; every read throws past the end, so a short
// reply fails the test instead of yielding garbage.
export class Reader {
  constructor(buffer) {
    this.buf = Buffer.from(buffer);
    this.at = 0;
  }
  need(n) {
    if (this.at + n > this.buf.length) {
      throw new Error(`reply too short: need ${n} bytes at ${this.at} of ${this.buf.length}`);
    }
  }
  u32() {
    this.need(4);
    const v = this.buf.readUInt32LE(this.at);
    this.at += 4;
    return v;
  }
  i32() {
    this.need(4);
    const v = this.buf.readInt32LE(this.at);
    this.at += 4;
    return v;
  }
  bytes(n) {
    this.need(n);
    const v = this.buf.subarray(this.at, this.at + n);
    this.at += n;
    return v;
  }
  blob() {
    return this.bytes(this.u32());
  }
  str() {
    return this.blob().toString('utf8');
  }
  get remaining() {
    return this.buf.length - this.at;
  }
  end() {
    if (this.remaining !== 0) throw new Error(`${this.remaining} bytes left over in the reply`);
  }
}

// uid, format field, answer code, result, then the payload bytes.
export function parseReply(message) {
  const r = new Reader(message);
  const uid = r.str();
  const format = r.u32();
  const answer = r.u32();
  const result = r.u32();
  return { uid, format, answer, result, payload: r.buf.subarray(r.at), reader: () => new Reader(r.buf.subarray(r.at)) };
}

// ----------------------------------------------------------------- processes

const children = new Set();
const tempDirs = new Set();
const ended = []; // connections and processes that ended, newest last

export function tempDir(prefix = 'pellamo-e2e-') {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), prefix));
  tempDirs.add(dir);
  return dir;
}

function track(child, name, host = null) {
  const proc = { child, name, host, stdout: '', stderr: '', exited: null };
  child.stdout.setEncoding('utf8');
  child.stderr.setEncoding('utf8');
  // The Windows C runtime ends text lines with CR LF: kept as LF, as on Linux.
  const text = host?.isWine ? (t) => t.replace(/\r\n/g, '\n') : (t) => t;
  child.stdout.on('data', (d) => (proc.stdout = text(proc.stdout + d)));
  child.stderr.on('data', (d) => (proc.stderr = text(proc.stderr + d)));
  proc.exit = new Promise((resolve) => {
    child.once('exit', (code, signal) => {
      proc.exited = { code, signal };
      ended.push(`${name} ended at ${new Date().toISOString()}: ${JSON.stringify(proc.exited)}`);
      children.delete(proc);
      resolve(proc.exited);
    });
  });
  children.add(proc);
  return proc;
}

async function waitFor(predicate, what, timeoutMs = 15000) {
  const deadline = Date.now() + timeoutMs;
  while (Date.now() < deadline) {
    if (await predicate()) return;
    await sleep(20);
  }
  throw new Error(`timed out waiting for ${what}`);
}

export function portAccepts(port, host = '127.0.0.1') {
  return new Promise((resolve) => {
    const socket = net.connect({ host, port });
    socket.once('connect', () => {
      socket.destroy();
      resolve(true);
    });
    socket.once('error', () => resolve(false));
  });
}

// Ends a process: SIGTERM (or the signal given); for the program, the end
// request of its host (SIGTERM on Linux, WM_CLOSE under wine), SIGKILL after
// timeoutMs.
// Whether nobody listens on the port (a TIME_WAIT leftover does not keep
// the program from binding it).
export function portIsFree(port) {
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
      if (local && local.endsWith(hex) && state === '0A') return false; // LISTEN
    }
  }
  return true;
}

export async function stop(proc, signal = 'SIGTERM', timeoutMs = 5000) {
  if (proc.exited) return proc.exited;
  if (proc.host && signal !== 'SIGKILL') {
    await proc.host.requestEnd(proc.child);
    timeoutMs = Math.max(timeoutMs, proc.host.isWine ? 15000 : 0);
  } else {
    proc.child.kill(signal);
  }
  const timer = sleep(timeoutMs).then(() => null);
  const outcome = await Promise.race([proc.exit, timer]);
  if (outcome) return outcome;
  proc.child.kill('SIGKILL');
  return proc.exit;
}

export async function stopAll() {
  await Promise.all([...children].map((p) => stop(p)));
  await finishHosts();
  for (const dir of tempDirs) fs.rmSync(dir, { recursive: true, force: true });
  tempDirs.clear();
}

process.on('exit', () => {
  for (const p of children) p.child.kill('SIGKILL');
});

// The peer binary next to the program in the build tree, unless given.
// The Windows program has no Linux build tree beside it: CA_PEER names the peer.
export function peerPath(programPath) {
  if (!process.env.CA_PEER && hostFor(programPath).isWine) {
    throw new Error('set CA_PEER to the Linux build\'s tools/ca-peer/ca-peer to test pellamo.exe');
  }
  return path.resolve(process.env.CA_PEER ?? path.join(path.dirname(programPath), 'tools', 'ca-peer', 'ca-peer'));
}

// The state folders of the peers started here, by port: a program started
// against one of them pins that peer's CA certificates.
const peerStates = new Map();

// The SHA-256 fingerprints (hex, blank-separated) of the CA certificates a
// peer with this state folder serves.
export function caPins(state) {
  return ['ca2001.cer', 'ca2012.cer']
    .map((name) => crypto.createHash('sha256').update(fs.readFileSync(path.join(state, name))).digest('hex'))
    .join(' ');
}

// Starts tools/ca-peer on a free loopback port with a new state folder.
// Returns { proc, port, url, state, get(path), post(path, body), control(path, body) }.
export async function startPeer(peerBinary, { hold = false, state = tempDir('pellamo-peer-'), args = [] } = {}) {
  const argv = ['--state', state, '--port', '0', ...(hold ? ['--hold'] : []), ...args];
  const proc = track(spawn(peerBinary, argv, { stdio: ['ignore', 'pipe', 'pipe'] }), 'ca-peer');
  await waitFor(() => /listening on http:\/\/[^:]+:(\d+)/.test(proc.stdout) || proc.exited, 'ca-peer to listen');
  const m = /listening on http:\/\/[^:]+:(\d+)/.exec(proc.stdout);
  if (!m) throw new Error(`ca-peer did not start: ${proc.stderr}`);
  const port = Number(m[1]);
  peerStates.set(port, state);
  const url = `http://127.0.0.1:${port}`;
  const call = async (method, p, body) => {
    const res = await fetch(url + p, { method, body: body === undefined ? undefined : Buffer.from(body) });
    return { status: res.status, body: Buffer.from(await res.arrayBuffer()) };
  };
  return {
    proc,
    port,
    url,
    state,
    get: (p) => call('GET', p),
    post: (p, body) => call('POST', p, body ?? Buffer.alloc(0)),
    control: (p, body) => call(body === undefined ? 'GET' : 'POST', '/control/' + p, body),
  };
}

// Starts a stand-in service of tools/ (a Python script taking --port) on a
// free loopback port. Returns { proc, port, url, get(path), requests(),
// reset() }; requests() lists the request targets the stand-in received
// (its /control/requests endpoint).
export async function startStandIn(script, args = []) {
  const argv = [path.join(repoRoot, 'tools', script), '--port', '0', ...args];
  const proc = track(spawn('python3', argv, { stdio: ['ignore', 'pipe', 'pipe'] }), script);
  await waitFor(() => /listening on http:\/\/[^:]+:(\d+)/.test(proc.stdout) || proc.exited, `${script} to listen`);
  const m = /listening on http:\/\/[^:]+:(\d+)/.exec(proc.stdout);
  if (!m) throw new Error(`${script} did not start: ${proc.stderr}`);
  const port = Number(m[1]);
  const url = `http://127.0.0.1:${port}`;
  const call = async (method, p, body) => {
    const res = await fetch(url + p, { method, body: body === undefined ? undefined : Buffer.from(body) });
    return { status: res.status, body: Buffer.from(await res.arrayBuffer()) };
  };
  return {
    proc,
    port,
    url,
    get: (p) => call('GET', p),
    post: (p, body) => call('POST', p, body),
    requests: async () => JSON.parse((await call('GET', '/control/requests')).body.toString('utf8')),
    reset: () => call('GET', '/control/reset'),
  };
}

// The openssl command line tool with Debian's GOST engine loaded; returns its
// standard output. A failure throws with openssl's own message.
let gostConf = null;
export function gostOpenssl(args) {
  if (!gostConf) {
    gostConf = path.join(fs.mkdtempSync(path.join(os.tmpdir(), 'pellamo-ossl-')), 'gost.cnf');
    fs.writeFileSync(
      gostConf,
      'openssl_conf = conf\n[conf]\nengines = engines\n[engines]\ngost = gost\n[gost]\nengine_id = gost\ndefault_algorithms = ALL\n',
    );
    tempDirs.add(path.dirname(gostConf));
  }
  try {
    return execFileSync('openssl', args, { env: { ...process.env, OPENSSL_CONF: gostConf }, stdio: ['ignore', 'pipe', 'pipe'] });
  } catch (e) {
    throw new Error(`openssl ${args[0]} failed: ${e.stderr}`);
  }
}

// Verifies a DER PKCS#10 request's signature under the GOST engine; returns
// the request as text (UTF-8 names).
export function opensslVerifyRequest(der) {
  const file = path.join(tempDir('pellamo-ossl-'), 'req.der');
  fs.writeFileSync(file, der);
  return gostOpenssl(['req', '-inform', 'DER', '-in', file, '-verify', '-noout', '-text', '-nameopt', 'utf8']).toString('utf8');
}

// A state folder for startPeer whose GOST 2012 CA key is 512 bits (the peer
// makes a 256-bit one when the folder holds none): the CA of kind 81 keys,
// which agree only with a key of their own size.
export function peer512State() {
  const state = tempDir('pellamo-peer512-');
  const caKey = path.join(state, 'ca2012.key');
  gostOpenssl(['genpkey', '-algorithm', 'gost2012_512', '-pkeyopt', 'paramset:A', '-out', caKey]);
  gostOpenssl(['req', '-x509', '-new', '-key', caKey, '-md_gost12_512', '-days', '3650',
    '-subj', '/C=RU/O=Pellamo test CA/CN=Pellamo Test CA GOST 2012-512',
    '-addext', 'basicConstraints=critical,CA:TRUE', '-addext', 'subjectKeyIdentifier=hash', '-outform', 'DER', '-out', path.join(state, 'ca2012.cer')]);
  return state;
}

// settings.dat: signature, version 106, transport host and port.
export function settingsFile(host, port) {
  const h = Buffer.from(host, 'latin1');
  return Buffer.concat([Buffer.from([0x1d, 0xf1, 0xde, 0xff]), enc.u32(106), enc.u32(h.length), h, enc.u32(port)]);
}

// Starts the program in a new working directory whose settings name the
// transport server host:port (a closed loopback port when none is given, so
// that the start-up update check fails at once) and with a key folder of its
// own (PELLAMO_CSP_DIR). A new key folder comes with an empty personal store
// (wine keeps the store per prefix: it is emptied). Resolves once port 3000
// accepts connections. Returns { proc, dir, cspDir, host }.
export async function startProgram(program, { transportPort = 9, host = '127.0.0.1', cspDir, env = {}, dir, startupMs } = {}) {
  const where = hostFor(program);
  currentHost = where;
  const work = dir ?? tempDir('pellamo-prog-');
  const keys = cspDir ?? path.join(work, 'csp');
  fs.mkdirSync(path.join(work, 'data'), { recursive: true });
  fs.mkdirSync(keys, { recursive: true });
  if (!fs.existsSync(path.join(work, 'data', 'settings.dat'))) {
    fs.writeFileSync(path.join(work, 'data', 'settings.dat'), settingsFile(host, transportPort));
  }
  if (!cspDir) await where.storeReset(keys);
  // Against a local CA peer the program trusts only that CA's certificates,
  // as a deployment does; a test may pin something else itself.
  const pinned = peerStates.has(transportPort) && !('PELLAMO_CA_CERT_SHA256' in env)
    ? { PELLAMO_CA_CERT_SHA256: caPins(peerStates.get(transportPort)) }
    : {};
  // Port 3000 is shared with every other program on the machine: wait until
  // nobody listens, then until this instance says that it does (a port that
  // accepts could be someone else's).
  await waitFor(() => portIsFree(PLUGIN_PORT), 'port 3000 to be free', 180000);
  const child = where.spawn([], { cwd: work, env: { PELLAMO_CSP_DIR: keys, ...pinned, ...env } });
  const proc = track(child, 'pellamo', where);
  await waitFor(
    () => proc.exited || /^listen: /m.test(proc.stderr) || /^listening on ws:\/\/\S+:3000$/m.test(proc.stdout),
    'pellamo to listen on port 3000',
    startupMs ?? where.startupMs,
  );
  if (proc.exited) throw new Error(`pellamo exited at start: ${JSON.stringify(proc.exited)} ${proc.stderr}`);
  if (!/^listening on /m.test(proc.stdout)) throw new Error(`pellamo cannot listen on port 3000 (another program took it?): ${proc.stderr}`);
  await waitFor(() => portAccepts(PLUGIN_PORT), 'port 3000 to accept', where.startupMs);
  return { proc, dir: work, cspDir: keys, host: where };
}

// ------------------------------------------------------------------- client

// The host of the program started last: its test clients' handshake options.
let currentHost = null;

// WebSocket options for a test client of the program under test: under wine
// an Origin the program allows (see WineHost.clientOrigin), else as given.
export function clientOptions(options = {}) {
  return currentHost?.clientOrigin ? { origin: currentHost.clientOrigin, ...options } : options;
}

// A WebSocket connection to the program. send(command, payload) resolves with
// the parsed reply of that request (matched by uid), or null when the
// connection closes without one.
export async function connect(url = `ws://127.0.0.1:${PLUGIN_PORT}/`, options = {}) {
  const ws = new WebSocket(url, clientOptions(options));
  ws.binaryType = 'nodebuffer';
  await new Promise((resolve, reject) => {
    ws.once('open', resolve);
    ws.once('error', reject);
  });
  const pending = new Map();
  let counter = 0;
  ws.on('message', (data) => {
    let reply;
    try {
      reply = parseReply(data);
    } catch {
      // An empty or damaged message (an unknown command is answered with an
      // empty one) belongs to no uid: it answers the oldest waiting request.
      const first = pending.entries().next();
      if (first.done) return;
      pending.delete(first.value[0]);
      first.value[1].resolve({ empty: true, raw: Buffer.from(data) });
      return;
    }
    const waiter = pending.get(reply.uid);
    if (waiter) {
      pending.delete(reply.uid);
      waiter.resolve(reply);
    }
  });
  ws.on('close', (code, reason) => {
    // Kept for the report of a failing case: a connection that ended early
    // is otherwise only a null reply.
    ended.push(`connection ${url} ended at ${new Date().toISOString()}: code ${code} ${reason}`);
    for (const waiter of pending.values()) waiter.resolve(null);
    pending.clear();
  });
  return {
    ws,
    send(command, payload = Buffer.alloc(0), { uid = `u${++counter}`, timeoutMs = 60000 } = {}) {
      return new Promise((resolve, reject) => {
        if (ws.readyState !== WebSocket.OPEN) return resolve(null);
        const timer = setTimeout(() => {
          pending.delete(uid);
          reject(new Error(`no reply to command ${command} within ${timeoutMs} ms`));
        }, timeoutMs);
        pending.set(uid, {
          resolve: (r) => {
            clearTimeout(timer);
            resolve(r);
          },
        });
        ws.send(envelope(uid, command, payload));
      });
    },
    close() {
      ws.close();
    },
  };
}

// The status of a handshake with this Origin header (none when null): 101
// when upgraded, otherwise the HTTP status the service answered with.
export function handshakeStatus(origin, host = '127.0.0.1') {
  return new Promise((resolve, reject) => {
    const ws = new WebSocket(`ws://${host}:${PLUGIN_PORT}/`, origin === null ? {} : { origin });
    ws.once('open', () => {
      ws.close();
      resolve(101);
    });
    ws.once('unexpected-response', (req, res) => {
      res.resume();
      resolve(res.statusCode);
      req.destroy();
    });
    ws.once('error', reject);
  });
}

// --------------------------------------------------------------- test runner

// A minimal runner with the output of the landed suites: prints each case and
// "N passed, M failed", stops every process, exits non-zero on any failure.
// PELLAMO_E2E_CASES (a text) runs only the cases whose names contain it.
export async function runCases(cases) {
  let passed = 0;
  let failed = 0;
  const only = process.env.PELLAMO_E2E_CASES;
  for (const [name, fn] of cases) {
    if (only && !name.includes(only)) continue;
    const started = Date.now();
    try {
      await fn();
      passed += 1;
      console.log(`ok   ${name} (${Date.now() - started} ms)`);
    } catch (err) {
      failed += 1;
      console.log(`FAIL ${name}\n     ${err && err.stack ? err.stack : err}`);
      // What the programs said is often the cause: the end of their error streams.
      for (const proc of children) {
        if (proc.stderr) console.log(`     --- ${proc.name} stderr (end):\n${proc.stderr.slice(-1500)}`);
      }
      for (const line of ended.splice(0).slice(-5)) console.log(`     --- ${line}`);
      for (const box of recentBoxes()) console.log(`     --- message box: ${box}`);
    }
  }
  await stopAll();
  if (only && passed + failed === 0) {
    failed = 1;
    console.log(`FAIL no case matches PELLAMO_E2E_CASES=${only}`);
  }
  console.log(`${passed} passed, ${failed} failed`);
  process.exit(failed === 0 ? 0 : 1);
}
