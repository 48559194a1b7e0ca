// The client's connection handling against a scripted stand-in service
// (npm ws on a free loopback port): reply matching, failures, reconnection.
import assert from 'node:assert/strict';
import net from 'node:net';
import { after, before, test } from 'node:test';
import { WebSocketServer } from 'ws';
import {
  PellamoClient, PellamoError, PellamoProtocolError, PellamoUnreachableError, Reader, Writer,
} from '../pellamo-client.js';

let server;
let url;
// How the stand-in answers a request: (uid, command, payload reader, socket) => void.
let behaviour;

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
  const [csp, pin] = await Promise.all([client.getCurrentCSP(), client.setEnvelopePin('5032149K')]);
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
  await assert.rejects(client.openEnvelope('12345'), (e) => e instanceof PellamoError && e.code === 61 &&
    e.text === 'Введенный идентификатор конверта не валиден.' && e.command === 120);
  client.close();
});

test('an empty message fails the oldest waiting command; a wrong answer code is refused', async () => {
  behaviour = (uid, command, r, socket) => {
    if (command === 142) socket.send(new Uint8Array(0));
    else reply(socket, uid, 99, 0);
  };
  const client = new PellamoClient({ url });
  await assert.rejects(client.createPartnerCard('k'), /not known to the service/);
  await assert.rejects(client.setCertStore(0), /answered with code 99/);
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
  const first = client.setCardField({ key: 'k', packetType: 1, field: 2, value: 'x' });
  const second = client.setCardField('k', 1, 2, 'y');
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
  await assert.rejects(client.requestCertificate('c'), /damaged/);
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
