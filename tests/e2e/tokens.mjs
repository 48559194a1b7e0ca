// The commands with token kinds, end to end: the program drives the software
// GOST token (tools/soft-token) as both a JaCarta and a Rutoken (two copies
// of the module, one slot each), against tools/ca-peer. Key pairs are made
// on the token by the request cycle (54, 122), the CA's answer installed on
// the token (126); the token stores are listed (18, 20) and used for login
// (22, signature checked by openssl), CA pairing (150), packets from and to
// the peer (108, 110, 112, 114), and key renewal (24, 26, 28) when the
// program has those commands. Every token kind (-1, -3, -4 on the JaCarta,
// -5, -6, -7 on the Rutoken) makes its key pair on the device; the 512-bit
// kinds against a CA whose key is of their size.
//
//   node tests/e2e/tokens.mjs build/pellamo
//   node tests/e2e/tokens.mjs build-win/pellamo.exe   (under wine: lib/host.mjs)
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';

import { clientOptions, connect, enc, hostFor, peer512State, peerPath, Reader, runCases, startPeer, startProgram, stop, tempDir } from './lib/harness.mjs';
import { TOKEN_MODULE_MATCH } from './lib/host.mjs';
import { cardBytes, envelopeId, envelopePin } from './lib/card.mjs';
import WebSocket from 'ws';

const program = process.argv[2];
if (!program) {
  console.error('usage: node tests/e2e/tokens.mjs <path-to-pellamo>');
  process.exit(2);
}
const host = hostFor(program);
// The Linux module: what pkcs11-tool loads (and the Linux program too).
if (host.isWine && !process.env.SOFT_TOKEN) {
  console.error('set SOFT_TOKEN to the Linux build\'s libpellamo-softtoken.so to test pellamo.exe');
  process.exit(2);
}
const softToken = path.resolve(
  process.env.SOFT_TOKEN ?? path.join(path.dirname(program), 'tools', 'soft-token', 'libpellamo-softtoken.so'),
);

// ------------------------------------------------------------ the tokens

// One slot per module, matched by the module's file name: the vendor names
// the Windows program loads from system32, and Linux copies under the same
// names (lib/host.mjs).
const work = tempDir('pellamo-tokens-');
const tokens = host.tokenSetup(work, softToken);
const tokenDir = path.join(work, 'tokens');
const config = path.join(work, 'softtoken.conf');
const [jcModule, rtModule] = [TOKEN_MODULE_MATCH.jacarta, TOKEN_MODULE_MATCH.rutoken];
fs.writeFileSync(
  config,
  `[slot]\nlabel = E2E JaCarta\nmodel = JaCarta GOST 2.0\npin = 4719360825\nwrapped-key = 44\nmodule = ${jcModule}\nfolder = jacarta\n` +
    `[slot]\nlabel = E2E Rutoken\nmodel = Rutoken ECP\npin = 58203716\nwrapped-key = 36\nmodule = ${rtModule}\nfolder = rutoken\n`,
);
const tokenEnv = {
  ...tokens.env,
  PELLAMO_SOFTTOKEN_DIR: tokenDir,
  PELLAMO_SOFTTOKEN_CONFIG: config,
};

// A sanitizer build of the module needs its runtime loaded first into
// pkcs11-tool, which is not built with it; pkcs11-tool's own leaks are not ours.
const asanPreload = process.env.PELLAMO_ASAN_RUNTIME
  ? { LD_PRELOAD: process.env.PELLAMO_ASAN_RUNTIME, ASAN_OPTIONS: 'detect_leaks=0' }
  : {};

// The objects of a token as pkcs11-tool lists them (a second, independent
// client of the same token files).
function tokenObjects(device) {
  const pin = device === 'jacarta' ? '4719360825' : '58203716';
  const out = execFileSync('pkcs11-tool', ['--module', tokens.modules[device], '--login', '--pin', pin, '--list-objects'], {
    env: { ...process.env, ...tokenEnv, ...asanPreload },
    stdio: ['ignore', 'pipe', 'pipe'],
  }).toString('utf8');
  const objects = [];
  for (const block of out.split(/\n(?=\S)/)) {
    const kind = /^(Public Key|Private Key|Certificate) Object/.exec(block);
    const label = /label:\s+(.*)/.exec(block);
    if (kind) objects.push({ kind: kind[1], label: label ? label[1].trim() : '' });
  }
  return objects;
}
const labelsOf = (device, kind) => tokenObjects(device).filter((o) => o.kind === kind).map((o) => o.label);

// ------------------------------------------------------------ openssl CLI

const opensslConf = path.join(work, 'openssl.cnf');
fs.writeFileSync(opensslConf, 'openssl_conf = conf\n[conf]\nengines = engines\n[engines]\ngost = gost\n[gost]\nengine_id = gost\ndefault_algorithms = ALL\n');
let fileCounter = 0;
const tmpFile = (content) => {
  const f = path.join(work, `f${++fileCounter}`);
  fs.writeFileSync(f, content);
  return f;
};
const openssl = (args) => execFileSync('openssl', args, { env: { ...process.env, OPENSSL_CONF: opensslConf }, stdio: ['ignore', 'pipe', 'pipe'] });
function keyIdentifier(der) {
  const out = openssl(['x509', '-inform', 'DER', '-in', tmpFile(der), '-noout', '-ext', 'subjectKeyIdentifier']).toString();
  return Buffer.from(/\n\s+([0-9A-F:]+)\s*$/m.exec(out)[1].replace(/:/g, ''), 'hex');
}
// A signature in CryptoAPI byte order over message, checked with the key of
// the certificate.
function opensslVerifies(certDer, message, signature, md) {
  const pub = tmpFile(openssl(['x509', '-inform', 'DER', '-in', tmpFile(certDer), '-noout', '-pubkey']));
  try {
    const out = openssl(['dgst', md, '-verify', pub, '-signature', tmpFile(Buffer.from(signature).reverse()), tmpFile(message)]);
    return /Verified OK/.test(out.toString());
  } catch {
    return false;
  }
}
// The certificate's public key as a PUBLICKEYBLOB.
function keyBlob(certDer) {
  const pem = openssl(['x509', '-inform', 'DER', '-in', tmpFile(certDer), '-noout', '-pubkey']).toString();
  const spki = Buffer.from(pem.replace(/-----[^-]+-----/g, '').replace(/\s+/g, ''), 'base64');
  const tlv = (at) => {
    let len = spki[at + 1];
    let head = 2;
    if (len & 0x80) {
      const n = len & 0x7f;
      len = 0;
      for (let i = 0; i < n; i++) len = len * 256 + spki[at + 2 + i];
      head = 2 + n;
    }
    return { body: at + head, end: at + head + len };
  };
  const seq = tlv(0);
  const alg = tlv(seq.body);
  const oid = tlv(alg.body);
  const bits = tlv(alg.end);
  const octets = tlv(bits.body + 1);
  const raw = spki.subarray(octets.body, octets.end);
  const aiKeyAlg = { '2a8503020213': 0x2e23, '2a85030701010101': 0x2e49, '2a85030701010102': 0x2e3d }[spki.subarray(oid.body, oid.end).toString('hex')];
  return Buffer.concat([Buffer.from([6, 0x20, 0, 0]), enc.u32(aiKeyAlg), Buffer.from('MAG1'), enc.u32(raw.length * 8), spki.subarray(oid.end, alg.end), raw]);
}

// ------------------------------------------------------------ the program

let peer = await startPeer(peerPath(program));
let prog = await startProgram(program, { transportPort: peer.port, env: tokenEnv });
let page = await connect();

async function expectResult(command, payload, result, answer = command + 1) {
  const reply = await page.send(command, payload);
  assert.ok(reply, `command ${command} got no reply`);
  assert.equal(reply.answer, answer, `answer code of ${command}`);
  assert.equal(reply.result, result, `result of command ${command}`);
  return reply;
}

let serial = 20000;
function applicant(id, csp) {
  return {
    clientType: 1, inn: '503214967066', ogrn: '', kpp: '', company: '', surname: 'Петров', name: 'Пётр', patronymic: 'Петрович',
    snils: '11223344595', position: '', passport: { docType: 21, series: '4509', number: '123456', issuer: 'ОВД', division: '770-001', sex: 1,
      issueDate: [2010, 5, 17], placeBirth: 'г. Москва', birthday: [1980, 1, 2] },
    phone: '+7 495 000-00-00', email: 'petrov@example.ru', region: 'Москва', city: 'Москва', street: 'ул. Тверская', house: '1', korpus: '',
    apartment: '', comment: '', convertId: id, template: 1, csp, months: '12', oids: [], attachments: [],
  };
}

function uuidOf(body) {
  const magic = Buffer.from('tesel.message');
  assert.ok(body.subarray(0, magic.length).equals(magic), `not a transport answer: ${body.toString('latin1')}`);
  const r = body.subarray(magic.length);
  return r.subarray(4, 4 + r.readUInt32LE(0)).toString('latin1');
}

// The request cycle for a requested token kind: the key pair is made on the
// token (122), the CA issues the certificate and 126 installs it there.
async function requestOnToken(kind, container) {
  await expectResult(142, enc.str('selector'), 0);
  await expectResult(54, enc.cat(enc.str('selector'), enc.u32(1), enc.i32(kind)), 0);
  const id = envelopeId(String(serial++).padStart(5, '0'));
  const pin = envelopePin('1234567');
  const r0 = await peer.control(`envelope/${id}?password=${pin}&kind=${kind}`, cardBytes(applicant(id, kind), 'ca'));
  assert.equal(r0.status, 200, r0.body.toString());
  await expectResult(124, enc.str(pin), 0);
  await expectResult(120, enc.str(id), 0);
  const reply = await expectResult(122, enc.str(container), 0);
  const r = reply.reader();
  const q = { convertId: r.str(), csp: r.i32(), unique: r.str(), packet: r.blob() };
  r.end();
  const res = await peer.post('/api/client/setRequestToCert', q.packet);
  assert.equal(res.status, 200);
  q.uuid = uuidOf(res.body);
  await expectResult(126, enc.cat(enc.str(q.uuid), enc.str(container), enc.i32(q.csp)), 0);
  return q;
}

function listRecords(payload) {
  const r = new Reader(payload);
  const list = [];
  while (r.remaining > 0) {
    list.push({ index: r.u32(), commonName: r.str(), person: r.str(), serial: Buffer.from(r.blob()), kind: r.i32(), validTo: r.str(), status: r.u32() });
  }
  return list;
}

const permanent = (version, type, requester = 3, senderVersion = 100) =>
  Buffer.concat([enc.u32(version), enc.u32(type), enc.u32(requester), enc.u32(senderVersion)]);
const header2 = (sender, recipient) => Buffer.concat([enc.u32(0x32ff8d45), enc.u32(2), enc.blob(sender), enc.blob(recipient), enc.blob(Buffer.alloc(0))]);

// A GOST 2012 key on the Rutoken, a GOST 2001 key on the JaCarta.
const devices = {
  rutoken: { kind: -6, store: 2, container: 'Рутокен_1', md: '-md_gost12_256', peerClass: '256' },
  jacarta: { kind: -1, store: 1, container: 'JaCarta_1', md: '-md_gost94', peerClass: '2001' },
};
const certs = {};
let roots;

// Whether the program answers a command (an unknown one gets no reply
// envelope), asked on a connection of its own.
async function commandAvailable(command) {
  const ws = new WebSocket('ws://127.0.0.1:3000/', clientOptions());
  ws.binaryType = 'nodebuffer';
  await new Promise((resolve, reject) => {
    ws.once('open', resolve);
    ws.once('error', reject);
  });
  const reply = await new Promise((resolve) => {
    const timer = setTimeout(() => resolve(null), 3000);
    ws.once('message', (m) => {
      clearTimeout(timer);
      resolve(m);
    });
    ws.once('close', () => resolve(null));
    ws.send(Buffer.concat([enc.str('probe'), enc.u32(0), enc.u32(command)]));
  });
  ws.close();
  return Boolean(reply && reply.length >= 16);
}

// The request cycle for each of these kinds: the request carries a key of
// the kind's algorithm, and the key pair and certificate are on the device.
async function requestKinds(kinds) {
  for (const k of kinds) {
    const q = await requestOnToken(k.kind, k.container);
    assert.equal(q.csp, k.kind, `kind ${k.kind}: the request is for the envelope's kind`);
    assert.equal(q.unique, k.container);
    const p10 = await peer.control(`pkcs10/${q.uuid}`);
    assert.equal(p10.status, 200);
    const text = openssl(['req', '-inform', 'DER', '-in', tmpFile(p10.body), '-verify', '-noout', '-text']).toString();
    const algorithm = k.bits === 2001 ? /GOST R 34\.10-2001/ : new RegExp(`GOST R 34\\.10-2012 with ${k.bits} bit modulus`);
    assert.match(text, algorithm, `kind ${k.kind}: the key's algorithm`);
    for (const kind of ['Public Key', 'Private Key', 'Certificate']) {
      assert.ok(labelsOf(k.device, kind).includes(k.container), `kind ${k.kind}: ${kind} on the ${k.device}`);
    }
  }
}

await runCases([
  ['122 makes the key pair on the token, 126 installs the CA certificate there (both devices)', async () => {
    const ca2012 = (await peer.get('/api/etc/getCertCA_2012')).body;
    const ca2001 = (await peer.get('/api/etc/getCertCA')).body;
    roots = enc.blob(Buffer.concat([enc.u32(2), enc.blob(keyIdentifier(ca2012)), enc.blob(keyIdentifier(ca2001))]));
    await expectResult(14, roots, 0, 15);
    for (const [device, d] of Object.entries(devices)) {
      const q = await requestOnToken(d.kind, d.container);
      assert.equal(q.csp, d.kind, `${device}: the request is for the envelope's kind`);
      assert.equal(q.unique, d.container, `${device}: the unique name is the label`);
      const p10 = await peer.control(`pkcs10/${q.uuid}`);
      assert.equal(p10.status, 200);
      openssl(['req', '-inform', 'DER', '-in', tmpFile(p10.body), '-verify', '-noout']);
      // On the token: the key pair and the certificate under the label.
      for (const kind of ['Public Key', 'Private Key', 'Certificate']) {
        assert.deepEqual(labelsOf(device, kind), [d.container], `${device}: ${kind}`);
      }
    }
  }],

  ['18 chooses a token store, 20 lists its certificate, 22 signs with the token key', async () => {
    for (const [device, d] of Object.entries(devices)) {
      await expectResult(18, enc.u32(d.store), 0, 19);
      const r = await page.send(20);
      assert.equal(r.result, 0, `${device}: 20`);
      const list = listRecords(r.payload);
      assert.equal(list.length, 1, `${device}: one certificate on the token`);
      assert.equal(list[0].status, 0, `${device}: acceptable`);
      assert.equal(list[0].kind, 1);
      const auth = await expectResult(22, enc.u32(list[0].index), 0);
      const signed = auth.reader().blob();
      const message = signed.subarray(0, signed.length - 64);
      const der = Buffer.from(new Reader(message).blob());
      certs[device] = der;
      assert.ok(opensslVerifies(der, message, signed.subarray(signed.length - 64), d.md), `${device}: openssl verifies the login signature`);
      const csp = await expectResult(52, Buffer.alloc(0), 0, 53);
      assert.equal(csp.reader().i32(), d.kind, `${device}: the current CSP`);
    }
  }],

  ['150 pairs a token key with the CA; packets of the peer for it open (108, 112), ours open at the peer (110, 114)', async () => {
    for (const [device, d] of Object.entries(devices)) {
      await expectResult(18, enc.u32(d.store), 0, 19);
      const list = listRecords((await page.send(20)).payload);
      await expectResult(150, Buffer.concat([enc.u32(list[0].index), enc.u32(1)]), 0);
      await expectResult(22, enc.u32(list[0].index), 0);
      const blob = keyBlob(certs[device]);

      const plain = Buffer.concat([permanent(2, 5), enc.blob(Buffer.from(`answer for the ${device}`))]);
      const q = new URLSearchParams({ recipient: blob.toString('hex'), sender: 'peer', encrypt: '1' });
      const packet = (await peer.control(`packet?${q}`, plain)).body;
      let r = await expectResult(108, enc.blob(packet), 0);
      const rd = r.reader();
      rd.blob();
      assert.ok(rd.blob().equals(plain), `${device}: 108 opens the peer's packet`);
      r = await expectResult(112, enc.blob(packet), 0);
      assert.ok(r.reader().blob().equals(plain), `${device}: 112`);
      const damaged = Buffer.from(packet);
      damaged[damaged.length - 1] ^= 1;
      assert.equal((await page.send(112, enc.blob(damaged))).result, 9);

      const peerKey = (await peer.control(`peerkey?class=${d.peerClass}`)).body;
      // Format 1 (the sender key alone) for 2001, format 2 for 2012.
      const header = d.kind === -1 ? enc.blob(peerKey) : header2(peerKey, blob);
      const payload = Buffer.concat([permanent(2, 3, 1, 101276), enc.blob(Buffer.from(`from the ${device}`))]);
      r = await expectResult(110, Buffer.concat([enc.blob(header), enc.blob(payload)]), 0);
      let opened = await peer.control('open?encrypted=1', r.reader().blob());
      assert.equal(opened.status, 200, `${device}: the peer opens 110: ${opened.body}`);
      assert.ok(opened.body.equals(payload));
      r = await expectResult(114, Buffer.concat([enc.blob(header), enc.blob(payload)]), 0);
      opened = await peer.control('open?encrypted=0', r.reader().blob());
      assert.equal(opened.status, 200, `${device}: the peer verifies 114`);
      assert.ok(opened.body.equals(payload));
    }
  }],

  ['renewal on the token: 24, 26, 28 installs the new certificate and removes the old container', async () => {
    const d = devices.rutoken;
    await expectResult(18, enc.u32(d.store), 0, 19);
    const list = listRecords((await page.send(20)).payload);
    await expectResult(22, enc.u32(list[0].index), 0);
    await expectResult(54, enc.cat(enc.str('selector'), enc.u32(1), enc.i32(d.kind)), 0);
    if (!(await commandAvailable(24))) {
      console.log('     (command 24 is not in this build: renewal skipped)');
      return;
    }
    await expectResult(24, Buffer.alloc(0), 0);
    const reg = await expectResult(26, Buffer.alloc(0), 0);
    const r = reg.reader();
    const oldName = r.str();
    const newName = r.str();
    r.str();
    assert.equal(r.i32(), d.kind);
    const packet = r.blob();
    assert.equal(oldName, d.container);
    const res = await peer.post('/api/client/setRequestProlongKey', packet);
    assert.equal(res.status, 200, res.body.toString('latin1'));
    const uuid = uuidOf(res.body);
    await expectResult(28, enc.cat(enc.str(uuid), enc.str(oldName), enc.str(newName), enc.i32(d.kind)), 0);
    const labels = labelsOf('rutoken', 'Certificate');
    assert.deepEqual(labels, [newName], 'only the new container keeps a certificate');
    assert.deepEqual(labelsOf('rutoken', 'Private Key'), [newName], 'the old key pair is removed');
  }],
  ['kinds -3 and -5: 122 makes the key pair of the kind on the token, 126 installs', async () => {
    await requestKinds([
      { device: 'jacarta', kind: -3, container: 'JaCarta_2012_256', bits: 256 },
      { device: 'rutoken', kind: -5, container: 'Рутокен_2001', bits: 2001 },
    ]);
  }],

  ['kinds -4 and -7 against a CA with a 512-bit key: 122 and 126 on the token', async () => {
    // A 512-bit key agrees only with a CA key of its own size.
    page.close();
    await stop(prog.proc);
    peer = await startPeer(peerPath(program), { state: peer512State() });
    // A new working folder: its settings name the new CA.
    prog = await startProgram(program, { transportPort: peer.port, env: tokenEnv, cspDir: prog.cspDir });
    page = await connect();
    await requestKinds([
      { device: 'jacarta', kind: -4, container: 'JaCarta_2012_512', bits: 512 },
      { device: 'rutoken', kind: -7, container: 'Рутокен_2012_512', bits: 512 },
    ]);
  }],

  ['20 on a token store gives the provider status: no token 75, a changed PIN 74', async () => {
    page.close();
    await stop(prog.proc);
    fs.writeFileSync(
      config,
      `[slot]\nmodel = JaCarta GOST 2.0\npin = 1111111111\nmodule = ${jcModule}\nfolder = jacarta\n` +
        `[slot]\ntoken = absent\nmodule = ${rtModule}\n`,
    );
    prog = await startProgram(program, { transportPort: peer.port, env: tokenEnv, dir: prog.dir, cspDir: prog.cspDir });
    page = await connect();
    await expectResult(14, roots, 0, 15);
    await expectResult(18, enc.u32(2), 0, 19);
    assert.equal((await page.send(20)).result, 75);
    await expectResult(18, enc.u32(1), 0, 19);
    assert.equal((await page.send(20)).result, 74);
  }],
]);
