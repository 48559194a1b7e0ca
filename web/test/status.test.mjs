// status() and requireVersion() against a stand-in HTTP server answering
// GET /status as the program does (and as older or broken ones do).
import assert from 'node:assert/strict';
import http from 'node:http';
import { after, before, test } from 'node:test';
import {
  PellamoClient, PellamoProtocolError, PellamoUnreachableError, PellamoVersionError,
} from '../pellamo-client.js';

const STATUS = {
  product: 'Pellamo', version: '1.01.276', variant: 'plugin', listen: 'ws://127.0.0.1:3000', transportServer: true,
};
let server;
let url;
// What the stand-in answers: (request, response) => void.
let answer;
const seen = [];

before(async () => {
  server = http.createServer((req, res) => {
    seen.push(`${req.method} ${req.url}`);
    answer(req, res);
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  url = `ws://127.0.0.1:${server.address().port}/any/path`;
});

after(() => server.close());

const json = (body, status = 200) => (req, res) => {
  res.writeHead(status, { 'Content-Type': 'application/json', 'Cache-Control': 'no-store' });
  res.end(typeof body === 'string' ? body : JSON.stringify(body));
};

test('status() reads the program\'s account of itself from GET /status on the service\'s port', async () => {
  answer = json({ ...STATUS, extra: 'ignored' });
  seen.length = 0;
  const client = new PellamoClient({ url });
  assert.deepEqual(await client.status(), STATUS);
  assert.deepEqual(seen, ['GET /status']);
  assert.equal(client.connected, false, 'no WebSocket is opened for the status');
  assert.deepEqual(await client.requireVersion({ minimum: '1.1.276' }), STATUS);
  await assert.rejects(client.requireVersion({ minimum: '1.01.300' }),
    (e) => e instanceof PellamoVersionError && e.installed === '1.01.276' && e.required === '1.01.300');
  await assert.rejects(client.requireVersion({}), TypeError);
});

test('a refused origin, an older program and a damaged answer are told apart', async () => {
  const client = new PellamoClient({ url });
  answer = (req, res) => res.writeHead(403).end();
  await assert.rejects(client.status(), (e) => e instanceof PellamoUnreachableError && /403/.test(e.message));
  answer = (req, res) => res.writeHead(426, { Upgrade: 'websocket' }).end();
  await assert.rejects(client.status(), (e) => e instanceof PellamoProtocolError && /HTTP 426/.test(e.message));
  for (const body of ['{"product":"Pellamo"', '[]', JSON.stringify({ ...STATUS, transportServer: 'yes' }),
    JSON.stringify({ ...STATUS, version: 1.01 })]) {
    answer = json(body);
    await assert.rejects(client.status(), PellamoProtocolError, body);
  }
});

test('status() is bounded by its timeout and by an AbortSignal', { timeout: 10000 }, async () => {
  answer = () => {};  // never answers
  const client = new PellamoClient({ url, connectTimeout: 100 });
  await assert.rejects(client.status(), (e) => e instanceof PellamoUnreachableError && /timed out/.test(e.message));
  const abort = new AbortController();
  setTimeout(() => abort.abort(new Error('left the page')), 30);
  await assert.rejects(client.status({ signal: abort.signal, timeout: 0 }), /left the page/);
  server.closeAllConnections();
});

test('a closed port is "not reachable"; the fetch can be given', async () => {
  const closed = new PellamoClient({ url: 'ws://127.0.0.1:9/' });
  await assert.rejects(closed.status(), PellamoUnreachableError);
  const asked = [];
  const client = new PellamoClient({
    fetch: async (address, init) => {
      asked.push([address, init.cache, init.credentials]);
      return new Response(JSON.stringify(STATUS), { status: 200 });
    },
  });
  assert.equal((await client.status()).version, '1.01.276');
  assert.deepEqual(asked, [['http://127.0.0.1:3000/status', 'no-store', 'omit']]);
});
