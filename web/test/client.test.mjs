// The client's connection handling against a scripted stand-in service
// (npm ws on a free loopback port): reply matching, failures, reconnection.
import assert from 'node:assert/strict';
import net from 'node:net';
import { after, before, test } from 'node:test';
import { WebSocketServer } from 'ws';
import {
  DEFAULT_CONNECT_TIMEOUT, PellamoBlockedError, PellamoClient, PellamoError, PellamoProtocolError,
  PellamoUnreachableError, Reader, Writer,
} from '../pellamo-client.js';

let server;
let url;
// How the stand-in answers a request: (uid, command, payload reader, socket) => void.
let behaviour;
// The catalog (command 16) is answered unless this is set.
let catalogHeld = false;

function reply(socket, uid, answer, result, payload = new Uint8Array(0)) {
  socket.send(new Writer().text(uid).u32(1).u32(answer).u32(result).raw(payload).bytes());
}

before(async () => {
  server = new WebSocketServer({ host: '127.0.0.1', port: 0 });
  await new Promise((resolve) => server.once('listening', resolve));
  url = `ws://127.0.0.1:${server.address().port}/`;
  server.on('connection', (socket) => {
    socket.on('message', (data) => {
      const r = new Reader(new Uint8Array(data));
      const uid = r.text();
      r.u32();
      const command = r.u32();
      if (command === 16 && catalogHeld) return;
      if (command === 16) {
        reply(socket, uid, 17, 0, new Writer().u32(1).text('Произошла внутренняя ошибка.').u32(61).text('Введенный идентификатор конверта не валиден.').bytes());
        return;
      }
      behaviour(uid, command, r, socket);
    });
  });
});

after(() => server.close());

test('replies are matched by uid, also out of order', async () => {
  const held = [];
  behaviour = (uid, command, r, socket) => {
    held.push(() => reply(socket, uid, command + 1, 0, new Writer().u32(command === 52 ? 80 : 0).bytes()));
    if (held.length === 2) held.reverse().forEach((send) => send());
  };
  const client = new PellamoClient({ url });
  const [csp, pin] = await Promise.all([client.getCurrentCSP(), client.setEnvelopePin({ pin: '5032149K' })]);
  assert.equal(csp, 80);
  assert.equal(pin, undefined);
  client.close();
});

test('a non-zero result rejects with the code and the catalog text', async () => {
  behaviour = (uid, command, r, socket) => {
    assert.equal(r.text(), '12345');
    reply(socket, uid, 121, 61);
  };
  const client = new PellamoClient({ url });
  await assert.rejects(client.openEnvelope({ envelopeId: '12345' }), (e) => e instanceof PellamoError && e.code === 61 &&
    e.text === 'Введенный идентификатор конверта не валиден.' && e.command === 120);
  client.close();
});

test('an empty message fails the oldest waiting command; a wrong answer code is refused', async () => {
  behaviour = (uid, command, r, socket) => {
    if (command === 142) socket.send(new Uint8Array(0));
    else reply(socket, uid, 99, 0);
  };
  const client = new PellamoClient({ url });
  await assert.rejects(client.createPartnerCard({ key: 'k' }), /not known to the service/);
  await assert.rejects(client.setCertStore({ store: 0 }), /answered with code 99/);
  client.close();
});

test('a connection closed without a reply rejects every waiting command, and the next call reconnects', async () => {
  let calls = 0;
  behaviour = (uid, command, r, socket) => {
    calls += 1;
    if (command === 40) setTimeout(() => socket.close(), 20);
    else reply(socket, uid, command + 1, 0, new Writer().u32(75).bytes());
  };
  const client = new PellamoClient({ url });
  const first = client.setCardField({ key: 'k', packetType: 1, field: 9, value: 'x' });
  const second = client.setCardField({ key: 'k', packetType: 1, field: 9, value: 'y' });
  for (const p of [first, second]) {
    await assert.rejects(p, (e) => e instanceof PellamoProtocolError && /without a reply/.test(e.message));
  }
  assert.equal(client.connected, false);
  assert.equal(await client.getCurrentCSP(), 75);
  assert.equal(calls, 3);
  client.close();
});

test('a damaged reply payload rejects instead of yielding garbage', async () => {
  behaviour = (uid, command, r, socket) => reply(socket, uid, 123, 0, new Writer().text('50321F').bytes());
  const client = new PellamoClient({ url });
  await assert.rejects(client.requestCertificate({ container: 'c' }), /damaged/);
  client.close();
});

test('no service, or a refused handshake, is reported as not reachable', async () => {
  const closed = await new Promise((resolve) => {
    const s = net.createServer().listen(0, '127.0.0.1', () => {
      const port = s.address().port;
      s.close(() => resolve(port));
    });
  });
  const client = new PellamoClient({ url: `ws://127.0.0.1:${closed}/` });
  await assert.rejects(client.getCurrentCSP(), (e) => e instanceof PellamoUnreachableError && e.code === 'UNREACHABLE');

  const refusing = net.createServer((s) => s.end('HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n'));
  await new Promise((resolve) => refusing.listen(0, '127.0.0.1', resolve));
  const refused = new PellamoClient({ url: `ws://127.0.0.1:${refusing.address().port}/` });
  await assert.rejects(refused.connect(), PellamoUnreachableError);
  refusing.close();
});

// A port on which nothing listens.
function closedPort() {
  return new Promise((resolve) => {
    const s = net.createServer().listen(0, '127.0.0.1', () => {
      const port = s.address().port;
      s.close(() => resolve(port));
    });
  });
}

const csp = (value) => new Writer().u32(value).bytes();

test('methods take one object of named arguments, flags as booleans; nothing is sent otherwise', async () => {
  let sent = 0;
  behaviour = () => (sent += 1);
  const client = new PellamoClient({ url });
  await assert.rejects(client.openEnvelope('123456'), /takes one object of named arguments/);
  await assert.rejects(client.encryptSign(new Uint8Array(2)), TypeError);
  await assert.rejects(client.setExtraPurpose({ key: 'k', packetType: 1, oid: '1.2', add: 1 }), /add: expected true or false/);
  await assert.rejects(client.setCardField({ key: 'k', packetType: 1, field: 4, value: 'x' }), /field|integer/);
  assert.equal(sent, 0);
  client.close();
});

test('an aborted call rejects at once; its late reply and an unknown-command reply keep their places', { timeout: 10000 }, async () => {
  // Commands 142 and 124 are held until the test lets them go, 142 as
  // "unknown" to this stand-in.
  const held = [];
  let arrived;
  const heldOne = () => new Promise((resolve) => (arrived = resolve));
  behaviour = (uid, command, r, socket) => {
    if (command === 142) held.push(() => socket.send(new Uint8Array(0)));
    else if (command === 124) held.push(() => reply(socket, uid, 125, 0));
    else reply(socket, uid, command + 1, 0, csp(80));
    arrived?.();
  };
  const release = () => held.splice(0).forEach((send) => send());
  const client = new PellamoClient({ url });
  const before = new AbortController();
  before.abort();
  await assert.rejects(client.getCurrentCSP({ signal: before.signal }), { name: 'AbortError' });

  const abort = new AbortController();
  let received = heldOne();
  const first = client.createPartnerCard({ key: 'k', signal: abort.signal });
  await received;
  received = heldOne();
  const second = client.setEnvelopePin({ pin: '1' });
  await received;
  abort.abort(new Error('the user left the page'));
  await assert.rejects(first, /the user left the page/);
  release();
  // The empty message answers the aborted 142, not the waiting 124.
  assert.equal(await second, undefined);
  assert.equal(await client.getCurrentCSP(), 80);

  // The same after a timeout.
  const late = client.createPartnerCard({ key: 'k', timeout: 30 });
  await assert.rejects(late, /no reply within 30 ms/);
  received = heldOne();
  const next = client.setEnvelopePin({ pin: '2' });
  await received;
  release();
  assert.equal(await next, undefined);
  client.close();
});

test('connected and disconnected events, with the reason', async () => {
  behaviour = (uid, command, r, socket) => {
    if (command === 40) socket.close();
    else reply(socket, uid, command + 1, 0, csp(75));
  };
  const client = new PellamoClient({ url });
  const events = [];
  client.addEventListener('connected', (e) => events.push(['connected', e.url]));
  client.addEventListener('disconnected', (e) => events.push(['disconnected', e.reason]));
  await client.getCurrentCSP();
  await client.getCurrentCSP();
  await assert.rejects(client.setCardField({ key: 'k', packetType: 1, field: 9, value: 'x' }), PellamoProtocolError);
  await client.getCurrentCSP();
  client.close();
  client.close();
  assert.deepEqual(events.map(([type]) => type), ['connected', 'disconnected', 'connected', 'disconnected']);
  assert.equal(events[0][1], url);
  assert.match(events[1][1], /service closed the connection/);
  assert.equal(events[3][1], 'closed by the page');
});

test('errorText never waits longer than its bound, and a failed command still rejects with its code', async () => {
  catalogHeld = true;
  try {
    behaviour = (uid, command, r, socket) => reply(socket, uid, 121, 61);
    const client = new PellamoClient({ url, errorTextTimeout: 100 });
    const started = Date.now();
    await assert.rejects(client.openEnvelope({ envelopeId: '123456' }),
      (e) => e instanceof PellamoError && e.code === 61 && e.text === 'Ошибка 61');
    assert.equal(await client.errorText(61, { timeout: 50 }), 'Ошибка 61');
    const abort = new AbortController();
    setTimeout(() => abort.abort(), 20);
    assert.equal(await client.errorText(61, { signal: abort.signal, timeout: 60000 }), 'Ошибка 61');
    assert.ok(Date.now() - started < 5000);
    client.close();
  } finally {
    catalogHeld = false;
  }
});

test('the connect timeout is generous by default and bounds a handshake that never ends', async () => {
  assert.ok(DEFAULT_CONNECT_TIMEOUT >= 60000);
  assert.equal(new PellamoClient().connectTimeout, DEFAULT_CONNECT_TIMEOUT);
  const silent = net.createServer(() => {});  // accepts, never answers the upgrade
  await new Promise((resolve) => silent.listen(0, '127.0.0.1', resolve));
  const client = new PellamoClient({ url: `ws://127.0.0.1:${silent.address().port}/`, connectTimeout: 150 });
  await assert.rejects(client.connect(), (e) => e instanceof PellamoUnreachableError && /timed out/.test(e.message));
  // An abort ends the wait before the timeout does.
  const patient = new PellamoClient({ url: `ws://127.0.0.1:${silent.address().port}/`, connectTimeout: 0 });
  const abort = new AbortController();
  setTimeout(() => abort.abort(), 50);
  await assert.rejects(patient.connect({ signal: abort.signal }), { name: 'AbortError' });
  silent.close();
  silent.unref();
});

test('a failed connection is "blocked" only when the browser denies the loopback permission', async (t) => {
  const saved = Object.getOwnPropertyDescriptor(globalThis, 'navigator');
  t.after(() => (saved ? Object.defineProperty(globalThis, 'navigator', saved) : delete globalThis.navigator));
  const browserWith = (states) => Object.defineProperty(globalThis, 'navigator', {
    configurable: true,
    value: {
      permissions: {
        query: async ({ name }) => {
          if (!(name in states)) throw new TypeError(`'${name}' is not a valid permission name`);
          return { state: states[name] };
        },
      },
    },
  });
  const port = await closedPort();
  const client = new PellamoClient({ url: `ws://127.0.0.1:${port}/` });

  browserWith({ 'loopback-network': 'denied' });
  await assert.rejects(client.getCurrentCSP(), (e) => e instanceof PellamoBlockedError &&
    e instanceof PellamoUnreachableError && e.code === 'BLOCKED' && e.permission === 'loopback-network');
  browserWith({ 'local-network-access': 'denied' });  // an older browser's name
  await assert.rejects(client.connect(), (e) => e instanceof PellamoBlockedError && e.permission === 'local-network-access');
  browserWith({ 'loopback-network': 'granted' });
  await assert.rejects(client.connect(), (e) => !(e instanceof PellamoBlockedError) && e.permissionState === 'granted');
  browserWith({});
  await assert.rejects(client.connect(), (e) => e.code === 'UNREACHABLE' && e.permissionState === null);
});
