// End-to-end tests of the WebSocket command service, driven by an independent
// client (the npm package ws).
//
//   node tests/e2e/run.mjs <path-to-pellamo>
//
// Starts the program in a temporary working directory, waits until port 3000
// accepts connections, runs every case, prints "N passed, M failed" and exits
// non-zero on any failure. Every started program is killed at the end.
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import WebSocket from 'ws';
import { hostFor } from './lib/host.mjs';

const here = path.dirname(fileURLToPath(import.meta.url));
const PORT = 3000;
const URL = `ws://127.0.0.1:${PORT}/`;
const host = hostFor(process.argv[2] ?? '');
// Handshake options of a test client (an Origin under wine: see WineHost).
const clientOptions = (options = {}) => (host.clientOrigin ? { origin: host.clientOrigin, ...options } : options);
const catalog = JSON.parse(fs.readFileSync(path.join(here, 'catalog.json'), 'utf8'));

// ---------------------------------------------------------------- wire format

function u32(v) {
  const b = Buffer.alloc(4);
  b.writeUInt32LE(v >>> 0);
  return b;
}

function str(s) {
  const bytes = Buffer.isBuffer(s) ? s : Buffer.from(s, 'utf8');
  return Buffer.concat([u32(bytes.length), bytes]);
}

// uid (string), format field, command code, payload.
function request(uid, command, payload = Buffer.alloc(0), format = 0) {
  return Buffer.concat([str(uid), u32(format), u32(command), payload]);
}

function parseHeader(reply) {
  const uidLength = reply.readUInt32LE(0);
  const uid = reply.subarray(4, 4 + uidLength).toString('utf8');
  let at = 4 + uidLength;
  const format = reply.readUInt32LE(at);
  const answer = reply.readUInt32LE(at + 4);
  const result = reply.readUInt32LE(at + 8);
  return { uid, format, answer, result, payload: reply.subarray(at + 12) };
}

const hex = (b) => Buffer.from(b).toString('hex');

// ----------------------------------------------------------------- processes

const children = new Set();

function sleep(ms) {
  return new Promise((resolve) => setTimeout(resolve, ms));
}

function portAccepts(port) {
  return new Promise((resolve) => {
    const socket = net.connect({ host: '127.0.0.1', port });
    socket.once('connect', () => {
      socket.destroy();
      resolve(true);
    });
    socket.once('error', () => resolve(false));
  });
}

// Points the program's transport server at a closed loopback port, so that
// the update check at start-up fails at once instead of waiting on a name
// lookup or a remote host.
function writeLoopbackSettings(dir) {
  const host = Buffer.from('127.0.0.1', 'latin1');
  const file = Buffer.alloc(16 + host.length);
  Buffer.from([0x1d, 0xf1, 0xde, 0xff]).copy(file, 0);
  file.writeUInt32LE(106, 4);
  file.writeUInt32LE(host.length, 8);
  host.copy(file, 12);
  file.writeUInt32LE(9, 12 + host.length);
  fs.mkdirSync(path.join(dir, 'data'), { recursive: true });
  fs.writeFileSync(path.join(dir, 'data', 'settings.dat'), file);
}

// Starts the program in a new temporary directory (on its host: see
// lib/host.mjs). The output streams are always drained, so that a chatty
// program never blocks on a full pipe. With closeOutput the reading ends of
// both pipes are closed at once: every write of the program to them then
// fails.
function startProgram(program, { shellPrefix, closeOutput } = {}) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'pellamo-e2e-'));
  writeLoopbackSettings(dir);
  const child = shellPrefix
    ? spawn('/bin/sh', ['-c', `${shellPrefix}; exec "$0"`, program], { cwd: dir, stdio: ['ignore', 'pipe', 'pipe'] })
    : hostFor(program).spawn([], { cwd: dir });
  const proc = { child, dir, stdout: '', stderr: '', exited: null, deaf: Boolean(closeOutput) };
  if (closeOutput) {
    child.stdout.destroy();
    child.stderr.destroy();
  } else {
    // The Windows C runtime ends text lines with CR LF: kept as LF, as on Linux.
    const text = host.isWine ? (t) => t.replace(/\r\n/g, '\n') : (t) => t;
    child.stdout.on('data', (d) => (proc.stdout = text(proc.stdout + d)));
    child.stderr.on('data', (d) => (proc.stderr = text(proc.stderr + d)));
  }
  proc.exit = new Promise((resolve) => {
    child.once('exit', (code, signal) => {
      proc.exited = { code, signal };
      resolve(proc.exited);
    });
  });
  children.add(proc);
  return proc;
}

// Ends the program with its host's end request for SIGTERM and SIGINT (the
// Windows program has no signals: WM_CLOSE), other signals as they are.
async function stopProgram(proc, signal = 'SIGTERM', timeoutMs = 10000) {
  if (proc.exited) return proc.exited;
  if (signal === 'SIGTERM' || signal === 'SIGINT') await host.requestEnd(proc.child);
  else proc.child.kill(signal);
  let timer;
  const outcome = await Promise.race([
    proc.exit,
    new Promise((resolve) => (timer = setTimeout(() => resolve(null), timeoutMs))),
  ]);
  clearTimeout(timer);
  if (!outcome) {
    proc.child.kill('SIGKILL');
    await proc.exit;
    throw new Error(`program did not end within ${timeoutMs} ms of ${signal}`);
  }
  return outcome;
}

function cleanUp(proc) {
  if (!proc.exited) proc.child.kill('SIGKILL');
  fs.rmSync(proc.dir, { recursive: true, force: true });
  children.delete(proc);
}

// A bare TCP probe would show up as a failed handshake on the program's
// error stream, so readiness is probed with a real WebSocket handshake.
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

async function waitUntilServing(proc, timeoutMs = host.startupMs) {
  const deadline = Date.now() + timeoutMs;
  while (Date.now() < deadline) {
    if (proc.exited) throw new Error(`program exited early: ${JSON.stringify(proc.exited)}\n${proc.stderr}`);
    // The port is shared with other programs on the machine: it must be this
    // instance that listens (unless its output cannot be read).
    if ((proc.deaf || /^listening on /m.test(proc.stdout)) && (await handshakeSucceeds())) return;
    await sleep(50);
  }
  throw new Error(`port ${PORT} did not accept within ${timeoutMs} ms; stderr: ${proc.stderr}`);
}

async function waitForOutput(proc, pattern, timeoutMs) {
  const deadline = Date.now() + timeoutMs;
  while (Date.now() < deadline) {
    if (pattern.test(proc.stderr)) return;
    await sleep(20);
  }
  throw new Error(`no ${pattern} on stderr within ${timeoutMs} ms; got: ${JSON.stringify(proc.stderr)}`);
}

// The lines the WebSocket service writes about its own failures (the program
// may write other notices to the same stream).
function serviceReports(proc) {
  return proc.stderr.split('\n').filter((line) => /^(open|listen|accept|read): /.test(line));
}

// --------------------------------------------------------------------- client

// A connection whose incoming messages are queued, so that a test can await
// them one by one, and whose end is observable.
class Client {
  static async open(options = {}) {
    const client = new Client(options);
    await client.opened;
    return client;
  }

  constructor(options) {
    this.ws = new WebSocket(URL, clientOptions({ perMessageDeflate: false, maxPayload: 0, ...options }));
    this.queue = [];
    this.waiters = [];
    this.closed = false;
    this.opened = new Promise((resolve, reject) => {
      this.ws.once('open', resolve);
      this.ws.once('error', reject);
    });
    this.ws.on('error', () => {});
    this.ws.on('message', (data, isBinary) => this.push({ data, isBinary }));
    this.ws.on('close', () => {
      this.closed = true;
      this.push(null);
    });
  }

  push(item) {
    const waiter = this.waiters.shift();
    if (waiter) waiter(item);
    else this.queue.push(item);
    if (item === null) for (const w of this.waiters.splice(0)) w(null);
  }

  // The next message as { data, isBinary }, or null when the connection ended.
  next(timeoutMs = 10000) {
    if (this.queue.length) {
      const item = this.queue[0];
      if (item !== null) this.queue.shift();
      return Promise.resolve(item);
    }
    if (this.closed) return Promise.resolve(null);
    return new Promise((resolve, reject) => {
      const timer = setTimeout(() => {
        this.waiters.splice(this.waiters.indexOf(waiter), 1);
        reject(new Error(`no message within ${timeoutMs} ms`));
      }, timeoutMs);
      const waiter = (item) => {
        clearTimeout(timer);
        resolve(item);
      };
      this.waiters.push(waiter);
    });
  }

  send(buffer, binary = true) {
    return new Promise((resolve, reject) =>
      this.ws.send(buffer, { binary }, (err) => (err ? reject(err) : resolve())),
    );
  }

  // Sends one request and returns the reply bytes (which must be binary).
  async ask(buffer) {
    await this.send(buffer);
    const reply = await this.next();
    assert.ok(reply, 'connection ended instead of replying');
    assert.equal(reply.isBinary, true);
    return reply.data;
  }

  // Ends the connection from this side without a closing handshake.
  end() {
    this.ws.terminate();
  }
}

async function withClient(fn, options) {
  const client = await Client.open(options);
  try {
    return await fn(client);
  } finally {
    client.end();
  }
}

// A connection is still served when it answers command 52 normally.
async function assertStillServed(client, uid = 'alive') {
  const reply = parseHeader(await client.ask(request(uid, 52)));
  assert.equal(reply.uid, uid);
  assert.equal(reply.answer, 53);
  assert.equal(reply.result, 0);
}

// ---------------------------------------------------------------------- cases

const CURRENT_CSP_X = '01000000780100000035000000000000' + '00' + 'feffffff';

const cases = [];
const test = (name, fn) => cases.push({ name, fn });

test('command 16 returns the whole error catalog in UTF-8', () =>
  withClient(async (c) => {
    const reply = await c.ask(request('cat', 16));
    const h = parseHeader(reply);
    assert.deepEqual([h.uid, h.format, h.answer, h.result], ['cat', 1, 17, 0]);
    const decoder = new TextDecoder('utf-8', { fatal: true });
    const records = [];
    let at = 0;
    const p = h.payload;
    while (at < p.length) {
      assert.ok(at + 8 <= p.length, `record header cut at ${at}`);
      const code = p.readUInt32LE(at);
      const length = p.readUInt32LE(at + 4);
      assert.ok(at + 8 + length <= p.length, `text of code ${code} runs past the end`);
      const text = decoder.decode(p.subarray(at + 8, at + 8 + length));
      records.push({ code, text });
      at += 8 + length;
    }
    assert.equal(records.length, 84);
    assert.equal(records[0].code, 1);
    assert.equal(records[records.length - 1].code, 87);
    for (let i = 1; i < records.length; i++) assert.ok(records[i - 1].code < records[i].code, 'codes ascend');
    assert.deepEqual(records, catalog);
    assert.equal(records.find((r) => r.code === 32).text.codePointAt(0), 0x43, 'code 32 starts with Latin C');
  }));

test('command 52 with uid "x" is answered byte for byte', () =>
  withClient(async (c) => {
    assert.equal(hex(await c.ask(request('x', 52))), CURRENT_CSP_X);
    // Any format field and any payload bytes give the same answer.
    assert.equal(hex(await c.ask(request('x', 52, Buffer.from([1, 2, 3]), 0xdeadbeef))), CURRENT_CSP_X);
    // An empty uid comes back as four zero bytes.
    assert.equal(hex(await c.ask(request('', 52))), '00000000' + '01000000' + '35000000' + '00000000' + 'feffffff');
  }));

test('unknown codes 15, 30, 154 get an empty reply and the connection stays', () =>
  withClient(async (c) => {
    for (const code of [15, 30, 154]) {
      assert.equal((await c.ask(request('u', code, Buffer.from('payload')))).length, 0, `code ${code}`);
    }
    await assertStillServed(c);
  }));

test('a text request is answered with a text message of the same bytes', () =>
  withClient(
    async (c) => {
      await c.send(request('x', 52), false);
      const reply = await c.next();
      assert.ok(reply, 'connection ended instead of replying');
      assert.equal(reply.isBinary, false);
      assert.equal(hex(reply.data), CURRENT_CSP_X);
      // And binary again on the same connection.
      assert.equal(hex(await c.ask(request('x', 52))), CURRENT_CSP_X);
    },
    // The reply bytes are not UTF-8; the client must take them as they come.
    { skipUTF8Validation: true },
  ));

test('a zero-length message closes the connection without a reply', async () => {
  const c = await Client.open();
  await c.send(Buffer.alloc(0));
  assert.equal(await c.next(5000), null, 'expected the connection to end');
  await withClient((other) => assertStillServed(other));
});

test('truncated envelopes get an empty reply and the connection stays', () =>
  withClient(async (c) => {
    const full = request('abcde', 52);
    // Every cut inside uid, format field and command code.
    for (let n = 1; n < 4 + 5 + 8; n++) {
      assert.equal((await c.ask(full.subarray(0, n))).length, 0, `cut at ${n} bytes`);
    }
    await assertStillServed(c);
  }));

test('a uid length larger than the message gets an empty reply', () =>
  withClient(async (c) => {
    for (const claimed of [100, 0x7fffffff, 0xffffffff]) {
      const message = Buffer.concat([u32(claimed), Buffer.from('abc'), u32(1), u32(52)]);
      assert.equal((await c.ask(message)).length, 0, `uid length ${claimed}`);
    }
    await assertStillServed(c);
  }));

test('truncated payloads get result 1 without payload and the connection stays', () =>
  withClient(async (c) => {
    const payloads = [
      Buffer.alloc(0), // no blob length at all
      Buffer.from([5, 0]), // blob length cut
      Buffer.concat([u32(100), Buffer.from('abc')]), // blob shorter than its length
      Buffer.concat([u32(0xffffffff), Buffer.from('abc')]),
    ];
    for (const payload of payloads) {
      const reply = await c.ask(request('t', 14, payload));
      assert.equal(hex(reply), hex(Buffer.concat([str('t'), u32(1), u32(15), u32(1)])), `payload ${hex(payload)}`);
    }
    // A well-formed command 14 succeeds on the same connection.
    const ok = parseHeader(await c.ask(request('t', 14, str(Buffer.from([0x30, 0x03, 0x02, 0x01, 0x00])))));
    assert.deepEqual([ok.answer, ok.result, ok.payload.length], [15, 0, 0]);
    await assertStillServed(c);
  }));

test('one connection answers 200 pipelined requests in order', () =>
  withClient(async (c) => {
    const count = 200;
    // Alternate a short and a long command so that replies differ in work.
    const sends = [];
    for (let i = 0; i < count; i++) sends.push(c.send(request(`uid-${i}`, i % 2 ? 16 : 52)));
    await Promise.all(sends);
    for (let i = 0; i < count; i++) {
      const reply = await c.next();
      assert.ok(reply, `connection ended after ${i} replies`);
      const h = parseHeader(reply.data);
      assert.equal(h.uid, `uid-${i}`);
      assert.equal(h.answer, i % 2 ? 17 : 53);
    }
  }));

test('two connections are served at the same time', async () => {
  const slow = await Client.open();
  const quick = await Client.open();
  try {
    // A large command 14 keeps the first connection busy while the second is
    // answered again and again.
    const big = request('big', 14, str(Buffer.alloc(16 << 20, 0x5a)));
    let bigAnswered = false;
    const bigReply = slow.send(big).then(() => slow.next(60000)).then((r) => {
      bigAnswered = true;
      return r;
    });
    let quickAnswers = 0;
    while (!bigAnswered && quickAnswers < 1000) {
      await assertStillServed(quick, `q${quickAnswers}`);
      quickAnswers++;
    }
    const r = await bigReply;
    assert.ok(r, 'large request got no reply');
    const h = parseHeader(r.data);
    assert.deepEqual([h.uid, h.answer, h.result], ['big', 15, 0]);
    assert.ok(quickAnswers > 0, 'the other connection was not served while the large request was in progress');
  } finally {
    slow.end();
    quick.end();
  }
});

test('a message of several MiB is accepted', () =>
  withClient(async (c) => {
    // Larger than the usual 16 MiB default limit of WebSocket libraries.
    const payload = Buffer.alloc(20 << 20, 0xa5);
    assert.equal(hex(await c.ask(request('x', 52, payload))), CURRENT_CSP_X);
  }));

test('a client closing with a closing handshake leaves the service running', async () => {
  const c = await Client.open();
  await assertStillServed(c);
  c.ws.close(1000);
  assert.equal(await c.next(5000), null);
  await withClient((other) => assertStillServed(other));
});

// Cases that run their own program instances; `main` is the instance under test.
const processCases = [];
const processTest = (name, fn) => processCases.push({ name, fn });

processTest('with the port taken, three bind attempts then "listen" and the program keeps running', async (program) => {
  const second = startProgram(program);
  try {
    const started = Date.now();
    await waitForOutput(second, /^listen: .+$/m, Math.max(10000, host.startupMs));
    const elapsed = Date.now() - started;
    assert.ok(elapsed >= 1800, `"listen" reported after ${elapsed} ms, expected about 2 s of bind attempts`);
    assert.deepEqual(serviceReports(second), [second.stderr.match(/^listen: .+$/m)[0]]);
    await sleep(300);
    assert.equal(second.exited, null, 'program ended after failing to listen');
    // The first instance still serves.
    await withClient((c) => assertStillServed(c));
    assert.deepEqual(await stopProgram(second, 'SIGINT'), { code: 0, signal: null });
  } finally {
    cleanUp(second);
  }
});

processTest('the service reported no failure for the cases above', async (program, main) => {
  assert.deepEqual(serviceReports(main), []);
});

processTest(`${host.endName} ends the program with status 0`, async (program, main) => {
  // Leave a connection open: the program must still end promptly.
  const c = await Client.open();
  await assertStillServed(c);
  assert.deepEqual(await stopProgram(main, 'SIGTERM'), { code: 0, signal: null });
  c.end();
});

processTest('a restarted program binds the port at once', async (program) => {
  const again = startProgram(program);
  try {
    // At once: no bind retries, whatever the host needs to start a process.
    await waitUntilServing(again, host.isWine ? host.startupMs : 1500);
    await withClient((c) => assertStillServed(c));
    assert.deepEqual(serviceReports(again), []);
    assert.deepEqual(await stopProgram(again), { code: 0, signal: null });
  } finally {
    cleanUp(again);
  }
});

processTest('writing to an error stream nobody reads does not end the program', async (program) => {
  const deaf = startProgram(program, { closeOutput: true });
  try {
    await waitUntilServing(deaf);
    // Connections that never complete their handshake make the service
    // report "accept" on its error stream.
    for (let i = 0; i < 3; i++) {
      await new Promise((resolve) => {
        const socket = net.connect({ host: '127.0.0.1', port: PORT }, () => {
          socket.destroy();
          resolve();
        });
        socket.once('error', resolve);
      });
    }
    await sleep(200);
    await withClient((c) => assertStillServed(c));
    assert.equal(deaf.exited, null);
    assert.deepEqual(await stopProgram(deaf), { code: 0, signal: null });
  } finally {
    cleanUp(deaf);
  }
});

processTest('accept failures (no descriptors left) are retried without flooding', async (program) => {
  if (host.skip('ulimit -n is a limit of Linux processes')) return;
  // UndefinedBehaviorSanitizer probes memory through a pipe when it first
  // checks an object's dynamic type: with no descriptors left it reports
  // every such first check as a fault. The normal build runs this case.
  if (process.env.PELLAMO_E2E_SANITIZED === '1') {
    console.log('     (skipped in the sanitizer build: its checks need descriptors of their own)');
    return;
  }
  const limited = startProgram(program, { shellPrefix: 'ulimit -n 48' });
  const clients = [];
  try {
    await waitUntilServing(limited);
    // More connections than descriptors: the surplus stays in the backlog.
    for (let i = 0; i < 60; i++) {
      const ws = new WebSocket(URL, clientOptions());
      ws.on('error', () => {});
      clients.push(ws);
    }
    await waitForOutput(limited, /^accept: /m, 5000);
    await sleep(1000);
    const reports = serviceReports(limited).filter((l) => l.startsWith('accept: ')).length;
    assert.ok(reports <= 60, `${reports} accept reports in about a second`);
    for (const ws of clients) ws.terminate();
    clients.length = 0;
    // With descriptors free again the service recovers.
    const deadline = Date.now() + 5000;
    for (;;) {
      try {
        await withClient((c) => assertStillServed(c));
        break;
      } catch (e) {
        if (Date.now() > deadline) throw e;
        await sleep(100);
      }
    }
    assert.equal(limited.exited, null);
    assert.deepEqual(await stopProgram(limited), { code: 0, signal: null });
  } finally {
    for (const ws of clients) ws.terminate();
    cleanUp(limited);
  }
});

// ----------------------------------------------------------------------- main

async function main() {
  const program = process.argv[2] && path.resolve(process.argv[2]);
  if (!program || !fs.existsSync(program)) {
    console.error('usage: node run.mjs <path-to-pellamo>');
    process.exit(2);
  }
  if (await portAccepts(PORT)) {
    console.error(`port ${PORT} is already in use; stop the program that holds it first`);
    process.exit(2);
  }

  let passed = 0;
  let failed = 0;
  const run = async (name, fn) => {
    const started = Date.now();
    try {
      await fn();
      passed++;
      console.log(`ok   ${name} (${Date.now() - started} ms)`);
    } catch (e) {
      failed++;
      console.log(`FAIL ${name}\n     ${String(e && e.stack ? e.stack : e).replace(/\n/g, '\n     ')}`);
    }
  };

  const main = startProgram(program);
  try {
    await waitUntilServing(main);
    for (const c of cases) await run(c.name, c.fn);
    for (const c of processCases) await run(c.name, () => c.fn(program, main));
  } catch (e) {
    failed++;
    console.log(`FAIL start-up\n     ${e && e.stack ? e.stack : e}`);
  } finally {
    for (const proc of [...children]) cleanUp(proc);
    await host.finish();
  }
  console.log(`${passed} passed, ${failed} failed`);
  process.exitCode = failed ? 1 : 0;
}

process.on('exit', () => {
  for (const proc of children) if (!proc.exited) proc.child.kill('SIGKILL');
});

await main();
