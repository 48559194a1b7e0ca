// The byte codec of the service's messages: little-endian integers, length-
// prefixed strings and blobs, Windows-1251 texts, the command envelope and
// the client card. Every read is bounds-checked.
import { PellamoProtocolError } from './errors.js';

const utf8Encoder = new TextEncoder();
const utf8Decoder = new TextDecoder('utf-8');

// Windows-1251, bytes 0x80..0xBF (0xC0..0xFF are U+0410..U+044F); the card's
// texts use it on the wire. 0x98, unassigned in the code page, is U+0098 as
// in the browsers' decoder (TextDecoder('windows-1251')), so every byte
// decodes to a character that encodes back to it.
const CP1251_HIGH =
  '\u0402\u0403\u201A\u0453\u201E\u2026\u2020\u2021\u20AC\u2030\u0409\u2039\u040A\u040C\u040B\u040F' +
  '\u0452\u2018\u2019\u201C\u201D\u2022\u2013\u2014\u0098\u2122\u0459\u203A\u045A\u045C\u045B\u045F' +
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

export function toBytes(value) {
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
  let q = r;
  if (head && PASSPORT_MARKER.every((x, i) => head[i] === x)) {
    r.raw(4);
    q = new Reader(r.blob(), 'passport record');
    p.docType = q.i32();
  } else {
    // Cards written before the passport had its own record: the same fields
    // in place, document type 21.
    p.docType = 21;
  }
  p.series = q.ansi();
  p.number = q.ansi();
  p.issuer = q.ansi();
  p.divisionCode = q.ansi();
  p.sex = q.i32();
  p.issueDate = q.time();
  p.placeOfBirth = q.ansi();
  p.birthday = q.time();
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

