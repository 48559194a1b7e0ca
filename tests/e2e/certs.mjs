// Certificate list, login, card from certificate, CA pairing and the packet
// crypto commands, end to end: the program against tools/ca-peer, whose
// OpenSSL GOST test CA issues the user's certificates (with their keys in
// the software CSP's containers), makes the revocation list and builds and
// opens the packets; the openssl command line reads the certificates and
// checks the login signatures.
//
//   node tests/e2e/certs.mjs build/pellamo
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';

import { connect, enc, peer512State, peerPath, Reader, repoRoot, runCases, startPeer, startProgram, stop, tempDir } from './lib/harness.mjs';

const program = process.argv[2];
if (!program) {
  console.error('usage: node certs.mjs <path to pellamo>');
  process.exit(2);
}
const peerBinary = peerPath(program);

const CMD = { roots: 14, store: 18, list: 20, auth: 22, card: 48, currentCsp: 52, pair: 150 };
const PKT = { card: 104, released: 106, packetIn: 108, encryptSign: 110, decryptVerify: 112, sign: 114 };
const STATUS = { ok: 0, period: 1, recent: 0x80000000, untrusted: 0x10000000, unqualified: 0x20000000, revoked: 0x40000000 };

// ------------------------------------------------------------ openssl CLI

const work = tempDir('pellamo-certs-');
const opensslConf = path.join(work, 'openssl.cnf');
fs.writeFileSync(
  opensslConf,
  'openssl_conf = openssl_init\n[openssl_init]\nengines = engine_section\n' +
    '[engine_section]\ngost = gost_section\n[gost_section]\nengine_id = gost\ndefault_algorithms = ALL\n',
);
let fileCounter = 0;
function tmpFile(content) {
  const f = path.join(work, `f${++fileCounter}`);
  fs.writeFileSync(f, content);
  return f;
}
function openssl(args) {
  return execFileSync('openssl', args, { env: { ...process.env, OPENSSL_CONF: opensslConf }, stdio: ['ignore', 'pipe', 'pipe'] });
}

// What OpenSSL reads from a certificate: subject attributes by OID, serial
// number (big-endian hex), NotAfter, key identifiers.
function readCert(der) {
  const f = tmpFile(der);
  const out = openssl(['x509', '-inform', 'DER', '-in', f, '-noout', '-serial', '-enddate', '-dateopt', 'iso_8601',
    '-subject', '-nameopt', 'multiline,utf8,-esc_msb,oid']).toString('utf8');
  const subject = {};
  for (const m of out.matchAll(/^\s+([0-9.]+) = (.*)$/gm)) subject[m[1]] = m[2];
  const serial = /serial=([0-9A-F]+)/.exec(out)[1];
  const notAfter = /notAfter=(\d{4})-(\d\d)-(\d\d) (\d\d):(\d\d):(\d\d)Z/.exec(out);
  return { subject, serialHex: serial, validTo: `${notAfter[1]}-${notAfter[2]}-${notAfter[3]} ${notAfter[4]}-${notAfter[5]}-${notAfter[6]}` };
}
function keyIdentifier(der, which) {
  const out = openssl(['x509', '-inform', 'DER', '-in', tmpFile(der), '-noout', '-ext', which]).toString();
  const m = /\n\s+([0-9A-F:]+)\s*$/m.exec(out);
  return Buffer.from(m[1].replace(/:/g, ''), 'hex');
}
// The signature (CryptoAPI byte order: the engine's order reversed) over
// message, checked with the certificate's key.
function opensslVerifies(certDer, message, signature, kind) {
  const pub = tmpFile(openssl(['x509', '-inform', 'DER', '-in', tmpFile(certDer), '-noout', '-pubkey']));
  const md = { 75: '-md_gost94', 80: '-md_gost12_256', 81: '-md_gost12_512' }[kind];
  try {
    const out = openssl(['dgst', md, '-verify', pub, '-signature', tmpFile(Buffer.from(signature).reverse()), tmpFile(message)]);
    return /Verified OK/.test(out.toString());
  } catch {
    return false;
  }
}

// ------------------------------------------------------------ test data

// Windows-1251 bytes of a text (the program's code page for container names).
const cp1251 = (() => {
  const decoder = new TextDecoder('windows-1251');
  const table = new Map();
  for (let b = 0; b < 256; b++) table.set(decoder.decode(Uint8Array.of(b)), b);
  return (text) => Buffer.from([...text].map((ch) => table.get(ch) ?? 0x3f));
})();
const containerFolder = (ansi) =>
  [...ansi].map((b) => (/[A-Za-z0-9_-]/.test(String.fromCharCode(b)) ? String.fromCharCode(b) : '%' + b.toString(16).toUpperCase().padStart(2, '0'))).join('');

const INN_ATTR = '1.2.643.3.131.1.1';
const OGRNIP_ATTR = '1.2.643.100.5';
// A natural person with a valid INN.
const person = (cn, extra = {}) => ({ '2.5.4.3': cn, '2.5.4.4': 'Петров', '2.5.4.42': 'Пётр Петрович', [INN_ATTR]: '503214967066', ...extra });

// Installs a certificate issued by the peer for a new key of kind into the
// key folder: the key container, and the certificate in the personal store
// "MY" of the program's host, linked to the container.
async function installCert(peer, cspDir, { kind = 80, container, subject, query = {} }) {
  const q = new URLSearchParams({ kind: String(kind), ...query });
  const lines = Object.entries(subject).map(([oid, v]) => `${oid}=${v}`).join('\n');
  const res = await peer.control(`usercert?${q}`, Buffer.from(lines, 'utf8'));
  assert.equal(res.status, 200, res.body.toString());
  const r = new Reader(res.body);
  const keyFile = r.blob();
  const der = Buffer.from(r.blob());
  const dir = path.join(cspDir, 'containers', containerFolder(cp1251(container)));
  fs.mkdirSync(dir, { recursive: true, mode: 0o700 });
  fs.writeFileSync(path.join(dir, 'key'), keyFile, { mode: 0o600 });
  await prog.host.storeAdd(cspDir, der, container, kind);
  return { der, kind, container, read: readCert(der) };
}

// The certificate's public key as a CryptoAPI PUBLICKEYBLOB: the header,
// the key parameters of the SubjectPublicKeyInfo and the raw key.
function keyBlob(certDer) {
  const pem = openssl(['x509', '-inform', 'DER', '-in', tmpFile(certDer), '-noout', '-pubkey']).toString();
  return spkiToBlob(Buffer.from(pem.replace(/-----[^-]+-----/g, '').replace(/\s+/g, ''), 'base64'));
}
function tlv(buf, at) {
  let len = buf[at + 1];
  let head = 2;
  if (len & 0x80) {
    const n = len & 0x7f;
    len = 0;
    for (let i = 0; i < n; i++) len = len * 256 + buf[at + 2 + i];
    head = 2 + n;
  }
  return { tag: buf[at], start: at, body: at + head, end: at + head + len };
}
function spkiToBlob(spki) {
  const seq = tlv(spki, 0);
  const alg = tlv(spki, seq.body);
  const oid = tlv(spki, alg.body);
  const params = spki.subarray(oid.end, alg.end);
  const bits = tlv(spki, alg.end);
  const octets = tlv(spki, bits.body + 1);
  const raw = spki.subarray(octets.body, octets.end);
  const oidHex = spki.subarray(oid.body, oid.end).toString('hex');
  const aiKeyAlg = { '2a8503020213': 0x2e23, '2a85030701010101': 0x2e49, '2a85030701010102': 0x2e3d }[oidHex];
  return Buffer.concat([Buffer.from([6, 0x20, 0, 0]), enc.u32(aiKeyAlg), Buffer.from('MAG1'), enc.u32(raw.length * 8), params, raw]);
}

// Web form of the client card (texts in Windows-1251), as far as the tests
// look: the fields up to the purposes (the CA form has the same fields, with
// the purposes as numbers).
function readWebCard(bytes, webForm = true) {
  const r = new Reader(bytes);
  const dec = new TextDecoder('windows-1251');
  const s = () => dec.decode(r.blob());
  r.bytes(4);
  const card = { version: r.u32(), clientType: r.i32() };
  r.bytes(1);
  for (const f of ['inn', 'ogrn', 'kpp', 'company', 'surname', 'name', 'patronymic', 'snils', 'position']) card[f] = s();
  r.bytes(4);
  r.blob(); // passport
  for (const f of ['phone', 'email', 'region', 'city', 'street', 'house', 'korpus', 'apartment', 'comment', 'convertId']) card[f] = s();
  card.template = r.i32();
  card.csp = r.i32();
  r.blob(); // validity period
  const purposes = new Reader(r.blob());
  card.purposes = [];
  while (webForm && purposes.remaining > 0) card.purposes.push(purposes.str());
  return card;
}

function listRecords(payload) {
  const r = new Reader(payload);
  const list = [];
  while (r.remaining > 0) {
    list.push({ index: r.u32(), commonName: r.str(), person: r.str(), serial: Buffer.from(r.blob()), kind: r.i32(), validTo: r.str(), status: r.u32() });
  }
  return list;
}

// Subject kind as the certificate's INN and OGRNIP give it.
function expectedKind(subject) {
  const inn = subject[INN_ATTR] ?? '';
  if (inn.length !== 12) return -1;
  if (inn.startsWith('00')) return 0;
  return subject[OGRNIP_ATTR] ? 2 : 1;
}

function rootsPayload(ids) {
  return enc.blob(Buffer.concat([enc.u32(ids.length), ...ids.map((id) => enc.blob(id))]));
}

const permanent = (version, type, requester = 3, senderVersion = 100) =>
  Buffer.concat([enc.u32(version), enc.u32(type), enc.u32(requester), enc.u32(senderVersion)]);

async function peerPacket(peer, recipient, payload, { sender = 'peer', encrypt = true } = {}) {
  const q = new URLSearchParams({ recipient: recipient.toString('hex'), sender, encrypt: encrypt ? '1' : '0' });
  const res = await peer.control(`packet?${q}`, payload);
  assert.equal(res.status, 200, res.body.toString());
  return res.body;
}
async function peerOpens(peer, packet, encrypted) {
  const res = await peer.control(`open?encrypted=${encrypted ? 1 : 0}`, packet);
  assert.equal(res.status, 200, `the peer cannot open the packet: ${res.body}`);
  return res.body;
}

// Format 2 key exchange header as the page passes it to 110 and 114;
// format 1 is the sender key alone.
const header2 = (sender, recipient) => Buffer.concat([enc.u32(0x32ff8d45), enc.u32(2), enc.blob(sender), enc.blob(recipient), enc.blob(Buffer.alloc(0))]);
const header1 = (sender) => enc.blob(sender);

// ------------------------------------------------------------ the suite

const peer = await startPeer(peerBinary);
let prog = await startProgram(program, { transportPort: peer.port });
let client = await connect();
const cspDir = prog.cspDir;
const installed = {};
let roots;

await runCases([
  ['20 without roots gives 1, an empty store the bare header, 18 with 7 makes 20 fail', async () => {
    let r = await client.send(CMD.list);
    assert.equal(r.answer, 21);
    assert.equal(r.result, 1);
    assert.equal(r.payload.length, 0);
    const ca2012 = (await peer.get('/api/etc/getCertCA_2012')).body;
    const ca2001 = (await peer.get('/api/etc/getCertCA')).body;
    roots = [keyIdentifier(ca2012, 'subjectKeyIdentifier'), keyIdentifier(ca2001, 'subjectKeyIdentifier')];
    r = await client.send(CMD.roots, rootsPayload(roots));
    assert.equal(r.result, 0);
    r = await client.send(CMD.list);
    assert.equal(r.result, 0);
    assert.equal(r.payload.length, 0);
    r = await client.send(CMD.store, enc.u32(7));
    assert.deepEqual([r.answer, r.result, r.payload.length], [19, 0, 0]);
    assert.equal((await client.send(CMD.list)).result, 1);
    assert.equal((await client.send(CMD.store, enc.u32(0))).result, 0);
  }],

  ['20 lists every certificate with the fields and status OpenSSL expects', async () => {
    const day = 86400;
    const specs = {
      valid: { subject: { '2.5.4.3': 'ООО «Ромашка»', [INN_ATTR]: '005032149676', '1.2.643.100.1': '1025003213641', '2.5.4.10': 'ООО «Ромашка»',
        '1.2.840.113549.1.9.2': 'INN=5032149676/KPP=503201001/OGRN=1025003213641', '2.5.4.4': 'Иванов', '2.5.4.42': 'Иван Сергеевич',
        '2.5.4.12': 'Директор', '1.2.840.113549.1.9.1': 'info@example.ru', '2.5.4.8': '50 Московская область', '2.5.4.7': 'Одинцово', '2.5.4.9': 'ул. Ленина, д. 1' },
        query: { eku: '1.3.6.1.5.5.7.3.2,1.2.643.2.2.34.6,1.2.643.3.5.10.2.12' }, status: STATUS.ok },
      expired10: { subject: person('Истёк 10 дней'), query: { from: String(-400 * day), to: String(-10 * day) }, status: STATUS.recent },
      expired40: { subject: person('Истёк 40 дней'), query: { from: String(-400 * day), to: String(-40 * day) }, status: STATUS.period },
      tomorrow: { subject: person('С завтрашнего дня'), query: { from: String(day), to: String(365 * day) }, status: STATUS.period },
      untrusted: { subject: person('Чужой УЦ'), query: { issuer: 'stranger' }, status: STATUS.untrusted },
      noAki: { subject: person('Без AKI'), query: { aki: '0' }, status: STATUS.unqualified },
      revoked: { subject: person('Отозван'), query: { serial: '5a00c0ffee' }, status: STATUS.revoked },
      badInn: { subject: person('Плохой ИНН', { [INN_ATTR]: '503214967067' }), status: STATUS.unqualified },
      noNames: { subject: { '2.5.4.3': 'Без имени', [INN_ATTR]: '503214967066' }, status: STATUS.ok },
      entrepreneur: { kind: 75, subject: person('ИП 2001', { [OGRNIP_ATTR]: '304503214967012' }), status: STATUS.ok },
    };
    for (const [name, spec] of Object.entries(specs)) {
      installed[name] = { ...(await installCert(peer, cspDir, { kind: spec.kind ?? 80, container: `c-${name}`, subject: spec.subject, query: spec.query })), status: spec.status };
    }
    const crl = await peer.control('crl?generation=2012&serials=5a00c0ffee');
    assert.equal(crl.status, 200);
    await prog.host.installCrl(cspDir, 'ca2012.crl', crl.body, (await peer.get('/api/etc/getCertCA_2012')).body);

    const r = await client.send(CMD.list);
    assert.equal(r.result, 0);
    const list = listRecords(r.payload);
    assert.equal(list.length, Object.keys(specs).length);
    list.forEach((rec, i) => assert.equal(rec.index, i));
    for (const [name, cert] of Object.entries(installed)) {
      const rec = list.find((x) => x.serial.equals(Buffer.from(cert.read.serialHex, 'hex').reverse()));
      assert.ok(rec, `${name} is listed`);
      const s = cert.read.subject;
      assert.equal(rec.commonName, s['2.5.4.3'], name);
      assert.equal(rec.person, `${s['2.5.4.4'] ?? ''} ${s['2.5.4.42'] ?? ''}`, name);
      assert.equal(rec.kind, expectedKind(s), name);
      assert.equal(rec.validTo, cert.read.validTo, name);
      assert.equal(rec.status, cert.status, name);
      cert.index = rec.index;
    }
    assert.equal(list.find((x) => x.index === installed.noNames.index).person, ' ');
  }],

  ['22 signs the certificate with its key (kinds 75 and 80), sets the current CSP; 48 reads the card', async () => {
    for (const name of ['entrepreneur', 'valid']) {
      const cert = installed[name];
      const r = await client.send(CMD.auth, enc.u32(cert.index));
      assert.equal(r.answer, 23);
      assert.equal(r.result, 0, name);
      const signed = r.reader().blob();
      assert.equal(signed.length, 4 + cert.der.length + 64);
      const message = signed.subarray(0, signed.length - 64);
      assert.ok(new Reader(message).blob().equals(cert.der));
      assert.ok(opensslVerifies(cert.der, message, signed.subarray(signed.length - 64), cert.kind), `${name}: openssl verifies`);
      const csp = await client.send(CMD.currentCsp);
      assert.equal(csp.reader().i32(), cert.kind);
    }
    const r = await client.send(CMD.card);
    assert.equal(r.answer, 49);
    assert.equal(r.result, 0);
    const card = readWebCard(r.reader().blob());
    const s = installed.valid.read.subject;
    assert.equal(card.clientType, 0);
    assert.equal(card.inn, '5032149676');
    assert.equal(card.ogrn, s['1.2.643.100.1']);
    assert.equal(card.kpp, '503201001');
    assert.equal(card.company, s['2.5.4.10']);
    assert.deepEqual([card.surname, card.name, card.patronymic], ['Иванов', 'Иван', 'Сергеевич']);
    assert.deepEqual([card.position, card.email], [s['2.5.4.12'], s['1.2.840.113549.1.9.1']]);
    assert.deepEqual([card.region, card.city, card.street, card.house], [s['2.5.4.8'], s['2.5.4.7'], s['2.5.4.9'], '']);
    assert.deepEqual(card.purposes, ['1.2.643.2.2.34.6', '1.2.643.3.5.10.2.12', '1.3.6.1.5.5.7.3.2']);
  }],

  ['22 and 150 with an index beyond the list give 40 and no payload', async () => {
    for (const command of [CMD.auth, CMD.pair]) {
      const r = await client.send(command, Buffer.concat([enc.u32(99), enc.u32(0)]));
      assert.deepEqual([r.result, r.payload.length], [40, 0], String(command));
    }
  }],

  ['150, then packets of the peer for the user keys open with 108 and 112; damage gives 9', async () => {
    for (const name of ['valid', 'entrepreneur']) {
      const cert = installed[name];
      const r = await client.send(CMD.pair, Buffer.concat([enc.u32(cert.index), enc.u32(1)]));
      assert.deepEqual([r.answer, r.result, r.payload.length], [151, 0, 0], name);
      cert.blob = keyBlob(cert.der);
    }
    for (const name of ['valid', 'entrepreneur']) {
      const cert = installed[name];
      const plain = Buffer.concat([permanent(2, 5), enc.blob(Buffer.from(`answer for ${name}`))]);
      const packet = await peerPacket(peer, cert.blob, plain);
      let r = await client.send(PKT.packetIn, enc.blob(packet));
      assert.equal(r.answer, 109);
      assert.equal(r.result, 0, name);
      const rd = r.reader();
      const header = new Reader(rd.blob());
      const opened = rd.blob();
      rd.end();
      assert.ok(opened.equals(plain));
      // The header as the packet carried it; format 1 (2001) comes back as
      // format 2 with the local key as recipient.
      assert.equal(header.u32(), 0x32ff8d45);
      assert.equal(header.u32(), 2);
      header.blob();
      assert.ok(header.blob().equals(cert.blob), `${name}: recipient`);

      r = await client.send(PKT.decryptVerify, enc.blob(packet));
      assert.equal(r.answer, 113);
      assert.equal(r.result, 0);
      assert.ok(r.reader().blob().equals(plain));

      const damaged = Buffer.from(packet);
      damaged[damaged.length - 1] ^= 0x01;
      r = await client.send(PKT.decryptVerify, enc.blob(damaged));
      assert.equal(r.result, 9);
      assert.ok(r.payload.equals(Buffer.alloc(4)));
    }
  }],

  ['110 and 114 make packets that the peer opens and verifies', async () => {
    for (const name of ['valid', 'entrepreneur']) {
      const cert = installed[name];
      const peerKey = (await peer.control(`peerkey?class=${cert.kind === 75 ? '2001' : '256'}`)).body;
      const header = cert.kind === 75 ? header1(peerKey) : header2(peerKey, cert.blob);
      const payload = Buffer.concat([permanent(2, 3, 1, 101276), enc.blob(Buffer.from(`to the peer from ${name}`))]);
      let r = await client.send(PKT.encryptSign, Buffer.concat([enc.blob(header), enc.blob(payload)]));
      assert.equal(r.answer, 111);
      assert.equal(r.result, 0, name);
      assert.ok((await peerOpens(peer, r.reader().blob(), true)).equals(payload));
      r = await client.send(PKT.sign, Buffer.concat([enc.blob(header), enc.blob(payload)]));
      assert.equal(r.answer, 115);
      assert.equal(r.result, 0, name);
      assert.ok((await peerOpens(peer, r.reader().blob(), false)).equals(payload));
    }
    // A recipient key no module holds: 8 and an empty packet.
    const stranger = (await peer.control('peerkey?class=512')).body;
    const r = await client.send(PKT.encryptSign, Buffer.concat([enc.blob(header2(stranger, stranger)), enc.blob(Buffer.from('x'))]));
    assert.equal(r.result, 8);
    assert.ok(r.payload.equals(Buffer.alloc(4)));
  }],

  ['104 reads the client card of package types 1 and 7; type 4 gives an empty card', async () => {
    const card = fs.readFileSync(path.join(repoRoot, 'tests', 'fuzz', 'corpus', 'card', 'card106'));
    const cert = installed.valid;
    const cspInfo = Buffer.concat([enc.i32(80), enc.str('5.0'), enc.str(''), enc.str(''), enc.str(''), enc.str('')]);
    const bodies = {
      1: Buffer.concat([permanent(1, 1, 2), enc.blob(card)]),
      7: Buffer.concat([permanent(2, 7, 1, 101276), enc.blob(cert.der), enc.blob(card), enc.blob(Buffer.from('request')), enc.blob(cspInfo)]),
    };
    const cards = {};
    for (const [type, body] of Object.entries(bodies)) {
      const r = await client.send(PKT.card, enc.blob(await peerPacket(peer, cert.blob, body)));
      assert.equal(r.answer, 105);
      assert.equal(r.result, 0, `type ${type}`);
      cards[type] = readWebCard(r.reader().blob());
    }
    const original = readWebCard(card, false);
    delete original.purposes;
    for (const c of Object.values(cards)) {
      delete c.purposes;
      assert.deepEqual(c, original);
    }
    const r = await client.send(PKT.card, enc.blob(await peerPacket(peer, cert.blob, Buffer.concat([permanent(2, 4, 1), enc.blob(Buffer.from('p10'))]))));
    assert.equal(r.result, 0);
    assert.ok(r.payload.equals(Buffer.alloc(4)));
  }],

  ['106 opens a released-certificate answer with a container named in Cyrillic', async () => {
    const name = 'Контейнер Иванова №1';
    const cert = await installCert(peer, cspDir, { kind: 80, container: name, subject: person('Выпущенный') });
    const answer = Buffer.concat([enc.u32(0), enc.blob(cert.der)]);
    const plain = Buffer.concat([permanent(2, 5), enc.blob(answer)]);
    const packet = await peerPacket(peer, keyBlob(cert.der), plain, { sender: 'ca' });
    let r = await client.send(PKT.released, Buffer.concat([enc.str(name), enc.i32(80), enc.blob(packet)]));
    assert.equal(r.answer, 107);
    assert.equal(r.result, 0);
    const rd = r.reader();
    assert.equal(rd.u32(), 0);
    assert.ok(rd.blob().equals(cert.der));
    rd.end();
    // Signed by a key other than the CA's: refused; an unknown container: 72.
    const forged = await peerPacket(peer, keyBlob(cert.der), plain, { sender: 'peer' });
    r = await client.send(PKT.released, Buffer.concat([enc.str(name), enc.i32(80), enc.blob(forged)]));
    assert.deepEqual([r.result, r.payload.length], [9, 0]);
    r = await client.send(PKT.released, Buffer.concat([enc.str('Нет такого'), enc.i32(80), enc.blob(packet)]));
    assert.deepEqual([r.result, r.payload.length], [72, 0]);
    installed.released = { ...cert, status: STATUS.ok };
  }],

  ['after a restart the store is listed again and usable for 22', async () => {
    client.close();
    await stop(prog.proc);
    prog = await startProgram(program, { transportPort: peer.port, dir: prog.dir, cspDir });
    client = await connect();
    assert.equal((await client.send(CMD.roots, rootsPayload(roots))).result, 0);
    const r = await client.send(CMD.list);
    assert.equal(r.result, 0);
    const list = listRecords(r.payload);
    assert.equal(list.length, Object.keys(installed).length);
    const rec = list.find((x) => x.serial.equals(Buffer.from(installed.valid.read.serialHex, 'hex').reverse()));
    assert.equal((await client.send(CMD.auth, enc.u32(rec.index))).result, 0);
  }],

  ['kind 81: login against a CA with a 512-bit GOST 2012 key, and its packets', async () => {
    client.close();
    await stop(prog.proc);
    // A CA whose 2012 key is 512 bits: keys agree only on one curve size.
    const peer512 = await startPeer(peerBinary, { state: peer512State() });
    prog = await startProgram(program, { transportPort: peer512.port });
    client = await connect();
    const ca = (await peer512.get('/api/etc/getCertCA_2012')).body;
    assert.equal((await client.send(CMD.roots, rootsPayload([keyIdentifier(ca, 'subjectKeyIdentifier')]))).result, 0);
    const cert = await installCert(peer512, prog.cspDir, { kind: 81, container: 'Контейнер 512', subject: person('Ключ 512') });
    let r = await client.send(CMD.list);
    const list = listRecords(r.payload);
    assert.equal(list.length, 1);
    assert.equal(list[0].status, 0);
    for (const command of [CMD.auth, CMD.pair]) {
      assert.equal((await client.send(command, Buffer.concat([enc.u32(7), enc.u32(0)]))).result, 40);
    }
    r = await client.send(CMD.auth, enc.u32(0));
    assert.equal(r.result, 0);
    const signed = r.reader().blob();
    assert.equal(signed.length, 4 + cert.der.length + 128);
    assert.ok(opensslVerifies(cert.der, signed.subarray(0, signed.length - 128), signed.subarray(signed.length - 128), 81));
    assert.equal((await client.send(CMD.currentCsp)).reader().i32(), 81);

    assert.equal((await client.send(CMD.pair, Buffer.concat([enc.u32(0), enc.u32(0)]))).result, 0);
    const blob = keyBlob(cert.der);
    const plain = Buffer.concat([permanent(2, 5), enc.blob(Buffer.from('512'))]);
    r = await client.send(PKT.decryptVerify, enc.blob(await peerPacket(peer512, blob, plain)));
    assert.equal(r.result, 0);
    assert.ok(r.reader().blob().equals(plain));
    const peerKey = (await peer512.control('peerkey?class=512')).body;
    r = await client.send(PKT.encryptSign, Buffer.concat([enc.blob(header2(peerKey, blob)), enc.blob(plain)]));
    assert.equal(r.result, 0);
    assert.ok((await peerOpens(peer512, r.reader().blob(), true)).equals(plain));
  }],
]);
