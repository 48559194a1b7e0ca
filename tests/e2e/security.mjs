// Who may connect to the service, and how the program ends while it serves.
//
//   node tests/e2e/security.mjs <path-to-pellamo>
//
// The handshake's Origin against the allow-list (the build's default and the
// PELLAMO_ALLOWED_ORIGINS override), the listen address (loopback by default,
// PELLAMO_LISTEN_ADDRESS), the "listening on" line, and an end of the process
// while commands are in flight on several connections.
import assert from 'node:assert/strict';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import WebSocket from 'ws';
import { PLUGIN_PORT, connect, handshakeStatus as handshake, hostFor, portAccepts, runCases, sleep, startProgram, stop } from './lib/harness.mjs';

const program = path.resolve(process.argv[2] ?? '');
// A client without an Origin is served when it is a program of this user.
// Under wine this Linux test process is one whose owner wine cannot name.
const LOCAL_PROGRAM = hostFor(program).isWine ? 403 : 101;
const CABINET_ORIGIN = 'https://lk.pellamo.example'; // the build's default cabinet address
const GET_ERROR_LIST = 16;


async function refusedLines(proc) {
  await sleep(100);
  return proc.stderr.split('\n').filter((l) => l.startsWith('origin refused: '));
}

// An address of this machine that is not loopback; 127.0.0.2 (a loopback
// address the service does not listen on) where there is none, as in a
// network namespace of its own.
function otherAddress() {
  for (const list of Object.values(os.networkInterfaces())) {
    for (const a of list ?? []) if (a.family === 'IPv4' && !a.internal) return a.address;
  }
  return '127.0.0.2';
}

const cases = [];
const test = (name, fn) => cases.push([name, fn]);

test('only listed origins are upgraded; others get 403 and one line naming them', async () => {
  const { proc } = await startProgram(program, {
    env: { PELLAMO_ALLOWED_ORIGINS: ' https://lk.example.org\thttp://localhost:8080 ' },
  });
  try {
    assert.equal(await handshake(null), LOCAL_PROGRAM, 'no Origin: a local program');
    assert.equal(await handshake('https://lk.example.org'), 101);
    assert.equal(await handshake('HTTPS://LK.Example.ORG'), 101, 'scheme and host without case');
    assert.equal(await handshake('http://localhost:8080'), 101);
    const refused = [
      'https://evil.example',
      'https://lk.example.org.evil.example', // the allowed host as a prefix of another
      'https://evil-lk.example.org',
      'http://lk.example.org', // another scheme
      'https://lk.example.org:8443',
      'http://localhost',
      'null',
      CABINET_ORIGIN, // the build's default no longer applies
    ];
    for (const origin of refused) assert.equal(await handshake(origin), 403, origin);
    assert.deepEqual(await refusedLines(proc), refused.map((o) => `origin refused: ${o}`));

    // An allowed page's connection serves commands as before.
    const client = await connect(`ws://127.0.0.1:${PLUGIN_PORT}/`, { origin: 'https://lk.example.org' });
    const reply = await client.send(GET_ERROR_LIST);
    assert.equal(reply.result, 0);
    client.close();
  } finally {
    await stop(proc);
  }
});

test('by default the cabinet origin is allowed; "null" only when listed', async () => {
  let { proc } = await startProgram(program);
  try {
    assert.equal(await handshake(CABINET_ORIGIN), 101);
    assert.equal(await handshake(`${CABINET_ORIGIN}.evil.example`), 403);
    assert.equal(await handshake('null'), 403);
  } finally {
    await stop(proc);
  }
  ({ proc } = await startProgram(program, { env: { PELLAMO_ALLOWED_ORIGINS: 'null' } }));
  try {
    assert.equal(await handshake('null'), 101);
    assert.equal(await handshake(CABINET_ORIGIN), 403);
  } finally {
    await stop(proc);
  }
});

// The status line of a handshake sent as raw bytes (clients refuse to send
// such an Origin themselves).
function rawHandshake(originBytes) {
  return new Promise((resolve, reject) => {
    const socket = net.connect({ host: '127.0.0.1', port: PLUGIN_PORT });
    let answer = '';
    socket.on('data', (d) => (answer += d.toString('latin1')));
    socket.on('end', () => resolve(answer.split('\r\n')[0]));
    socket.on('error', reject);
    socket.write(
      Buffer.concat([
        Buffer.from('GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n' +
          'Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\nOrigin: '),
        originBytes,
        Buffer.from('\r\n\r\n'),
      ]),
    );
  });
}

test('a refused origin cannot break the error line', async () => {
  const { proc } = await startProgram(program);
  try {
    const status = await rawHandshake(Buffer.from('https://x.example\xff\x1b\\', 'latin1'));
    // Either refused as a forbidden origin or as a malformed request: never upgraded.
    assert.doesNotMatch(status, / 101 /);
    for (const line of await refusedLines(proc)) assert.match(line, /^origin refused: [\x20-\x7e]*$/);
    assert.equal(await rawHandshake(Buffer.from('https://x.example\xff\\', 'latin1')), 'HTTP/1.1 403 Forbidden');
    assert.deepEqual((await refusedLines(proc)).at(-1), 'origin refused: https://x.example\\xff\\x5c');
  } finally {
    await stop(proc);
  }
});

test('loopback only by default; PELLAMO_LISTEN_ADDRESS=0.0.0.0 listens everywhere', async () => {
  const other = otherAddress();
  let { proc } = await startProgram(program);
  try {
    assert.match(proc.stdout, /^listening on ws:\/\/127\.0\.0\.1:3000\n/m);
    assert.equal(await portAccepts(PLUGIN_PORT, '127.0.0.1'), true);
    assert.equal(await portAccepts(PLUGIN_PORT, other), false, `reachable at ${other}`);
  } finally {
    await stop(proc);
  }
  ({ proc } = await startProgram(program, { env: { PELLAMO_LISTEN_ADDRESS: '0.0.0.0' } }));
  try {
    assert.match(proc.stdout, /^listening on ws:\/\/0\.0\.0\.0:3000\n/m);
    // A page reaches it from the network; a program without an Origin
    // only from this machine.
    assert.equal(await handshake(CABINET_ORIGIN, other), 101);
  } finally {
    await stop(proc);
  }
});

test('ending the program while commands run on several connections exits cleanly', async () => {
  const { proc } = await startProgram(program);
  const clients = await Promise.all(Array.from({ length: 8 }, () => connect()));
  let running = true;
  const loops = clients.map(async (c) => {
    while (running && (await c.send(GET_ERROR_LIST, Buffer.alloc(0), { timeoutMs: 10000 })) !== null);
  });
  await sleep(300);
  const exited = await stop(proc, 'SIGTERM', 10000);
  running = false;
  await Promise.allSettled(loops);
  assert.deepEqual(exited, { code: 0, signal: null }, proc.stderr);
  assert.doesNotMatch(proc.stderr, /AddressSanitizer|runtime error|terminate/);
});

await runCases(cases);
