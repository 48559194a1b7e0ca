// The service under pressure: who may connect without an Origin, the status
// check, the handshake deadline, the connection cap, clients that stop
// reading, and a transport server that accepts and never answers.
//
//   node tests/e2e/service.mjs <path-to-pellamo>
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import WebSocket from 'ws';
import { PLUGIN_PORT, connect, envelope, handshakeStatus as handshake, runCases, sleep, startProgram, stop } from './lib/harness.mjs';
import { envelopeId } from './lib/card.mjs';

const program = path.resolve(process.argv[2] ?? '');
const PAGE = 'https://lk.example.org';
const GET_CURRENT_CSP = 52;
const GET_CLIENT_CARD_BY_CONVERT_QN = 120;
const SERVER_UNREACHABLE = 18;

const cases = [];
const test = (name, fn) => cases.push([name, fn]);

// A plain HTTP exchange on the service's port, as raw bytes: the status
// line, the headers (lower-cased names) and the body.
function httpExchange(request, host = '127.0.0.1') {
  return new Promise((resolve, reject) => {
    const socket = net.connect({ host, port: PLUGIN_PORT });
    let answer = Buffer.alloc(0);
    socket.on('data', (d) => (answer = Buffer.concat([answer, d])));
    socket.on('end', () => {
      const text = answer.toString('latin1');
      const [head, ...rest] = text.split('\r\n\r\n');
      const [status, ...lines] = head.split('\r\n');
      const headers = Object.fromEntries(lines.map((l) => [l.slice(0, l.indexOf(':')).toLowerCase(), l.slice(l.indexOf(':') + 1).trim()]));
      resolve({ status, headers, body: Buffer.from(rest.join('\r\n\r\n'), 'latin1').toString('utf8') });
    });
    socket.on('error', reject);
    socket.write(request);
  });
}

const statusRequest = (origin, method = 'GET') =>
  `${method} /status HTTP/1.1\r\nHost: 127.0.0.1:3000\r\n${origin ? `Origin: ${origin}\r\n` : ''}\r\n`;


// The first line the service answers a raw upgrade without Origin with,
// sent by a process running as another user (uid and gid 65534).
function handshakeAsOtherUser() {
  const script = `
    const s = require('net').connect(${PLUGIN_PORT}, '127.0.0.1');
    let a = '';
    s.on('data', (d) => (a += d));
    s.on('end', () => { process.stdout.write(a.split('\\r\\n')[0]); });
    s.on('error', (e) => { process.stdout.write('error ' + e.message); });
    s.write('GET / HTTP/1.1\\r\\nHost: 127.0.0.1\\r\\nUpgrade: websocket\\r\\nConnection: Upgrade\\r\\n' +
      'Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\\r\\nSec-WebSocket-Version: 13\\r\\n\\r\\n');
    setTimeout(() => s.end(), 2000);`;
  return new Promise((resolve, reject) => {
    const child = spawn('setpriv', ['--reuid=65534', '--regid=65534', '--clear-groups', process.execPath, '-e', script], {
      cwd: os.tmpdir(),
      stdio: ['ignore', 'pipe', 'pipe'],
    });
    let out = '';
    let err = '';
    child.stdout.on('data', (d) => (out += d));
    child.stderr.on('data', (d) => (err += d));
    child.on('error', reject);
    child.on('close', () => (err && !out ? reject(new Error(err)) : resolve(out)));
  });
}

// An address of this machine that is not loopback, if it has one.
function otherAddress() {
  for (const list of Object.values(os.networkInterfaces())) {
    for (const a of list ?? []) if (a.family === 'IPv4' && !a.internal) return a.address;
  }
  return null;
}

const refusals = (proc) => proc.stderr.split('\n').filter((l) => l.startsWith('connection without origin refused: '));

test('without an Origin only programs of this user on this machine are served', async () => {
  const { proc } = await startProgram(program, { env: { PELLAMO_ALLOWED_ORIGINS: PAGE, PELLAMO_LISTEN_ADDRESS: '0.0.0.0' } });
  try {
    assert.equal(await handshake(null), 101, 'this user, loopback');
    assert.equal(await handshake(PAGE), 101, 'an allowed page');
    const other = otherAddress();
    if (other) {
      assert.equal(await handshake(PAGE, other), 101, 'an allowed page from another address');
      assert.equal(await handshake(null, other), 403, 'no Origin from a non-loopback address');
      await sleep(100);
      assert.match(refusals(proc).at(-1) ?? '', /is not on this machine$/);
    }
    if (process.getuid?.() === 0) {
      assert.equal(await handshakeAsOtherUser(), 'HTTP/1.1 403 Forbidden');
      await sleep(100);
      assert.match(refusals(proc).at(-1) ?? '', /^connection without origin refused: 127\.0\.0\.1:\d+ belongs to another user$/);
    } else {
      console.log('     (another user\'s client is tried only when the tests run as root)');
    }
    assert.equal(await handshake(null), 101, 'still served');
  } finally {
    await stop(proc);
  }
});

test('GET /status: the program\'s facts for allowed pages and this user\'s programs', async () => {
  const { proc } = await startProgram(program, { env: { PELLAMO_ALLOWED_ORIGINS: PAGE } });
  try {
    const expected = { product: 'Pellamo', version: '1.01.276', variant: 'plugin', listen: 'ws://127.0.0.1:3000', transportServer: true };
    const local = await httpExchange(statusRequest(null));
    assert.equal(local.status, 'HTTP/1.1 200 OK');
    assert.equal(local.headers['content-type'], 'application/json');
    assert.equal(local.headers['cache-control'], 'no-store');
    assert.equal(local.headers['access-control-allow-origin'], undefined);
    assert.deepEqual(JSON.parse(local.body), expected);

    const page = await httpExchange(statusRequest(PAGE));
    assert.equal(page.status, 'HTTP/1.1 200 OK');
    assert.equal(page.headers['access-control-allow-origin'], PAGE);
    assert.equal(page.headers.vary, 'Origin');
    assert.deepEqual(JSON.parse(page.body), expected);

    const preflight = await httpExchange(statusRequest(PAGE, 'OPTIONS'));
    assert.equal(preflight.status, 'HTTP/1.1 204 No Content');
    assert.equal(preflight.headers['access-control-allow-origin'], PAGE);
    assert.equal(preflight.headers['access-control-allow-private-network'], 'true');

    const stranger = await httpExchange(statusRequest('https://evil.example'));
    assert.equal(stranger.status, 'HTTP/1.1 403 Forbidden');
    assert.equal(stranger.headers['access-control-allow-origin'], undefined);
    assert.doesNotMatch(stranger.body, /Pellamo/);

    // Other paths and methods are not the status check.
    assert.doesNotMatch((await httpExchange('GET /statusx HTTP/1.1\r\nHost: x\r\n\r\n')).status, / 200 /);
    assert.doesNotMatch((await httpExchange('POST /status HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\n\r\n')).status, / 200 /);
    // And the WebSocket service is unchanged behind it.
    const client = await connect();
    assert.equal((await client.send(GET_CURRENT_CSP)).result, 0);
    client.close();
  } finally {
    await stop(proc);
  }
});

test('a handshake not finished within 10 s is dropped; the service goes on', async () => {
  const { proc } = await startProgram(program);
  try {
    const started = Date.now();
    const closed = await new Promise((resolve) => {
      const socket = net.connect({ host: '127.0.0.1', port: PLUGIN_PORT });
      socket.on('connect', () => socket.write('GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n'));  // never finished
      socket.on('close', () => resolve(Date.now() - started));
      socket.on('error', () => {});
      setTimeout(() => {
        socket.destroy();
        resolve(null);
      }, 20000);
    });
    assert.ok(closed !== null, 'the connection was never closed');
    assert.ok(closed >= 9000 && closed < 15000, `closed after ${closed} ms`);
    const client = await connect();
    assert.equal((await client.send(GET_CURRENT_CSP)).result, 0);
    client.close();
  } finally {
    await stop(proc);
  }
});

test('256 connections at once; the next is refused until one ends', async () => {
  const { proc } = await startProgram(program);
  const clients = [];
  try {
    for (let i = 0; i < 256; i += 32) {
      clients.push(...(await Promise.all(Array.from({ length: 32 }, () => connect()))));
    }
    const last = clients.at(-1);
    assert.equal((await last.send(GET_CURRENT_CSP)).result, 0, 'the 256th is served');
    await assert.rejects(connect(), 'the 257th is refused');
    await sleep(100);
    assert.equal(proc.stderr.split('\n').filter((l) => l === 'connection refused: 256 connections are open').length, 1);
    clients.shift().close();
    let again = null;
    for (let attempt = 0; attempt < 50 && !again; attempt += 1) {
      again = await connect().catch(() => null);
      if (!again) await sleep(50);
    }
    assert.ok(again, 'a place freed is taken again');
    assert.equal((await again.send(GET_CURRENT_CSP)).result, 0);
    again.close();
  } finally {
    for (const c of clients) c.close();
    await stop(proc);
  }
});

test('clients that stop reading their replies delay no one else', async () => {
  const { proc } = await startProgram(program);
  const sockets = [];
  try {
    // Five connections that pipeline requests and never read: their
    // replies fill the socket buffers.
    for (let i = 0; i < 5; i += 1) {
      const ws = new WebSocket(`ws://127.0.0.1:${PLUGIN_PORT}/`, { perMessageDeflate: false });
      await new Promise((resolve, reject) => {
        ws.once('open', resolve);
        ws.once('error', reject);
      });
      ws._socket.pause();  // nothing is read from now on
      const request = envelope('r', 16);
      for (let n = 0; n < 4000; n += 1) ws.send(request);
      sockets.push(ws);
    }
    await sleep(1500);
    const client = await connect();
    const started = Date.now();
    assert.equal((await client.send(GET_CURRENT_CSP, Buffer.alloc(0), { timeoutMs: 5000 })).result, 0);
    assert.ok(Date.now() - started < 1000, `answered after ${Date.now() - started} ms`);
    client.close();
  } finally {
    for (const ws of sockets) ws.terminate();
    await stop(proc);
  }
});

// Accepts connections and never answers, as a server that hangs does.
function stalledServer() {
  const held = [];
  const server = net.createServer((socket) => {
    held.push(socket);
    socket.on('error', () => {});
  });
  return new Promise((resolve) => {
    server.listen(0, '127.0.0.1', () =>
      resolve({
        port: server.address().port,
        accepted: () => held.length,
        close: () => {
          for (const s of held) s.destroy();
          server.close();
        },
      }),
    );
  });
}

test('a transport server that never answers delays neither the start nor other connections', async () => {
  // About a minute of waiting on purpose: the sanitizer build leaves it to
  // the normal one.
  if (process.env.PELLAMO_E2E_SKIP_SLOW === '1') {
    console.log('     (skipped: PELLAMO_E2E_SKIP_SLOW=1)');
    return;
  }
  const stalled = await stalledServer();
  let proc;
  try {
    const started = Date.now();
    ({ proc } = await startProgram(program, { transportPort: stalled.port, startupMs: 60000 }));
    const startup = Date.now() - started;
    assert.ok(stalled.accepted() >= 1, 'the update check asked the server');
    assert.ok(startup < 35000, `listening after ${startup} ms`);
    console.log(`     listening ${startup} ms after the start`);

    const waiting = await Promise.all(Array.from({ length: 4 }, () => connect()));
    const sent = Date.now();
    const answers = waiting.map((c, i) =>
      c.send(GET_CLIENT_CARD_BY_CONVERT_QN, Buffer.concat([Buffer.from([6, 0, 0, 0]), Buffer.from(envelopeId(`1234${i}`))]), { timeoutMs: 90000 }),
    );
    while (stalled.accepted() < 5 && Date.now() - sent < 10000) await sleep(20);
    assert.ok(stalled.accepted() >= 5, 'four commands wait on the server');

    const fifth = await connect();
    const asked = Date.now();
    assert.equal((await fifth.send(GET_CURRENT_CSP, Buffer.alloc(0), { timeoutMs: 5000 })).result, 0);
    const answered = Date.now() - asked;
    assert.ok(answered < 1000, `command 52 answered after ${answered} ms`);
    console.log(`     command 52 on a fifth connection answered in ${answered} ms`);
    fifth.close();

    // The waiting commands end as a server that cannot be reached.
    for (const reply of await Promise.all(answers)) assert.equal(reply.result, SERVER_UNREACHABLE);
    const waited = Date.now() - sent;
    assert.ok(waited >= 25000 && waited < 60000, `the stalled exchanges ended after ${waited} ms`);
    console.log(`     the four stalled commands answered 18 after ${waited} ms`);
    for (const c of waiting) c.close();
  } finally {
    if (proc) await stop(proc);
    stalled.close();
  }
});

await runCases(cases);
