// The client library against the running service: pellamo pointed at the
// local CA peer, both started here (PELLAMO_PROGRAM, default build/pellamo),
// unless PELLAMO_URL names a service that is already running (then only the
// tests that need no CA run).
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { after, before, describe, test } from 'node:test';
import WebSocket from 'ws';
import {
  CardField, CertStore, PacketType, PellamoClient, PellamoError, PellamoProtocolError, PellamoUnreachableError,
  emptyCard, encodeCard,
} from '../pellamo-client.js';
import { peerPath, repoRoot, startPeer, startProgram, stopAll } from '../../tests/e2e/lib/harness.mjs';

const external = process.env.PELLAMO_URL;
const programPath = process.env.PELLAMO_PROGRAM ?? path.join(repoRoot, 'build', 'pellamo');
const ALLOWED = 'http://cabinet.example';
let peer = null;
let client;

before(async () => {
  if (!external) {
    peer = await startPeer(peerPath(programPath));
    await startProgram(programPath, { transportPort: peer.port, env: { PELLAMO_ALLOWED_ORIGINS: ALLOWED } });
  }
  client = new PellamoClient({ url: external ?? 'ws://127.0.0.1:3000/' });
});

after(async () => {
  client?.close();
  await stopAll();
});

// Commands still missing from the service answer with an empty message.
async function available(t, code) {
  try {
    await client.send(code, new Uint8Array(0));
    return true;
  } catch (e) {
    if (e instanceof PellamoProtocolError && /not known/.test(e.message)) {
      t.skip(`command ${code} is not served yet`);
      return false;
    }
    return true;
  }
}

describe('service basics', () => {
  test('the catalog is the one the reference documents', async () => {
    const catalog = JSON.parse(fs.readFileSync(path.join(repoRoot, 'tests', 'e2e', 'catalog.json'), 'utf8'));
    const map = await client.getErrorList();
    assert.deepEqual([...map], catalog.map((e) => [e.code, e.text]));
    assert.equal(await client.errorText(61), 'Введенный идентификатор конверта не валиден.');
    assert.equal(await client.errorText(36), 'Неизвестная ошибка');
  });

  test('an unknown command fails alone; the connection goes on', async () => {
    await assert.rejects(client.send(30), /not known/);
    assert.equal(typeof (await client.getCurrentCSP()), 'number');
  });

  test('GET /status: the program, its version and its transport server; CORS for allowed origins only', async (t) => {
    const status = await client.status();
    assert.equal(status.product, 'Pellamo');
    assert.match(status.version, /^\d+\.\d\d\.\d{3}$/);
    assert.equal(status.listen, 'ws://127.0.0.1:3000');
    if (external) return;
    assert.equal(status.transportServer, true);
    const allowed = await fetch(client.statusUrl, { headers: { Origin: ALLOWED } });
    assert.equal(allowed.status, 200);
    assert.equal(allowed.headers.get('access-control-allow-origin'), ALLOWED);
    assert.match(allowed.headers.get('content-type'), /^application\/json/);
    assert.equal(allowed.headers.get('cache-control'), 'no-store');
    assert.deepEqual(await allowed.json(), status);
    const foreign = await fetch(client.statusUrl, { headers: { Origin: 'http://evil.example' } });
    assert.equal(foreign.status, 403);
    assert.equal(foreign.headers.get('access-control-allow-origin'), null);
    const preflight = await fetch(client.statusUrl, {
      method: 'OPTIONS',
      headers: { Origin: ALLOWED, 'Access-Control-Request-Method': 'GET', 'Access-Control-Request-Private-Network': 'true' },
    });
    assert.equal(preflight.status, 204);
    assert.equal(preflight.headers.get('access-control-allow-origin'), ALLOWED);
    assert.equal(preflight.headers.get('access-control-allow-private-network'), 'true');
    await assert.rejects(client.requireVersion({ minimum: '99.0.0' }), (e) => e.code === 'VERSION');
  });

  test('a refused origin and a closed port are "not reachable", distinct from command errors', async (t) => {
    if (external) return t.skip('needs the service started here');
    const foreign = new PellamoClient({ createSocket: (url) => new WebSocket(url, { origin: 'http://evil.example' }) });
    await assert.rejects(foreign.getCurrentCSP(), PellamoUnreachableError);
    const allowed = new PellamoClient({ createSocket: (url) => new WebSocket(url, { origin: ALLOWED }) });
    assert.equal(typeof (await allowed.getCurrentCSP()), 'number');
    allowed.close();
    const nobody = new PellamoClient({ url: 'ws://127.0.0.1:9/' });
    await assert.rejects(nobody.connect(), PellamoUnreachableError);
  });
});

// Envelope identifiers and PINs end in a check character (weighted sum mod 36).
function withCheck(body, weights) {
  const r = [...body].reduce((s, ch, i) => s + (ch.charCodeAt(0) - 48) * weights[i], 0) % 36;
  return body + (r <= 9 ? String(r) : String.fromCharCode(r + 55));
}

describe('certificate cycle through the library', () => {
  const id = withCheck('41872', [3, 7, 9, 4, 1]);
  const pin = withCheck('7351904', [7, 2, 3, 7, 9, 4, 1]);
  const card = {
    ...emptyCard(),
    inn: '5032149676', ogrn: '1025032149670', kpp: '503201001', companyName: 'ООО «Ромашка»',
    surname: 'Иванов', name: 'Пётр', patronymic: 'Сергеевич', snils: '50321496744', position: 'Директор',
    phone: '+7 495 000-00-00', email: 'ivanov@romashka.example',
    address: { region: 'Москва', city: 'Москва', street: 'Тверская', house: '1', korpus: '', apartment: '' },
    envelopeId: id, csp: 80, purposeIds: [3],
    attachments: [{ docType: 1, fileName: 'паспорт.pdf', contents: Uint8Array.of(1, 2, 3) },
      { docType: 2, fileName: 'пусто', contents: new Uint8Array(0) }],
  };
  let request;

  test('envelope: the card comes back in the web form', async (t) => {
    if (!peer) return t.skip('needs the local CA');
    if (!(await available(t, 120))) return;
    await peer.control(`envelope/${id}?password=${pin}&kind=80`, encodeCard(card, { form: 'ca' }));
    await assert.rejects(client.openEnvelope({ envelopeId: '12345' }), (e) => e instanceof PellamoError && e.code === 61);
    await client.setEnvelopePin({ pin });
    const back = await client.openEnvelope({ envelopeId: id });
    assert.equal(back.companyName, 'ООО «Ромашка»');
    assert.equal(back.csp, 80);
    assert.deepEqual(back.purposes, ['1.2.643.6.7']);
    assert.deepEqual(back.attachments.map((a) => a.fileName), ['паспорт.pdf']);
    assert.deepEqual(back.address, card.address);
  });

  test('request, post to the CA, install, list, authenticate', async (t) => {
    if (!peer) return t.skip('needs the local CA');
    if (!(await available(t, 122)) || !(await available(t, 22))) return;
    await client.createPartnerCard({ key: id });
    await client.setCardField({ key: id, packetType: PacketType.card, field: CardField.surname, value: 'Петров' });
    await client.setRequestedCSP({ key: id, packetType: PacketType.card, csp: 80 });
    request = await client.requestCertificate({ container: `lib-${id}` });
    assert.equal(request.envelopeId, id);
    assert.ok(request.packet.length > 100);
    const posted = await peer.post('/api/client/setRequestToCert', request.packet);
    assert.equal(posted.status, 200);
    const uuid = posted.body.subarray(17).toString('latin1');
    await client.installReleasedCertificate({ uuid, container: request.container, csp: request.csp });

    const roots = Buffer.alloc(4);  // no trusted roots: every certificate is listed as untrusted
    await client.setRootCACerts({ roots });
    await client.setCertStore({ store: CertStore.personal });
    const list = await client.listCertificates();
    assert.equal(list.length, 1);
    assert.equal(list[0].acceptable, false);
    const auth = await client.authenticate({ index: list[0].index });
    assert.equal(auth.signature.length, 64);
    assert.equal(auth.signed.length, 4 + auth.certificate.length + 64);
    await assert.rejects(client.authenticate({ index: 7 }), (e) => e instanceof PellamoError && e.code === 40 && e.text.length > 0);
  });
});
