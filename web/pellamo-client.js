// Client of Pellamo's local WebSocket service for a CA cabinet page.
//
// One ES module, no build step; runs in browsers and in Node.js (where the
// npm package ws is used when the runtime has no WebSocket of its own).
//
//   import { PellamoClient } from './pellamo-client.js';
//   const pellamo = new PellamoClient();            // ws://127.0.0.1:3000/
//   const certs = await pellamo.listCertificates();
//
// Every command is one method that returns a promise. A command that the
// program answers with a non-zero result rejects with a PellamoError carrying
// the code and the catalog's text; a service that cannot be reached rejects
// with a PellamoUnreachableError. The command table below drives both the
// wire format and the protocol reference (docs/protocol.md).

export const DEFAULT_URL = 'ws://127.0.0.1:3000/';

// ------------------------------------------------------------------ errors

/** A command answered with a non-zero result code. */
export class PellamoError extends Error {
  constructor(code, text, command) {
    super(`${text} (error ${code}, command ${command})`);
    this.name = 'PellamoError';
    this.code = code;
    this.text = text;
    this.command = command;
  }
}

/** The service could not be reached: not running, or the connection was refused (e.g. origin not allowed). */
export class PellamoUnreachableError extends Error {
  constructor(url, detail) {
    super(`service not reachable at ${url}${detail ? ` (${detail})` : ''}`);
    this.name = 'PellamoUnreachableError';
    this.code = 'UNREACHABLE';
    this.url = url;
  }
}

/** The connection ended before the reply came (the service closes it after some failures), or the reply was damaged. */
export class PellamoProtocolError extends Error {
  constructor(message, command) {
    super(message);
    this.name = 'PellamoProtocolError';
    this.code = 'PROTOCOL';
    this.command = command;
  }
}

// ------------------------------------------------------------ enumerations

export const CertStore = Object.freeze({ personal: 0, jacarta: 1, rutoken: 2 });

export const SubjectType = Object.freeze({ legalEntity: 0, naturalPerson: 1, entrepreneur: 2 });

/** Packet types that select a card in commands 40, 42, 54 and 56. */
export const PacketType = Object.freeze({ card: 1, renewal: 7, regionalCard: 9 });

export const CSP = Object.freeze({
  none: -2,
  jacarta2001: -1, jacarta2012_256: -3, jacarta2012_512: -4,
  rutoken2001: -5, rutoken2012_256: -6, rutoken2012_512: -7,
  vipnet2001: 2, vipnet2012_256: 77, vipnet2012_512: 78,
  cryptopro2001: 75, cryptopro2012_256: 80, cryptopro2012_512: 81,
});

export const CSP_NAMES = Object.freeze({
  [-2]: 'Не определён',
  [-1]: 'JaCarta GOST', [-3]: 'JaCarta GOST2012/256', [-4]: 'JaCarta GOST2012/512',
  [-5]: 'RuToken GOST', [-6]: 'RuToken GOST2012/256', [-7]: 'RuToken GOST2012/512',
  2: 'ViPNet CSP', 77: 'ViPNet CSP GOST2012/256', 78: 'ViPNet CSP GOST2012/512',
  75: '"Крипто ПРО" CSP', 80: '"Крипто ПРО" CSP GOST2012/256', 81: '"Крипто ПРО" CSP GOST2012/512',
});

/** Card fields of command 40; the numeric ones carry a u32, all others a UTF-8 text. */
export const CardField = Object.freeze({
  envelopeId: 3, template: 4, clientType: 5, inn: 6, kpp: 7, ogrn: 8, surname: 9, name: 10,
  patronymic: 11, snils: 12, position: 13, phone: 14, email: 15, region: 16, city: 17, street: 18,
  house: 19, korpus: 20, apartment: 21, comment: 22, passportSeries: 23, passportNumber: 24,
  passportIssuer: 25, passportIssueDate: 26, placeOfBirth: 27, birthday: 28, companyName: 29,
  divisionCode: 30, sex: 31, passportDocType: 32,
});
const NUMERIC_CARD_FIELDS = new Set([4, 5, 31, 32]);

/** Certificate status flags of the certificate list. */
export const CertStatus = Object.freeze({
  ok: 0, outsideValidity: 1, expiredRecently: 0x80000000, untrustedIssuer: 0x10000000,
  notQualified: 0x20000000, revoked: 0x40000000,
});

/** A status is acceptable when its low 31 bits are zero (the recent-expiry bit is a warning). */
export function isAcceptableStatus(status) {
  return ((status >>> 0) & 0x7fffffff) === 0;
}

/** The status flags in words (Russian, as a cabinet shows them). */
export function describeStatus(status) {
  const s = status >>> 0;
  const words = [];
  if (s & 0x40000000) words.push('отозван');
  if (s & 0x20000000) words.push('не квалифицированный или без идентификатора ключа УЦ');
  if (s & 0x10000000) words.push('выдан недоверенным УЦ');
  if (s & 1) words.push('вне срока действия');
  if (s & 0x80000000) words.push('срок действия истёк менее 30 дней назад');
  const rest = s & ~(0x40000000 | 0x20000000 | 0x10000000 | 1 | 0x80000000);
  if (rest) words.push(`флаги 0x${(rest >>> 0).toString(16)}`);
  return words.length ? words.join(', ') : 'действителен';
}

// -------------------------------------------------------------- byte codec

const utf8Encoder = new TextEncoder();
const utf8Decoder = new TextDecoder('utf-8');

// Windows-1251, bytes 0x80..0xFF; the card's texts use it on the wire.
const CP1251_HIGH =
  '\u0402\u0403\u201A\u0453\u201E\u2026\u2020\u2021\u20AC\u2030\u0409\u2039\u040A\u040C\u040B\u040F' +
  '\u0452\u2018\u2019\u201C\u201D\u2022\u2013\u2014\uFFFD\u2122\u0459\u203A\u045A\u045C\u045B\u045F' +
  '\u00A0\u040E\u045E\u0408\u00A4\u0490\u00A6\u00A7\u0401\u00A9\u0404\u00AB\u00AC\u00AD\u00AE\u0407' +
  '\u00B0\u00B1\u0406\u0456\u0491\u00B5\u00B6\u00B7\u0451\u2116\u0454\u00BB\u0458\u0405\u0455\u0457';
const CP1251_REVERSE = new Map();
for (let i = 0; i < 64; ++i) CP1251_REVERSE.set(CP1251_HIGH.charCodeAt(i), 0x80 + i);
for (let i = 0; i < 64; ++i) CP1251_REVERSE.set(0x410 + i, 0xc0 + i);

export function decodeCp1251(bytes) {
  let out = '';
  for (const b of bytes) {
    if (b < 0x80) out += String.fromCharCode(b);
    else if (b >= 0xc0) out += String.fromCharCode(0x410 + b - 0xc0);
    else out += CP1251_HIGH[b - 0x80];
  }
  return out;
}

/** Characters without a Windows-1251 byte become '?'. */
export function encodeCp1251(text) {
  const out = [];
  for (const ch of text) {
    const c = ch.codePointAt(0);
    out.push(c < 0x80 ? c : CP1251_REVERSE.get(c) ?? 0x3f);
  }
  return Uint8Array.from(out);
}

function toBytes(value) {
  if (value instanceof Uint8Array) return value;
  if (value instanceof ArrayBuffer) return new Uint8Array(value);
  if (ArrayBuffer.isView(value)) return new Uint8Array(value.buffer, value.byteOffset, value.byteLength);
  if (Array.isArray(value)) return Uint8Array.from(value);
  throw new TypeError('expected bytes (Uint8Array, ArrayBuffer or array of numbers)');
}

/** Builds a little-endian byte string. */
export class Writer {
  constructor() {
    this.parts = [];
    this.size = 0;
  }
  raw(bytes) {
    const b = toBytes(bytes);
    this.parts.push(b);
    this.size += b.length;
    return this;
  }
  u32(v) {
    if (!Number.isInteger(v)) throw new TypeError(`expected an integer, got ${v}`);
    const b = new Uint8Array(4);
    new DataView(b.buffer).setUint32(0, v >>> 0, true);
    return this.raw(b);
  }
  bool(v) {
    return this.raw(Uint8Array.of(v ? 1 : 0));
  }
  blob(bytes) {
    const b = toBytes(bytes);
    return this.u32(b.length).raw(b);
  }
  /** A text as UTF-8 (the commands' texts). */
  text(s) {
    return this.blob(utf8Encoder.encode(String(s ?? '')));
  }
  /** A text as Windows-1251 (the card's texts). */
  ansi(s) {
    return this.blob(encodeCp1251(String(s ?? '')));
  }
  time(t) {
    const b = new Uint8Array(16);
    const v = new DataView(b.buffer);
    const f = t ?? {};
    ['year', 'month', 'dayOfWeek', 'day', 'hour', 'minute', 'second', 'milliseconds']
      .forEach((k, i) => v.setUint16(i * 2, f[k] ?? 0, true));
    return this.u32(16).raw(b);
  }
  bytes() {
    const out = new Uint8Array(this.size);
    let at = 0;
    for (const p of this.parts) {
      out.set(p, at);
      at += p.length;
    }
    return out;
  }
}

/** Reads a little-endian byte string; every read is bounds-checked. */
export class Reader {
  constructor(bytes, what = 'reply') {
    this.b = toBytes(bytes);
    this.v = new DataView(this.b.buffer, this.b.byteOffset, this.b.byteLength);
    this.at = 0;
    this.what = what;
  }
  get remaining() {
    return this.b.length - this.at;
  }
  get done() {
    return this.at >= this.b.length;
  }
  need(n) {
    if (n > this.remaining) {
      throw new PellamoProtocolError(`${this.what} is damaged: ${n} bytes needed at offset ${this.at}, ${this.remaining} left`);
    }
  }
  raw(n) {
    this.need(n);
    const out = this.b.slice(this.at, this.at + n);
    this.at += n;
    return out;
  }
  u32() {
    this.need(4);
    const v = this.v.getUint32(this.at, true);
    this.at += 4;
    return v;
  }
  i32() {
    this.need(4);
    const v = this.v.getInt32(this.at, true);
    this.at += 4;
    return v;
  }
  bool() {
    this.need(1);
    return this.b[this.at++] !== 0;
  }
  blob() {
    return this.raw(this.u32());
  }
  text() {
    return utf8Decoder.decode(this.blob());
  }
  ansi() {
    return decodeCp1251(this.blob());
  }
  time() {
    const size = this.u32();
    const b = this.raw(size);
    if (size !== 16) throw new PellamoProtocolError(`${this.what} is damaged: a date of ${size} bytes`);
    const v = new DataView(b.buffer, b.byteOffset, 16);
    const t = {};
    ['year', 'month', 'dayOfWeek', 'day', 'hour', 'minute', 'second', 'milliseconds']
      .forEach((k, i) => (t[k] = v.getUint16(i * 2, true)));
    return t;
  }
  rest() {
    return this.raw(this.remaining);
  }
}

// ------------------------------------------------------------- envelope

/** Request envelope: uid (string), format field, command code, payload. */
export function encodeRequest(uid, command, payload = new Uint8Array(0)) {
  return new Writer().text(uid).u32(0).u32(command).raw(payload).bytes();
}

/** Reply envelope: uid, format field (1), answer code, result, payload. An empty message gives null. */
export function decodeReply(message) {
  const bytes = toBytes(message);
  if (bytes.length === 0) return null;
  const r = new Reader(bytes, 'reply envelope');
  const uid = r.text();
  const format = r.u32();
  const answer = r.u32();
  const result = r.u32();
  return { uid, format, answer, result, payload: r.rest() };
}

// ------------------------------------------------------------ client card

const CARD_MARKER = 0x34def11d;
const PASSPORT_MARKER = [0x2d, 0xf5, 0xd3, 0xe3];
export const CARD_VERSION = 106;

/** A card with the defaults of a new one. */
export function emptyCard() {
  return {
    version: CARD_VERSION, clientType: 0, withoutStamp: false,
    inn: '', ogrn: '', kpp: '', companyName: '', surname: '', name: '', patronymic: '', snils: '', position: '',
    passport: {
      docType: 21, series: '', number: '', issuer: '', divisionCode: '', sex: -1,
      issueDate: null, placeOfBirth: '', birthday: null,
    },
    phone: '', email: '',
    address: { region: '', city: '', street: '', house: '', korpus: '', apartment: '' },
    comment: '', envelopeId: '', template: 0, csp: -2,
    period: { kind: 1, months: '12' },
    purposes: [], purposeIds: [],
    attachments: [],
  };
}

function readPeriod(bytes) {
  const r = new Reader(bytes, 'validity period');
  if (r.done) return null;
  const kind = r.u32();
  if (kind === 1) return { kind, months: r.ansi() };
  if (kind === 2) return { kind, endDate: r.time() };
  return { kind };
}

function writePeriod(p) {
  const w = new Writer();
  if (!p) return w.bytes();
  w.u32(p.kind);
  if (p.kind === 1) w.ansi(p.months ?? '');
  else if (p.kind === 2) w.time(p.endDate);
  return w.bytes();
}

function readPassport(r, card) {
  const p = card.passport;
  const head = r.remaining >= 4 ? r.b.subarray(r.at, r.at + 4) : null;
  if (head && PASSPORT_MARKER.every((x, i) => head[i] === x)) {
    r.raw(4);
    const q = new Reader(r.blob(), 'passport record');
    p.docType = q.i32();
    p.series = q.ansi();
    p.number = q.ansi();
    p.issuer = q.ansi();
    p.divisionCode = q.ansi();
    p.sex = q.i32();
    p.issueDate = q.time();
    p.placeOfBirth = q.ansi();
    p.birthday = q.time();
  } else {
    // Cards written before the passport had its own record.
    p.docType = 21;
    p.series = r.ansi();
    p.number = r.ansi();
    p.issuer = r.ansi();
    p.divisionCode = r.ansi();
    p.sex = r.i32();
    p.issueDate = r.time();
    p.placeOfBirth = r.ansi();
    p.birthday = r.time();
  }
}

const cutAtZero = (s) => {
  const i = s.indexOf('\0');
  return i < 0 ? s : s.slice(0, i);
};

/**
 * Decodes a client card (version 106). form 'web' (the program's replies)
 * reads the added purposes as OID texts into `purposes`; form 'ca' reads them
 * as purpose numbers into `purposeIds`.
 */
export function decodeCard(bytes, { form = 'web' } = {}) {
  const r = new Reader(bytes, 'client card');
  const card = emptyCard();
  if (r.u32() !== CARD_MARKER) throw new PellamoProtocolError('client card is damaged: wrong marker');
  card.version = r.u32();
  if (card.version !== CARD_VERSION) throw new PellamoProtocolError(`client card version ${card.version} is not supported`);
  card.clientType = r.i32();
  card.withoutStamp = r.bool();
  for (const k of ['inn', 'ogrn', 'kpp', 'companyName', 'surname', 'name', 'patronymic', 'snils', 'position']) {
    card[k] = cutAtZero(r.ansi());
  }
  readPassport(r, card);
  card.phone = cutAtZero(r.ansi());
  card.email = cutAtZero(r.ansi());
  for (const k of ['region', 'city', 'street', 'house', 'korpus', 'apartment']) card.address[k] = cutAtZero(r.ansi());
  card.comment = cutAtZero(r.ansi());
  card.envelopeId = cutAtZero(r.ansi());
  card.template = r.i32();
  card.csp = r.i32();
  card.period = readPeriod(r.blob());
  const purposes = new Reader(r.blob(), 'purpose list');
  if (form === 'ca') {
    while (purposes.remaining >= 4) card.purposeIds.push(purposes.u32());
  } else {
    while (!purposes.done) card.purposes.push(purposes.ansi());
  }
  while (!r.done) {
    const docType = r.u32();
    const fileName = r.ansi();
    const contents = r.blob();
    card.attachments.push({ docType, fileName, contents });
  }
  const p = card.passport;
  for (const k of ['series', 'number', 'issuer', 'divisionCode', 'placeOfBirth']) p[k] = cutAtZero(p[k]);
  return card;
}

/** Encodes a client card (version 106) in the web form (purpose texts) or the CA form (purpose numbers). */
export function encodeCard(input, { form = 'ca' } = {}) {
  const card = { ...emptyCard(), ...input };
  const p = { ...emptyCard().passport, ...(input.passport ?? {}) };
  const a = { ...emptyCard().address, ...(input.address ?? {}) };
  const w = new Writer().u32(CARD_MARKER).u32(CARD_VERSION).u32(card.clientType).bool(card.withoutStamp);
  for (const k of ['inn', 'ogrn', 'kpp', 'companyName', 'surname', 'name', 'patronymic', 'snils', 'position']) {
    w.ansi(card[k]);
  }
  const passport = new Writer().u32(p.docType).ansi(p.series).ansi(p.number).ansi(p.issuer).ansi(p.divisionCode)
    .u32(p.sex).time(p.issueDate).ansi(p.placeOfBirth).time(p.birthday).bytes();
  w.raw(PASSPORT_MARKER).blob(passport);
  w.ansi(card.phone).ansi(card.email);
  for (const k of ['region', 'city', 'street', 'house', 'korpus', 'apartment']) w.ansi(a[k]);
  w.ansi(card.comment).ansi(card.envelopeId).u32(card.template).u32(card.csp);
  w.blob(writePeriod(card.period));
  const purposes = new Writer();
  if (form === 'ca') {
    [...new Set(card.purposeIds ?? [])].sort((x, y) => x - y).forEach((id) => purposes.u32(id));
  } else {
    [...new Set(card.purposes ?? [])].map((t) => encodeCp1251(t))
      .sort(compareBytes).forEach((t) => purposes.blob(t));
  }
  w.blob(purposes.bytes());
  for (const att of card.attachments ?? []) w.u32(att.docType).ansi(att.fileName).blob(att.contents);
  return w.bytes();
}

function compareBytes(x, y) {
  for (let i = 0; i < Math.min(x.length, y.length); ++i) if (x[i] !== y[i]) return x[i] - y[i];
  return x.length - y.length;
}

// --------------------------------------------------------- reply decoders

function decodeCertificateList(r) {
  const list = [];
  while (!r.done) {
    const rec = {
      index: r.u32(), commonName: r.text(), person: r.text(), serialNumber: r.blob(),
      subjectType: r.i32(), validTo: utf8Decoder.decode(r.blob()), status: r.u32(),
    };
    rec.acceptable = isAcceptableStatus(rec.status);
    rec.statusText = describeStatus(rec.status);
    list.push(rec);
  }
  return list;
}

function decodeCatalog(r) {
  const map = new Map();
  while (!r.done) {
    const code = r.u32();
    map.set(code, r.text());
  }
  return map;
}

function decodeSigned(bytes) {
  // The certificate as a blob, then the 64-byte signature over that blob.
  const r = new Reader(bytes, 'signed message');
  const certificate = r.blob();
  const signature = r.rest();
  if (signature.length !== 64) throw new PellamoProtocolError(`signed message is damaged: signature of ${signature.length} bytes`);
  return { signed: toBytes(bytes), certificate, signature };
}

export const EGRUL_FIELDS = [
  'kpp', 'house', 'region', 'flat', 'city', 'settlement', 'street', 'building',
  'headSurname', 'headPatronymic', 'headPosition', 'headName', 'ogrn', 'fullName', 'shortName',
];

function decodeEgrul(r) {
  if (r.done) return null;  // not a legal entity's INN: nothing looked up
  const block = new Reader(r.raw(r.u32()), 'register values');
  const out = {};
  for (const k of EGRUL_FIELDS) out[k] = block.text();
  return out;
}

// Field types: how a request field is written and a reply field is read.
const FIELD = {
  u32: { write: (w, v) => w.u32(v), read: (r) => r.u32() },
  i32: { write: (w, v) => w.u32(v), read: (r) => r.i32() },
  text: { write: (w, v) => w.text(v), read: (r) => r.text() },
  bytes: { write: (w, v) => w.blob(v), read: (r) => r.blob() },
  card: { read: (r) => decodeCard(r.blob(), { form: 'web' }) },
  cardOrNull: { read: (r) => { const b = r.blob(); return b.length ? decodeCard(b, { form: 'web' }) : null; } },
  signed: { read: (r) => decodeSigned(r.blob()) },
  certificates: { read: decodeCertificateList },
  catalog: { read: decodeCatalog },
  egrul: { read: decodeEgrul },
  cardValue: {
    write: (w, v, args) => (NUMERIC_CARD_FIELDS.has(args.field) ? w.u32(v) : w.text(v)),
  },
};

/** Wire types as the protocol reference names them. */
export const WIRE_TYPES = {
  u32: '32-bit unsigned, little-endian',
  i32: '32-bit signed, little-endian',
  text: 'string: u32 byte count, then UTF-8',
  bytes: 'blob: u32 byte count, then the bytes',
  card: 'blob holding a client card, web form',
  cardOrNull: 'blob holding a client card, web form; empty for other packet types',
  signed: 'blob: the certificate as a blob, then its 64-byte signature',
  certificates: 'certificate records to the end of the message, no count',
  catalog: 'records (u32 code, UTF-8 string text) to the end of the message, no count',
  egrul: 'u32 byte count, then 15 UTF-8 strings; absent when nothing was looked up',
  cardValue: 'u32 for fields 4, 5, 31, 32; otherwise a UTF-8 string',
};

// ------------------------------------------------------------ command table

// One row per command: code, answer, command class, method of PellamoClient,
// request fields and reply fields ([name, type, meaning]); `result` says how
// the method resolves when the reply has more than one field or none;
// `errors` lists the result codes the command typically fails with, and
// `closes` marks failures that end the connection without a reply.
export const COMMANDS = [
  { code: 14, answer: 15, errors: [], className: 'CSetRootCALkCertsWebPacket', method: 'setRootCACerts',
    summary: 'Hands over the trusted root CA key identifiers used by the certificate list.',
    request: [['roots', 'bytes', 'u32 count, then each key identifier as a blob']], reply: [] },
  { code: 16, answer: 17, errors: [], className: 'CGetErrorListWebPacket', method: 'getErrorList',
    summary: 'The error catalog: every code with its text. The client fetches it once to explain result codes.',
    request: [], reply: [['catalog', 'catalog', 'Map from code to text']] },
  { code: 18, answer: 19, errors: [], className: 'CSetCertStoreWebPacket', method: 'setCertStore',
    summary: 'Chooses where the user\'s certificates live: 0 personal store, 1 JaCarta token, 2 Rutoken token.',
    request: [['store', 'u32', 'CertStore']], reply: [] },
  { code: 20, answer: 21, errors: [1,38,75], className: 'CCertListWebPacket', method: 'listCertificates',
    summary: 'Lists the certificates of the chosen store with their status (needs command 14 first).',
    request: [], reply: [['certificates', 'certificates', 'array of certificate records']] },
  { code: 22, answer: 23, errors: [3,8,10,12,40,43,72], className: 'CAuthWebPacket', method: 'authenticate',
    summary: 'Logs in with a listed certificate: returns the certificate and a signature made with its key.',
    request: [['index', 'u32', 'index from the certificate list']],
    reply: [['signed', 'signed', '{ signed, certificate, signature }']] },
  { code: 24, answer: 25, errors: [], className: 'CProlongKeyWebPacket', method: 'startRenewal',
    summary: 'Starts a key renewal for the authenticated certificate.', closes: true,
    request: [], reply: [] },
  { code: 26, answer: 27, errors: [1,12,14,71], className: 'CProlongKeyRegisterWebPacket', method: 'buildRenewal',
    summary: 'Creates the new key container and returns the protected renewal packet for the CA.',
    request: [],
    reply: [['oldContainer', 'text', 'container of the certificate being renewed'],
      ['newContainer', 'text', 'provider-unique name of the new container'],
      ['newContainerName', 'text', 'name generated for the new container'],
      ['csp', 'i32', 'CSP kind'], ['packet', 'bytes', 'renewal packet to post to the CA']] },
  { code: 28, answer: 29, errors: [18,21,22,23,26,32,8,9,11,44,72,73], className: 'CLoadReleasedCertToContainerWebPacket', method: 'installRenewedCertificate',
    summary: 'Fetches the CA\'s answer to a renewal by UUID and installs the certificate into the new container and the personal store.',
    request: [['uuid', 'text', 'UUID of the CA\'s answer'], ['oldContainer', 'text', ''],
      ['newContainer', 'text', ''], ['csp', 'i32', 'CSP kind']], reply: [] },
  { code: 40, answer: 41, errors: [1], className: 'CSetClientInfoWebPacket', method: 'setCardField',
    summary: 'Sets one field of a card (CardField). An unknown field number closes the connection.', closes: true,
    request: [['key', 'text', 'partner card key'], ['packetType', 'u32', 'PacketType: 1, 7 or 9'],
      ['field', 'u32', 'CardField'], ['value', 'cardValue', 'the value; dates as YYYYMMDD']], reply: [] },
  { code: 42, answer: 43, errors: [1], className: 'CSetDocAttachmentWebPacket', method: 'attachDocument',
    summary: 'Attaches a document to a card (one per type, except type 5).',
    request: [['key', 'text', ''], ['packetType', 'u32', 'PacketType: 1 or 7'], ['docType', 'u32', 'document type'],
      ['fileName', 'text', ''], ['contents', 'bytes', 'file contents']], reply: [] },
  { code: 44, answer: 45, errors: [18,21,22,23,32,9,11], className: 'CReleasedCertWebPacket', method: 'getReleasedCertificate',
    summary: 'Fetches a renewed certificate from the CA by UUID.',
    request: [['uuid', 'text', '']], reply: [['certificate', 'bytes', 'DER certificate']] },
  { code: 46, answer: 47, errors: [], className: 'CSaveClientCardWebPacket', method: 'saveClientCard',
    summary: 'Serializes the card of the current client packet (nothing is stored or sent).',
    request: [], reply: [] },
  { code: 48, answer: 49, errors: [39], className: 'CLoadAuthCertInfoWebPacket', method: 'loadAuthCertInfo',
    summary: 'The client card read from the authenticated certificate.',
    request: [], reply: [['card', 'card', 'client card']] },
  { code: 50, answer: 51, errors: [18,21], className: 'CEgrulInfoWebPacket', method: 'lookupRegister',
    summary: 'Looks a legal entity up in the state register by INN (10 digits, subject type 0); other input gives null.',
    closes: true,
    request: [['inn', 'text', ''], ['subjectType', 'u32', 'SubjectType']],
    reply: [['values', 'egrul', 'object with the 15 register values, or null']] },
  { code: 52, answer: 53, errors: [], className: 'CGetCurrentCSPWebPacket', method: 'getCurrentCSP',
    summary: 'The CSP kind in use (set by authentication).',
    request: [], reply: [['csp', 'i32', 'CSP kind']] },
  { code: 54, answer: 55, errors: [1], className: 'CSetRequestedCSPWebPacket', method: 'setRequestedCSP',
    summary: 'Chooses the CSP for a request (mapped to its GOST 2012 counterpart).',
    request: [['key', 'text', ''], ['packetType', 'u32', 'PacketType: 1, 7 or 9'], ['csp', 'i32', 'CSP kind']], reply: [] },
  { code: 56, answer: 56, errors: [1], className: 'CSetEnhOidWebPacket', method: 'setExtraPurpose',
    summary: 'Adds or removes an extra key purpose (OID text) on a card. Answers with 56 itself.',
    request: [['key', 'text', ''], ['packetType', 'u32', 'PacketType: 1 or 7'], ['oid', 'text', 'purpose OID'],
      ['add', 'u32', '1 add, 0 remove']], reply: [] },
  { code: 104, answer: 105, errors: [6,8,9,11,46,48], className: 'CDecryptRawQnCardWebPacket', method: 'decryptCardPacket',
    summary: 'Opens a card or renewal packet sent to the CA side and returns its card.',
    request: [['packet', 'bytes', '']], reply: [['card', 'cardOrNull', 'client card, or null']] },
  { code: 106, answer: 107, errors: [9,11,72], className: 'CDecryptClientCertWebPacket', method: 'decryptReleasedCertificate',
    summary: 'Opens a released-certificate packet with a named container.',
    request: [['container', 'text', ''], ['csp', 'i32', 'CSP kind'], ['packet', 'bytes', '']],
    reply: [['response', 'u32', 'the CA\'s response code'], ['certificate', 'bytes', 'DER certificate']] },
  { code: 108, answer: 109, errors: [6,8,9,11], className: 'CDecryptPacketInWebPacket', method: 'decryptPacketIn',
    summary: 'Opens an incoming packet: its key exchange header and the whole decrypted payload.',
    request: [['packet', 'bytes', '']],
    reply: [['header', 'bytes', 'key exchange header'], ['plain', 'bytes', 'payload, permanent header included']] },
  { code: 110, answer: 111, errors: [8,13], className: 'CEncryptSignWebPacket', method: 'encryptSign',
    summary: 'Encrypts and signs a payload for the peer named in a key exchange header.',
    request: [['header', 'bytes', 'key exchange header'], ['payload', 'bytes', '']],
    reply: [['packet', 'bytes', 'protected packet (empty after a failure)']] },
  { code: 112, answer: 113, errors: [6,8,9,11], className: 'CDecryptVerifyWebPacket', method: 'decryptVerify',
    summary: 'Verifies and decrypts a packet.',
    request: [['packet', 'bytes', '']], reply: [['plain', 'bytes', 'payload (empty after a failure)']] },
  { code: 114, answer: 115, errors: [8,12], className: 'CSignPacketWebPacket', method: 'signPacket',
    summary: 'Signs a payload for the peer named in a key exchange header.',
    request: [['header', 'bytes', 'key exchange header'], ['payload', 'bytes', '']],
    reply: [['packet', 'bytes', 'signed packet (empty after a failure)']] },
  { code: 120, answer: 121, errors: [61,18,21,26,27,28,29,30,9], className: 'CGetClientCardByConvertQnWebPacket', method: 'openEnvelope',
    summary: 'Fetches the card of an envelope from the CA; it becomes the card of the next certificate request.',
    request: [['envelopeId', 'text', '6-character envelope identifier']],
    reply: [['result', 'u32', '0 once more'], ['card', 'card', 'client card']], result: 'card' },
  { code: 122, answer: 123, errors: [3,12,43,70,71], className: 'CSendP10ClientRequestWebPacket', method: 'requestCertificate',
    summary: 'Creates the key container, builds and signs the PKCS#10 request and returns the registration packet.',
    request: [['container', 'text', 'name for the new key container']],
    reply: [['envelopeId', 'text', ''], ['csp', 'i32', 'CSP kind of the card'],
      ['container', 'text', 'provider-unique container name'], ['packet', 'bytes', 'registration packet to post to the CA']] },
  { code: 124, answer: 125, errors: [], className: 'CSetConvertPinWebPacket', method: 'setEnvelopePin',
    summary: 'Gives the PIN from the envelope for the next certificate request.',
    request: [['pin', 'text', '']], reply: [] },
  { code: 126, answer: 127, errors: [18,21,23,34,44,72,73], className: 'CLoadReleasedCertToContainerQnWebPacket', method: 'installReleasedCertificate',
    summary: 'Fetches the CA\'s answer by UUID and installs the certificate into the container and the personal store.',
    request: [['uuid', 'text', ''], ['container', 'text', ''], ['csp', 'i32', 'CSP kind']], reply: [] },
  { code: 140, answer: 141, errors: [1,12], className: 'BuildPartnerCardWebPacket', method: 'buildPartnerCard',
    summary: 'Builds the registration packet of a partner card (needs an authenticated certificate).',
    request: [['key', 'text', '']], reply: [['packet', 'bytes', 'packet to post to the CA']] },
  { code: 142, answer: 143, errors: [], className: 'CCreatePartnerCardWebPacket', method: 'createPartnerCard',
    summary: 'Creates an empty partner card under a key (an existing one is kept).',
    request: [['key', 'text', '']], reply: [] },
  { code: 144, answer: 145, errors: [1,12,14,25], className: 'CVedevaRegAbonentWebPacket', method: 'registerRegionalAbonent',
    summary: 'Turns a partner card into a key, a signed request and a protected regional registration packet.',
    request: [['key', 'text', ''], ['container', 'text', ''], ['text', 'text', 'registration text']],
    reply: [['container', 'text', 'provider-unique container name'], ['packet', 'bytes', '']] },
  { code: 150, answer: 151, errors: [40], className: 'CSetQnCACertWebPacket', method: 'pairWithCA',
    summary: 'Pairs a listed certificate\'s key with the CA so that packets for it can be opened.',
    request: [['index', 'u32', ''], ['reserved', 'u32', 'not used; 0']], reply: [] },
  { code: 152, answer: 153, errors: [72,73], className: 'CUploadCertToContainerWebPacket', method: 'uploadCertificate',
    summary: 'Installs a certificate the page holds into a container (not into the personal store).',
    request: [['certificate', 'bytes', 'DER certificate'], ['container', 'text', ''], ['csp', 'i32', 'CSP kind']],
    reply: [] },
];

const BY_CODE = new Map(COMMANDS.map((c) => [c.code, c]));

/** Encodes a command's request payload from an argument object named as in COMMANDS. */
export function encodePayload(code, args = {}) {
  const cmd = BY_CODE.get(code);
  if (!cmd) throw new TypeError(`unknown command ${code}`);
  const w = new Writer();
  for (const [name, type] of cmd.request) {
    const value = name === 'reserved' ? (args[name] ?? 0) : args[name];
    if (value === undefined || value === null) throw new TypeError(`command ${code}: argument ${name} is missing`);
    FIELD[type].write(w, value, args);
  }
  return w.bytes();
}

/** Decodes a successful reply payload into an object of the reply fields. */
export function decodePayload(code, payload) {
  const cmd = BY_CODE.get(code);
  const r = new Reader(payload, `reply to command ${code}`);
  const out = {};
  for (const [name, type] of cmd.reply) out[name] = FIELD[type].read(r);
  return out;
}

function resolveValue(cmd, fields) {
  if (cmd.result) return fields[cmd.result];
  if (cmd.reply.length === 0) return undefined;
  if (cmd.reply.length === 1) return fields[cmd.reply[0][0]];
  return fields;
}

// ------------------------------------------------------------------ client

async function defaultSocketFactory() {
  if (typeof globalThis.WebSocket === 'function') return (url) => new globalThis.WebSocket(url);
  const ws = await import('ws');
  const WS = ws.default ?? ws.WebSocket;
  return (url) => new WS(url);
}

/**
 * A connection to the service. Commands may be sent at once; replies are
 * matched by uid. The connection is opened on first use and again after the
 * service closed it.
 */
export class PellamoClient {
  /**
   * @param {object} [options]
   * @param {string} [options.url] ws://127.0.0.1:3000/ by default
   * @param {(url: string) => WebSocket} [options.createSocket] makes the socket (e.g. with ws options)
   * @param {number} [options.timeout] milliseconds per command; 0 for none (default 120000)
   * @param {number} [options.connectTimeout] milliseconds to open the connection (default 5000)
   */
  constructor({ url = DEFAULT_URL, createSocket, timeout = 120000, connectTimeout = 5000 } = {}) {
    this.url = url;
    this.createSocket = createSocket;
    this.timeout = timeout;
    this.connectTimeout = connectTimeout;
    this.socket = null;
    this.opening = null;
    this.pending = new Map();
    this.order = [];
    this.counter = 0;
    this.uidPrefix = Math.random().toString(36).slice(2, 8);
    this.catalog = null;
  }

  /** Opens the connection; rejects with PellamoUnreachableError. Calling it again reuses the open one. */
  connect() {
    if (this.socket) return Promise.resolve();
    if (this.opening) return this.opening;
    this.opening = (async () => {
      const make = this.createSocket ?? (await defaultSocketFactory());
      let socket;
      try {
        socket = make(this.url);
      } catch (e) {
        throw new PellamoUnreachableError(this.url, e.message);
      }
      socket.binaryType = 'arraybuffer';
      await new Promise((resolve, reject) => {
        const timer = this.connectTimeout
          ? setTimeout(() => { socket.close(); reject(new PellamoUnreachableError(this.url, 'timed out')); }, this.connectTimeout)
          : null;
        const fail = (why) => {
          clearTimeout(timer);
          reject(new PellamoUnreachableError(this.url, why));
        };
        socket.onerror = (e) => fail(e?.message || 'connection failed');
        socket.onclose = (e) => fail(`closed with code ${e?.code ?? '?'}`);
        socket.onopen = () => {
          clearTimeout(timer);
          resolve();
        };
      });
      socket.onmessage = (e) => this.onMessage(e.data);
      socket.onclose = () => this.onClosed(socket);
      socket.onerror = () => {};
      this.socket = socket;
    })().finally(() => {
      this.opening = null;
    });
    return this.opening;
  }

  /** Closes the connection; commands still waiting reject. */
  close() {
    const s = this.socket;
    if (s) {
      this.onClosed(s, 'closed by the page');
      s.close();
    }
  }

  get connected() {
    return this.socket !== null;
  }

  onClosed(socket, why = 'the service closed the connection without a reply') {
    if (this.socket !== socket) return;
    this.socket = null;
    for (const uid of this.order) {
      const p = this.pending.get(uid);
      if (p) {
        clearTimeout(p.timer);
        p.fail(new PellamoProtocolError(why, p.code));
      }
    }
    this.pending.clear();
    this.order = [];
  }

  onMessage(data) {
    let reply;
    try {
      const bytes = typeof data === 'string' ? utf8Encoder.encode(data) : toBytes(data);
      reply = decodeReply(bytes);
    } catch (e) {
      // A damaged reply cannot be matched; the oldest command is the one it answers.
      const uid = this.order[0];
      if (uid) this.take(uid).fail(e);
      return;
    }
    // An empty message answers a command the service does not know; replies
    // come in request order, so it belongs to the oldest waiting command.
    const uid = reply === null ? this.order[0] : reply.uid;
    const p = uid !== undefined && this.take(uid);
    if (!p) return;
    if (reply === null) {
      p.fail(new PellamoProtocolError(`command ${p.code} is not known to the service`, p.code));
    } else if (reply.answer !== p.answer) {
      p.fail(new PellamoProtocolError(`command ${p.code} was answered with code ${reply.answer}`, p.code));
    } else {
      p.done(reply);
    }
  }

  take(uid) {
    const p = this.pending.get(uid);
    if (!p) return null;
    this.pending.delete(uid);
    this.order.splice(this.order.indexOf(uid), 1);
    clearTimeout(p.timer);
    return p;
  }

  /** Sends a raw payload and resolves with the reply envelope ({ uid, format, answer, result, payload }). */
  async send(code, payload = new Uint8Array(0)) {
    await this.connect();
    const cmd = BY_CODE.get(code);
    const uid = `${this.uidPrefix}-${++this.counter}`;
    return new Promise((resolve, reject) => {
      const p = { code, answer: cmd ? cmd.answer : code + 1, done: resolve, fail: reject, timer: null };
      if (this.timeout) {
        p.timer = setTimeout(() => {
          if (this.take(uid)) reject(new PellamoProtocolError(`command ${code}: no reply within ${this.timeout} ms`, code));
        }, this.timeout);
      }
      this.pending.set(uid, p);
      this.order.push(uid);
      try {
        this.socket.send(encodeRequest(uid, code, payload));
      } catch (e) {
        this.take(uid);
        reject(new PellamoProtocolError(`command ${code} could not be sent: ${e.message}`, code));
      }
    });
  }

  /** Runs a command of the table: encodes args, rejects on a non-zero result, decodes the reply. */
  async call(code, args = {}) {
    const cmd = BY_CODE.get(code);
    const reply = await this.send(code, encodePayload(code, args));
    if (reply.result !== 0) throw new PellamoError(reply.result, await this.errorText(reply.result), code);
    return resolveValue(cmd, decodePayload(code, reply.payload));
  }

  /** The catalog's text of a result code; the catalog is fetched once (command 16). */
  async errorText(code) {
    if (!this.catalog) {
      this.catalog = this.call(16).catch((e) => {
        this.catalog = null;
        throw e;
      });
    }
    try {
      return (await this.catalog).get(code) ?? 'Неизвестная ошибка';
    } catch {
      return `Ошибка ${code}`;
    }
  }
}

// One method per command, named in the table; positional arguments follow the
// request fields, or one object with the fields' names may be passed.
for (const cmd of COMMANDS) {
  Object.defineProperty(PellamoClient.prototype, cmd.method, {
    configurable: true,
    writable: true,
    value: function (...values) {
      const names = cmd.request.map(([n]) => n);
      const single = values.length === 1 && values[0] !== null && typeof values[0] === 'object' &&
        !ArrayBuffer.isView(values[0]) && !(values[0] instanceof ArrayBuffer) && !Array.isArray(values[0]);
      const args = single && names.length > 0 && names.some((n) => n in values[0])
        ? values[0]
        : Object.fromEntries(names.map((n, i) => [n, values[i]]));
      return this.call(cmd.code, args);
    },
  });
}
