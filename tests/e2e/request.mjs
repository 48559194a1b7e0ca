// End-to-end tests of the certificate request cycle, as the cabinet page
// drives it: the envelope's card (120), PIN (124), CSP and purposes (54, 56),
// key and request (122), the packet posted to the local CA peer, and the
// released certificate installed (126, 152); partner cards (40, 42, 46, 140,
// 142); the failures the page sees. Kind 81 runs last, against a second peer
// whose GOST 2012 CA key is 512 bits.
//
//   node tests/e2e/request.mjs <path-to-pellamo>
import assert from 'node:assert/strict';
import crypto from 'node:crypto';
import fs from 'node:fs';
import path from 'node:path';
import {
  connect, enc, gostOpenssl, opensslVerifyRequest, peer512State, peerPath, runCases, startPeer, startProgram, stop, tempDir,
} from './lib/harness.mjs';
import { cardBytes, cp1251, envelopeId, envelopePin } from './lib/card.mjs';

const program = process.argv[2];
if (!program) {
  console.error('usage: node tests/e2e/request.mjs <path-to-pellamo>');
  process.exit(2);
}

// The peer, program and page the helpers use; the last case replaces them.
let peer = await startPeer(peerPath(program));
let prog = await startProgram(program, { transportPort: peer.port });
let page = await connect();

// ------------------------------------------------------------------ helpers

let serial = 10000;
const nextId = () => envelopeId(String(serial++).padStart(5, '0'));

// The applicant of the test envelopes: Cyrillic texts, a passport, added
// purposes, attachments (the empty one is dropped on decoding).
function applicant(id, csp) {
  return {
    clientType: 0,
    inn: '7707083893',
    ogrn: '1027700132195',
    kpp: '773601001',
    company: 'ООО «Ромашка»'.replace(/[«»]/g, '"'),
    surname: 'Иванов',
    name: 'Пётр',
    patronymic: 'Сергеевич',
    snils: '11223344595',
    position: 'Генеральный директор',
    passport: {
      docType: 21,
      series: '4509',
      number: '123456',
      issuer: 'ОВД «Арбат» г. Москвы'.replace(/[«»]/g, '"'),
      division: '770-001',
      sex: 1,
      issueDate: [2010, 5, 17],
      placeBirth: 'г. Ёлкино',
      birthday: [1980, 1, 2],
    },
    phone: '+7 495 123-45-67',
    email: 'ivanov@example.ru',
    region: 'Москва',
    city: 'Москва',
    street: 'ул. Тверская',
    house: '1',
    korpus: '2',
    apartment: '№3',
    comment: 'Проверка',
    convertId: id,
    template: 1,
    csp,
    months: '12',
    oids: [33, 26],
    attachments: [
      { type: 1, name: 'паспорт.pdf', data: Buffer.from('%PDF-passport') },
      { type: 2, name: 'пусто.pdf', data: Buffer.alloc(0) },
      { type: 5, name: 'доп.jpg', data: Buffer.from([0xff, 0xd8, 0xff, 0xe0]) },
    ],
  };
}

const OID_TEXT = { 26: '1.2.643.2.64.1.1.1', 33: '1.2.643.2.2.34.25' };

async function addEnvelope(card, pin, kind, status = 'active') {
  const r = await peer.control(`envelope/${card.convertId}?password=${pin}&kind=${kind}&status=${status}`, cardBytes(card, 'ca'));
  assert.equal(r.status, 200, r.body.toString());
}

async function expectResult(command, payload, result, answer = command + 1) {
  const reply = await page.send(command, payload);
  assert.ok(reply, `command ${command} got no reply`);
  assert.equal(reply.answer, answer, `answer code of ${command}`);
  assert.equal(reply.result, result, `result of command ${command}`);
  return reply;
}

// The UUID of an accepted packet: the transport magic, then the UUID string.
function uuidOf(body) {
  const magic = Buffer.from('tesel.message');
  assert.ok(body.subarray(0, magic.length).equals(magic), `not a transport answer: ${body.toString('latin1')}`);
  const r = body.subarray(magic.length);
  const n = r.readUInt32LE(0);
  assert.equal(r.length, 4 + n, `not an acceptance: ${body.toString('latin1')}`);
  return r.subarray(4).toString('latin1');
}

// The key folder of a container of the software provider.
const containerDir = (name) =>
  path.join(prog.cspDir, 'containers', [...cp1251(name)].map((b) => (/[A-Za-z0-9_-]/.test(String.fromCharCode(b)) ? String.fromCharCode(b) : '%' + b.toString(16).toUpperCase().padStart(2, '0'))).join(''));

// The certificates of the personal store "MY" (DER), as the program's host keeps it.
const storeFiles = async () => (await prog.host.storeList(prog.cspDir)).map((c) => c.der);

// An envelope, its card fetched (120) and a request made (124, 122): the
// reply fields of 122.
async function makeRequest(kind, container, { status = 'active' } = {}) {
  const id = nextId();
  const pin = envelopePin('1234567');
  const card = applicant(id, kind);
  await addEnvelope(card, pin, kind, status);
  await expectResult(124, enc.str(pin), 0);
  await expectResult(120, enc.str(id), 0);
  const reply = await expectResult(122, enc.str(container), 0);
  const r = reply.reader();
  const out = { id, pin, card, convertId: r.str(), csp: r.i32(), unique: r.str(), packet: r.blob() };
  r.end();
  return out;
}

// Windows' own crypt32 finds the key container of a certificate the program
// installed in "MY" (its CERT_KEY_PROV_INFO): what other Windows programs
// signing with it rely on.
async function assertKeyLinked(der, container, kind) {
  const sha1 = crypto.createHash('sha1').update(der).digest('hex');
  const key = await prog.host.acquire(sha1, prog.cspDir);
  assert.equal(key.error, undefined, `CryptAcquireCertificatePrivateKey on the installed certificate: ${key.error}`);
  assert.ok([container, '\\\\.\\FILES\\' + container].includes(key.container), `container ${key.container}`);
  assert.equal(key.provType, kind, 'the provider type of the kind');
}

async function postRequest(packet) {
  const res = await peer.post('/api/client/setRequestToCert', packet);
  assert.equal(res.status, 200);
  return uuidOf(res.body);
}

// ------------------------------------------------------------------- cases

const cases = [];
const test = (name, fn) => cases.push([name, fn]);

test('120 returns the envelope card in the web form, byte for byte', async () => {
  const id = nextId();
  const card = applicant(id, 80);
  await addEnvelope(card, envelopePin('7654321'), 80);
  const reply = await expectResult(120, enc.str(id), 0);
  const r = reply.reader();
  assert.equal(r.u32(), 0, 'the result once more');
  const web = r.blob();
  r.end();
  const expected = cardBytes(
    { ...card, oidTexts: card.oids.map((o) => OID_TEXT[o]), attachments: card.attachments.filter((a) => a.data.length > 0) },
    'web',
  );
  assert.ok(web.equals(expected), `web form differs:\n got ${web.toString('hex')}\nwant ${expected.toString('hex')}`);
});

// The cycle as the page drives it: the card selector's CSP and purposes, an
// envelope, 122, the request posted to the CA, 126 installs the certificate.
async function requestCycle(kind, container) {
  await expectResult(142, enc.str('selector'), 0);
  await expectResult(54, enc.cat(enc.str('selector'), enc.u32(1), enc.i32(kind)), 0);
  await expectResult(56, enc.cat(enc.str('selector'), enc.u32(1), enc.str(OID_TEXT[26]), enc.u32(1)), 0, 56);
  const q = await makeRequest(kind, container);
  assert.equal(q.convertId, q.id);
  assert.equal(q.csp, kind);
  assert.equal(q.unique, '\\\\.\\FILES\\' + container);
  assert.ok(fs.existsSync(path.join(containerDir(container), 'key')), 'the container exists');

  const uuid = await postRequest(q.packet);
  const p10 = await peer.control(`pkcs10/${uuid}`);
  assert.equal(p10.status, 200);
  const text = opensslVerifyRequest(p10.body);
  assert.match(text, /Иванов/);
  assert.match(text, /7707083893/);
  for (const o of q.card.oids) assert.ok(text.includes(OID_TEXT[o]), `purpose ${OID_TEXT[o]} in the request`);

  const before = (await storeFiles()).length;
  await expectResult(126, enc.cat(enc.str(uuid), enc.str(container), enc.i32(kind)), 0);
  const installed = fs.readFileSync(path.join(containerDir(container), 'certificate.der'));
  const store = await storeFiles();
  assert.equal(store.length, before + 1, 'one certificate added to the personal store');
  assert.ok(store.some((c) => c.equals(installed)), 'the container certificate is in the store');
  if (prog.host.isWine) await assertKeyLinked(installed, container, kind);
  return { uuid, text };
}

for (const kind of [80, 75]) {
  test(`new request for kind ${kind}: 122, the CA issues, 126 installs it`, () => requestCycle(kind, `Запрос_${kind}`));
}

test('an envelope of kind 81 is opened although the CA signs with a 256-bit key', async () => {
  const id = nextId();
  await addEnvelope(applicant(id, 81), envelopePin('1234567'), 81);
  await expectResult(120, enc.str(id), 0);
});

test('122 on a card without a CSP answers 3 after the container is made', async () => {
  await expectResult(54, enc.cat(enc.str('none'), enc.u32(5), enc.i32(80)), 1);  // the settings take 80
  const id = nextId();
  await addEnvelope(applicant(id, -2), envelopePin('1234567'), 80);
  await expectResult(120, enc.str(id), 0);
  await expectResult(122, enc.str('без_CSP'), 3);
  assert.ok(fs.existsSync(path.join(containerDir('без_CSP'), 'key')));
});

test('152 installs a certificate the page holds in the container only', async () => {
  const q = await makeRequest(80, 'target152');
  const uuid = await postRequest(q.packet);
  const cert = (await peer.control(`certificate/${uuid}`)).body;
  const before = (await storeFiles()).length;
  await expectResult(152, enc.cat(enc.blob(cert), enc.str('target152'), enc.i32(80)), 0);
  assert.ok(fs.readFileSync(path.join(containerDir('target152'), 'certificate.der')).equals(cert));
  assert.equal((await storeFiles()).length, before, 'the personal store is unchanged');
  await expectResult(152, enc.cat(enc.blob(cert), enc.str('nobody152'), enc.i32(80)), 72);
  await expectResult(152, enc.cat(enc.blob(Buffer.from('not a certificate')), enc.str('target152'), enc.i32(80)), 44);
});

test('120 with a 5-character identifier answers 61 and asks the CA nothing', async () => {
  const before = peer.proc.stdout.length;
  await expectResult(120, enc.str('AB12C'), 61);
  await expectResult(120, enc.str('AB12CD'), 61);  // wrong check character
  assert.equal(peer.proc.stdout.length, before, 'no request reached the peer');
});

test('server errors reach the page mapped', async () => {
  const blocked = nextId();
  await addEnvelope(applicant(blocked, 80), envelopePin('1234567'), 80, 'blocked');
  await expectResult(120, enc.str(blocked), 29);
  await expectResult(120, enc.str(nextId()), 26);  // no such envelope

  const q = await makeRequest(80, 'errors126');
  await peer.control('hold/on');
  const held = await postRequest(q.packet);
  await peer.control('hold/off');
  await expectResult(126, enc.cat(enc.str(held), enc.str('errors126'), enc.i32(80)), 23);
  await peer.control(`error/${held}/2`);
  await expectResult(126, enc.cat(enc.str(held), enc.str('errors126'), enc.i32(80)), 24);
  await peer.control(`error/${held}/99`);
  await expectResult(126, enc.cat(enc.str(held), enc.str('errors126'), enc.i32(80)), 32);
  await expectResult(126, enc.cat(enc.str('no-such-uuid'), enc.str('errors126'), enc.i32(80)), 22);
});

test('a rejected answer gives 34, removes the key pair and adds nothing', async () => {
  const q = await makeRequest(80, 'rejected126');
  await peer.control('hold/on');
  const uuid = await postRequest(q.packet);
  await peer.control('hold/off');
  await peer.control(`reject/${uuid}?response=3`);
  const before = (await storeFiles()).length;
  await expectResult(126, enc.cat(enc.str(uuid), enc.str('rejected126'), enc.i32(80)), 34);
  assert.ok(!fs.existsSync(path.join(containerDir('rejected126'), 'key')), 'the key pair is removed');
  assert.equal((await storeFiles()).length, before);
});

test('two connections run 122 and 126 at the same time, repeatedly', async () => {
  const tabs = [page, await connect()];
  try {
    for (let round = 0; round < 4; round += 1) {
      const id = nextId();
      const pin = envelopePin('1234567');
      const card = applicant(id, 80);
      await addEnvelope(card, pin, 80);
      await expectResult(124, enc.str(pin), 0);
      await expectResult(120, enc.str(id), 0);
      const names = tabs.map((_, i) => `tab${i}_round${round}`);
      const replies = await Promise.all(tabs.map((t, i) => t.send(122, enc.str(names[i]))));
      const uuids = [];
      for (const [i, reply] of replies.entries()) {
        assert.equal(reply.result, 0, `122 of tab ${i}`);
        const r = reply.reader();
        r.str();
        r.i32();
        assert.equal(r.str(), '\\\\.\\FILES\\' + names[i], 'each tab gets its own container');
        // The envelope is used once per request: open it again for the next.
        await addEnvelope(card, pin, 80);
        uuids.push(await postRequest(r.blob()));
      }
      const installs = await Promise.all(
        tabs.map((t, i) => t.send(126, enc.cat(enc.str(uuids[i]), enc.str(names[i]), enc.i32(80)))),
      );
      installs.forEach((reply, i) => assert.equal(reply.result, 0, `126 of tab ${i}, round ${round}`));
    }
  } finally {
    tabs[1].close();
  }
});

// Every field of command 40, as the page sends them, and the card they make.
const FIELDS = [
  [3, 'str', 'AB12C7', 'convertId'],
  [4, 'u32', 5, 'template'],
  [5, 'u32', 2, 'clientType'],
  [6, 'str', '500100732259', 'inn'],
  [7, 'str', '773601001', 'kpp'],
  [8, 'str', '304500116000157', 'ogrn'],
  [9, 'str', 'Сидорова', 'surname'],
  [10, 'str', 'Анна', 'name'],
  [11, 'str', 'Юрьевна', 'patronymic'],
  [12, 'str', '11223344595', 'snils'],
  [13, 'str', 'Индивидуальный предприниматель', 'position'],
  [14, 'str', '+7 812 000-00-00', 'phone'],
  [15, 'str', 'anna@example.ru', 'email'],
  [16, 'str', 'Ленинградская обл.', 'region'],
  [17, 'str', 'Гатчина', 'city'],
  [18, 'str', 'пр. 25 Октября', 'street'],
  [19, 'str', '42', 'house'],
  [20, 'str', 'Б', 'korpus'],
  [21, 'str', '7', 'apartment'],
  [22, 'str', 'Клиент партнёра', 'comment'],
  [23, 'str', '4010', 'passport.series'],
  [24, 'str', '654321', 'passport.number'],
  [25, 'str', 'ТП №2 отдела УФМС', 'passport.issuer'],
  [26, 'str', '20150304', 'passport.issueDate'],
  [27, 'str', 'г. Гатчина', 'passport.placeBirth'],
  [28, 'str', '19850607', 'passport.birthday'],
  [29, 'str', 'ИП Сидорова А. Ю.', 'company'],
  [30, 'str', '470-012', 'passport.division'],
  [31, 'u32', 2, 'passport.sex'],
  [32, 'u32', 21, 'passport.docType'],
];

function expectedPartnerCard() {
  const card = { passport: {}, csp: -2, template: 0, months: '12', oids: [] };
  for (const [, , value, where] of FIELDS) {
    const [a, b] = where.split('.');
    const v = /Date|birthday/.test(where) ? [Number(value.slice(0, 4)), Number(value.slice(4, 6)), Number(value.slice(6))] : value;
    if (b) card[a][b] = v;
    else card[a] = v;
  }
  card.months = '1';  // template 5
  return card;
}

const field40 = (key, type, [number, kind, value]) =>
  enc.cat(enc.str(key), enc.u32(type), enc.u32(number), kind === 'u32' ? enc.u32(value) : enc.str(value));

test('partner cards: 142, every field of 40, attachments of 42', async () => {
  await expectResult(142, enc.str('partner'), 0);
  for (const f of FIELDS) await expectResult(40, field40('partner', 1, f), 0);
  await expectResult(142, enc.str('partner'), 0);  // the first card stays
  await expectResult(40, field40('partner', 9, [9, 'str', 'Сидорова']), 0);
  // Template 8 sets 3 months, another template keeps the period.
  await expectResult(142, enc.str('periods'), 0);
  await expectResult(40, field40('periods', 1, [4, 'u32', 8]), 0);
  await expectResult(40, field40('periods', 1, [4, 'u32', 0]), 0);

  const attach = (key, type, docType, name, data) =>
    enc.cat(enc.str(key), enc.u32(type), enc.u32(docType), enc.str(name), enc.blob(data));
  await expectResult(42, attach('partner', 1, 1, 'паспорт.pdf', Buffer.from('first')), 0);
  await expectResult(42, attach('partner', 1, 1, 'другое.pdf', Buffer.from('second')), 0);
  await expectResult(42, attach('partner', 1, 5, 'доп1.jpg', Buffer.from('extra one')), 0);
  await expectResult(42, attach('partner', 1, 5, 'доп2.jpg', Buffer.from('extra two')), 0);
  await expectResult(142, enc.str('big'), 0);
  await expectResult(42, attach('big', 1, 3, 'скан.tif', Buffer.alloc(20 << 20, 0x5a)), 0);
  await expectResult(42, attach('partner', 9, 1, 'x', Buffer.from('x')), 1);
});

test('card commands refuse unknown keys and packet types with 1', async () => {
  await expectResult(40, field40('nobody', 1, FIELDS[6]), 1);
  await expectResult(40, field40('partner', 5, FIELDS[6]), 1);
  await expectResult(42, enc.cat(enc.str('nobody'), enc.u32(1), enc.u32(1), enc.str('a'), enc.blob(Buffer.from('a'))), 1);
  await expectResult(54, enc.cat(enc.str('nobody'), enc.u32(1), enc.i32(80)), 1);
  await expectResult(56, enc.cat(enc.str('partner'), enc.u32(9), enc.str(OID_TEXT[26]), enc.u32(1)), 1, 56);
  await expectResult(56, enc.cat(enc.str('partner'), enc.u32(1), enc.str('1.2.3.4.5'), enc.u32(1)), 0, 56);
  const built = await expectResult(140, enc.str('nobody'), 1);
  assert.equal(built.payload.length, 0);
});

test('40 with field 2 closes the connection without a reply', async () => {
  const tab = await connect();
  const reply = await tab.send(40, field40('partner', 1, [2, 'str', 'x']));
  assert.equal(reply, null);
});

// openssl x509 on a DER certificate.
function x509(der, args) {
  const file = path.join(tempDir('pellamo-x509-'), 'c.der');
  fs.writeFileSync(file, der);
  return gostOpenssl(['x509', '-inform', 'DER', '-in', file, '-noout', ...args]).toString();
}

// Logs in with the certificate installed in container (14, 20, 22).
async function login(container) {
  const ca = (await peer.get('/api/etc/getCertCA_2012')).body;
  const ski = Buffer.from(/\n\s+([0-9A-F:]+)\s*$/m.exec(x509(ca, ['-ext', 'subjectKeyIdentifier']))[1].replace(/:/g, ''), 'hex');
  await expectResult(14, enc.blob(enc.cat(enc.u32(1), enc.blob(ski))), 0);
  const cert = fs.readFileSync(path.join(containerDir(container), 'certificate.der'));
  const serialLE = Buffer.from(/serial=([0-9A-F]+)/.exec(x509(cert, ['-serial']))[1], 'hex').reverse();
  const list = (await expectResult(20, Buffer.alloc(0), 0)).reader();
  let index = -1;
  while (list.remaining > 0) {
    const i = list.u32();
    list.str();
    list.str();
    const sn = Buffer.from(list.blob());
    list.i32();
    list.str();
    list.u32();
    if (sn.equals(serialLE)) index = i;
  }
  assert.ok(index >= 0, 'the installed certificate is listed');
  await expectResult(22, enc.u32(index), 0);
  return cert;
}

// A certificate of kind issued into container, selected, and renewed: 24,
// 26, the packet posted to the CA, 44 returns and 28 installs the new
// certificate. The page's 54 asks for a key of newKind (54 turns 81 into no
// kind, so a 2012/512 certificate renews into a 2012/256 key). Returns the
// renewal packet and the new certificate.
async function renewal(kind, container, newKind = kind) {
  const q = await makeRequest(kind, container);
  await expectResult(126, enc.cat(enc.str(await postRequest(q.packet)), enc.str(container), enc.i32(kind)), 0);
  const oldCert = await login(container);
  await expectResult(54, enc.cat(enc.str('none'), enc.u32(5), enc.i32(newKind)), 1);  // the requested CSP

  await expectResult(24, Buffer.alloc(0), 0);
  const r = (await expectResult(26, Buffer.alloc(0), 0)).reader();
  const [oldName, newName, generated, csp, packet] = [r.str(), r.str(), r.str(), r.i32(), r.blob()];
  r.end();
  assert.equal(oldName, '\\\\.\\FILES\\' + container);
  assert.match(generated, /^Иванов_7707083893_\d{8}_\d{6}$/);
  assert.equal(newName, '\\\\.\\FILES\\' + generated);
  assert.equal(csp, kind);

  const res = await peer.post('/api/client/setRequestProlongKey', packet);
  const uuid = uuidOf(res.body);
  const card = (await peer.control(`card/${uuid}`)).body;
  assert.ok(card.subarray(0, 4).equals(Buffer.from([0x1d, 0xf1, 0xde, 0x34])), 'the renewal carries the card');
  assert.ok(card.includes(cp1251('Иванов')), 'read from the certificate');

  const released = (await expectResult(44, enc.str(uuid), 0)).reader();
  const newCert = Buffer.from(released.blob());
  released.end();
  const before = (await storeFiles()).length;
  await expectResult(28, enc.cat(enc.str(uuid), enc.str(oldName), enc.str(newName), enc.i32(kind)), 0);
  assert.ok(fs.readFileSync(path.join(containerDir(generated), 'certificate.der')).equals(newCert));
  assert.ok(fs.existsSync(path.join(containerDir(container), 'key')), 'a CryptoAPI kind keeps the old container');
  const store = await storeFiles();
  assert.equal(store.length, before + 1);
  assert.ok(store.some((c) => c.equals(oldCert)) && store.some((c) => c.equals(newCert)), 'the store holds both');
  return { packet, newCert };
}

test('renewal: 24, 26, the CA issues, 44 returns and 28 installs the new certificate', async () => {
  const { packet } = await renewal(80, 'renew_old');
  await peer.control('hold/on');
  const held = uuidOf((await peer.post('/api/client/setRequestProlongKey', packet)).body);
  await peer.control('hold/off');
  const notYet = await expectResult(44, enc.str(held), 23);
  assert.equal(notYet.payload.length, 0);
});

test('140 builds the partner card packet the CA reads field by field', async () => {
  // Logged in by the renewal case; the card of the partner cases.
  const built = (await expectResult(140, enc.str('partner'), 0)).reader();
  const packet = built.blob();
  built.end();
  const uuid = uuidOf((await peer.post('/api/partner/setClientInfo', packet)).body);
  const card = (await peer.control(`card/${uuid}`)).body;
  const expected = cardBytes(
    {
      ...expectedPartnerCard(),
      attachments: [
        { type: 1, name: 'паспорт.pdf', data: Buffer.from('second') },
        { type: 5, name: 'доп1.jpg', data: Buffer.from('extra one') },
        { type: 5, name: 'доп2.jpg', data: Buffer.from('extra two') },
      ],
    },
    'ca',
  );
  assert.ok(card.equals(expected), `card differs:\n got ${card.toString('hex')}\nwant ${expected.toString('hex')}`);
  // The card with the 20 MiB scan is over the packet limit.
  const big = await expectResult(140, enc.str('big'), 25);
  assert.equal(big.reader().blob().length, 0);
  await expectResult(46, Buffer.alloc(0), 0);  // the renewal packet's card
});

test('short payloads answer 1 with no payload', async () => {
  for (const command of [40, 42, 54, 56, 120, 122, 124, 126, 140, 142, 152]) {
    const reply = await expectResult(command, Buffer.from([1, 0]), 1, command === 56 ? 56 : command + 1);
    assert.equal(reply.payload.length, 0, `payload of ${command}`);
  }
});

// A deployment pins its CA: a server that serves any other CA certificate
// gets no card encrypted for it and no request.
test('a CA certificate other than the pinned ones is refused with 43, and nothing is sent', async () => {
  page.close();
  await stop(prog.proc);
  const otherCa = crypto.createHash('sha256').update('another CA').digest('hex');
  prog = await startProgram(program, { transportPort: peer.port, env: { PELLAMO_CA_CERT_SHA256: otherCa } });
  page = await connect();
  try {
    const id = nextId();
    const pin = envelopePin('1234567');
    await addEnvelope(applicant(id, 80), pin, 80);
    await expectResult(124, enc.str(pin), 0);
    await expectResult(120, enc.str(id), 0);
    await expectResult(122, enc.str('не_тот_УЦ'), 43);
  } finally {
    page.close();
    await stop(prog.proc);
    prog = await startProgram(program, { transportPort: peer.port });
    page = await connect();
  }
});

// Last: the program restarted against a CA whose 2012 key is 512 bits, the
// only one a kind 81 key agrees with.
test('kind 81 against a CA with a 512-bit key: request cycle, then renewal', async () => {
  page.close();
  await stop(prog.proc);
  peer = await startPeer(peerPath(program), { state: peer512State() });
  prog = await startProgram(program, { transportPort: peer.port });
  page = await connect();
  const { text } = await requestCycle(81, 'Запрос_81');
  assert.match(text, /GOST R 34.10-2012 with 512 bit modulus/);
  const { newCert } = await renewal(81, 'renew_81', 80);
  assert.match(x509(newCert, ['-text']), /GOST R 34.10-2012 with 256 bit modulus/);
});

await runCases(cases);
