// Encoders and decoders of the client library; no service needed.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import { describe, test } from 'node:test';
import {
  COMMANDS, PellamoProtocolError, Writer, compareVersions, decodeCard, decodeCp1251, encodeCp1251, statusUrlOf, decodePayload, decodeReply, describeStatus,
  emptyCard, encodeCard, encodePayload, encodeRequest, isAcceptableStatus,
} from '../pellamo-client.js';
import { docPath, renderReference, splice } from '../tools/protocol-doc.mjs';

const hex = (b) => Buffer.from(b).toString('hex');
const date = (year, month, day) => ({ year, month, dayOfWeek: 0, day, hour: 0, minute: 0, second: 0, milliseconds: 0 });

describe('envelope', () => {
  test('request and reply of command 52 with uid x', () => {
    assert.equal(hex(encodeRequest('x', 52)), '0100000078' + '00000000' + '34000000');
    const reply = Buffer.from('01000000780100000035000000000000005000000', 'hex');
    const r = decodeReply(Buffer.concat([reply.subarray(0, 17), Buffer.from([80, 0, 0, 0])]));
    assert.deepEqual({ ...r, payload: hex(r.payload) }, { uid: 'x', format: 1, answer: 53, result: 0, payload: '50000000' });
    assert.equal(decodePayload(52, r.payload).csp, 80);
  });

  test('empty message is the unknown-command reply; a short one is damaged', () => {
    assert.equal(decodeReply(new Uint8Array(0)), null);
    assert.throws(() => decodeReply(Buffer.from('0500000078', 'hex')), PellamoProtocolError);
    assert.throws(() => decodeReply(Buffer.from('0100000078010000003500000000', 'hex')), PellamoProtocolError);
  });

  test('a UTF-8 uid round-trips', () => {
    const req = encodeRequest('запрос-1', 16);
    const back = decodeReply(Buffer.concat([Buffer.from(req.subarray(0, req.length - 8)), Buffer.from('010000001100000000000000', 'hex')]));
    assert.equal(back.uid, 'запрос-1');
  });
});

describe('client card', () => {
  const card = {
    ...emptyCard(),
    clientType: 2, withoutStamp: true, inn: '503214967066', ogrn: '304503214967012', companyName: 'ИП Иванов',
    surname: 'Иванов', name: 'Пётр', patronymic: 'Ильич', snils: '50321496744', position: '№1 «директор»',
    passport: { docType: 21, series: '4510', number: '123456', issuer: 'ОВД', divisionCode: '770-001', sex: 1,
      issueDate: date(2015, 3, 5), placeOfBirth: 'Москва', birthday: date(1980, 12, 31) },
    phone: '+7 495 000-00-00', email: 'ivanov@example.org',
    address: { region: 'Москва', city: 'Москва', street: 'Тверская', house: '1', korpus: '2', apartment: '3' },
    comment: '', envelopeId: '50321F', template: 3, csp: -6,
    period: { kind: 2, endDate: date(2027, 1, 31) },
    purposes: ['1.3.6.1.5.5.7.3.2', '1.2.643.6.7'], purposeIds: [26, 3],
    attachments: [{ docType: 1, fileName: 'паспорт.pdf', contents: Uint8Array.of(1, 2, 3) },
      { docType: 5, fileName: 'b', contents: Uint8Array.of(9) }],
  };

  test('both forms round-trip every field, texts in Windows-1251', () => {
    const web = decodeCard(encodeCard(card, { form: 'web' }), { form: 'web' });
    assert.deepEqual({ ...web, purposeIds: card.purposeIds }, { ...card, purposes: ['1.2.643.6.7', '1.3.6.1.5.5.7.3.2'] });
    const ca = decodeCard(encodeCard(card, { form: 'ca' }), { form: 'ca' });
    assert.deepEqual(ca.purposeIds, [3, 26]);
    assert.deepEqual(ca.purposes, []);
    // One byte per Cyrillic letter: the surname is 6 bytes long on the wire.
    assert.ok(hex(encodeCard(card)).includes('06000000' + hex(Buffer.from([0xc8, 0xe2, 0xe0, 0xed, 0xee, 0xe2]))));
  });

  test('CA form writes purposes {3, 26} as 08 00 00 00 03 00 00 00 1A 00 00 00 before the attachments', () => {
    const bytes = encodeCard({ ...card, attachments: [] }, { form: 'ca' });
    assert.ok(hex(bytes).endsWith('08000000030000001a000000'));
    assert.equal(hex(bytes.subarray(0, 8)), '1df1de346a000000');
  });

  test('passport written before its marker existed reads with document type 21', () => {
    const p = card.passport;
    const w = new Writer().u32(0x34def11d).u32(106).u32(0).bool(false);
    for (let i = 0; i < 9; ++i) w.ansi('');
    w.ansi(p.series).ansi(p.number).ansi(p.issuer).ansi(p.divisionCode).u32(p.sex).time(p.issueDate)
      .ansi(p.placeOfBirth).time(p.birthday);
    for (let i = 0; i < 10; ++i) w.ansi('');
    w.u32(0).u32(-2).blob(new Writer().u32(1).ansi('12').bytes()).blob(new Uint8Array(0));
    const back = decodeCard(w.bytes());
    assert.equal(back.passport.docType, 21);
    assert.equal(back.passport.placeOfBirth, 'Москва');
    assert.deepEqual(back.period, { kind: 1, months: '12' });
    assert.deepEqual(back.attachments, []);
  });

  test('damaged cards are refused, never read past the end', () => {
    const good = encodeCard(card);
    assert.throws(() => decodeCard(Uint8Array.of(0, 0, 0, 0, 106, 0, 0, 0)), /marker/);
    const v105 = Uint8Array.from(good);
    v105[4] = 105;
    assert.throws(() => decodeCard(v105), /version 105/);
    for (const cut of [9, 40, 200, good.length - 1]) {
      assert.throws(() => decodeCard(good.subarray(0, cut)), PellamoProtocolError, `cut at ${cut}`);
    }
  });

  test('Windows-1251 decodes as the browsers do, and every byte encodes back to itself', () => {
    const all = Uint8Array.from({ length: 256 }, (_, i) => i);
    const text = decodeCp1251(all);
    assert.equal(text, new TextDecoder('windows-1251').decode(all));
    assert.deepEqual(encodeCp1251(text), all);
    // Characters the code page lacks become '?', one per character (not per UTF-16 unit).
    assert.deepEqual([...encodeCp1251('\uFFFD€😀Ё')], [0x3f, 0x88, 0x3f, 0xa8]);
  });

  test('texts are cut at their first zero byte', () => {
    assert.equal(decodeCard(encodeCard({ ...card, inn: '5032149676\0junk' }, { form: 'web' })).inn, '5032149676');
  });
});

describe('command payloads', () => {
  test('command 40 writes a u32 for the numeric fields and a UTF-8 string for the others', () => {
    assert.equal(hex(encodePayload(40, { key: 'k', packetType: 1, field: 4, value: 5 })), '010000006b' + '01000000' + '04000000' + '05000000');
    assert.equal(hex(encodePayload(40, { key: 'k', packetType: 1, field: 9, value: 'Я' })), '010000006b' + '01000000' + '09000000' + '02000000d0af');
    assert.equal(hex(encodePayload(54, { key: '', packetType: 7, csp: -2 })), '00000000' + '07000000' + 'feffffff');
  });

  test('command 56 takes its flag as a boolean, written as a u32', () => {
    assert.equal(hex(encodePayload(56, { key: '', packetType: 1, oid: '1', add: true })).slice(-8), '01000000');
    assert.equal(hex(encodePayload(56, { key: '', packetType: 1, oid: '1', add: false })).slice(-8), '00000000');
    assert.throws(() => encodePayload(56, { key: '', packetType: 1, oid: '1', add: 1 }), /add: expected true or false/);
  });

  test('a missing argument is refused before anything is sent', () => {
    assert.throws(() => encodePayload(126, { uuid: 'u', container: 'c' }), /csp is missing/);
    assert.equal(hex(encodePayload(150, { index: 2 })), '02000000' + '00000000');
  });

  test('certificate list records, statuses in words', () => {
    const rec = (i, status) => new Writer().u32(i).text('ООО Ромашка').text('Иванов Пётр').blob(Uint8Array.of(1, 2))
      .u32(0).text('2027-01-31 10-00-00').u32(status);
    const bytes = new Writer().raw(rec(0, 0).bytes()).raw(rec(1, 0x80000000).bytes()).raw(rec(2, 0x10000000).bytes()).bytes();
    const list = decodePayload(20, bytes).certificates;
    assert.deepEqual(list.map((c) => [c.index, c.acceptable]), [[0, true], [1, true], [2, false]]);
    assert.equal(list[0].commonName, 'ООО Ромашка');
    assert.equal(list[0].statusText, 'действителен');
    assert.match(list[2].statusText, /недоверенным/);
    assert.deepEqual(decodePayload(20, new Uint8Array(0)).certificates, []);
    assert.equal(isAcceptableStatus(1), false);
    assert.match(describeStatus(0x40000000), /отозван/);
  });

  test('command 22: certificate blob and 64-byte signature; command 50 without values is null', () => {
    const cert = Uint8Array.from({ length: 10 }, (_, i) => i);
    const signed = new Writer().blob(cert).raw(new Uint8Array(64).fill(7)).bytes();
    const out = decodePayload(22, new Writer().blob(signed).bytes()).signed;
    assert.deepEqual([...out.certificate], [...cert]);
    assert.equal(out.signature.length, 64);
    assert.throws(() => decodePayload(22, new Writer().blob(new Writer().blob(cert).raw(new Uint8Array(3)).bytes()).bytes()), /signature/);
    assert.equal(decodePayload(50, new Uint8Array(0)).values, null);
  });

  test('every command has a method name of its own and an odd answer (56 answers 56)', () => {
    assert.equal(new Set(COMMANDS.map((c) => c.method)).size, 32);
    for (const c of COMMANDS) assert.equal(c.answer, c.code === 56 ? 56 : c.code + 1);
  });
});

test('docs/protocol.md carries the reference generated from the command table', () => {
  const doc = fs.readFileSync(docPath, 'utf8');
  assert.equal(doc, splice(doc, renderReference()), 'run: node web/tools/protocol-doc.mjs');
});

test('versions compare number by number; the status address follows the service address', () => {
  assert.equal(compareVersions('1.01.276', '1.1.276'), 0);
  assert.equal(compareVersions('1.01.276', '1.01.300'), -1);
  assert.equal(compareVersions('1.10.0', '1.9.999'), 1);
  assert.equal(compareVersions('2', '1.99.99'), 1);
  assert.equal(statusUrlOf('ws://127.0.0.1:3000/'), 'http://127.0.0.1:3000/status');
  assert.equal(statusUrlOf('wss://localhost:3001/any/path?x=1'), 'https://localhost:3001/status');
});

test('the worked example of docs/protocol.md is what the library sends and reads', () => {
  const doc = fs.readFileSync(docPath, 'utf8');
  const spaced = (b) => Buffer.from(b).toString('hex').replace(/(..)(?!$)/g, '$1 ');
  const line = (label) => new RegExp(`^${label} +([0-9a-f ]+)$`, 'm');
  const pin = encodeRequest('a2', 124, encodePayload(124, { pin: '5032149K' }));
  assert.equal(line('request').exec(doc.slice(doc.indexOf('Command 124')))[1].replace(/ +/g, ' ').trim(), spaced(pin));
  const reply = decodeReply(Buffer.from(line('reply').exec(doc.slice(doc.indexOf('Command 124')))[1].replace(/ /g, ''), 'hex'));
  assert.deepEqual({ ...reply, payload: reply.payload.length }, { uid: 'a2', format: 1, answer: 125, result: 0, payload: 0 });
  const first = doc.slice(doc.indexOf('Command 52 ('), doc.indexOf('Command 124'));
  const bytes = [...first.matchAll(/^(?:request|reply|) +((?:[0-9a-f]{2}(?: {1,2}(?=[0-9a-f]{2}\b))?)+)/gm)].map((m) => m[1].replace(/ /g, '')).join('');
  assert.equal(bytes, Buffer.from(encodeRequest('a1', 52)).toString('hex') + '020000006131' + '01000000' + '35000000' + '00000000' + '50000000');
});
