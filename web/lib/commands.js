// The enumerations of the protocol and the command table from which the
// client's methods, their wire format and the protocol reference are made.
import { PellamoProtocolError } from './errors.js';
import { Reader, Writer, decodeCard, toBytes } from './codec.js';

const utf8Decoder = new TextDecoder('utf-8');

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
  flag: {
    write: (w, v) => {
      if (typeof v !== 'boolean') throw new TypeError(`expected true or false, got ${v}`);
      w.u32(v ? 1 : 0);
    },
  },
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
  flag: 'u32: 1 for true, 0 for false',
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
      ['add', 'flag', 'true adds, false removes']], reply: [] },
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

export const BY_CODE = new Map(COMMANDS.map((c) => [c.code, c]));

/** Encodes a command's request payload from an argument object named as in COMMANDS. */
export function encodePayload(code, args = {}) {
  const cmd = BY_CODE.get(code);
  if (!cmd) throw new TypeError(`unknown command ${code}`);
  const w = new Writer();
  for (const [name, type] of cmd.request) {
    const value = name === 'reserved' ? (args[name] ?? 0) : args[name];
    if (value === undefined || value === null) throw new TypeError(`command ${code}: argument ${name} is missing`);
    try {
      FIELD[type].write(w, value, args);
    } catch (e) {
      throw new TypeError(`command ${code}: argument ${name}: ${e.message}`);
    }
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

/** What a command's method resolves with: one field, the named result, all fields, or nothing. */
export function resolveValue(cmd, fields) {
  if (cmd.result) return fields[cmd.result];
  if (cmd.reply.length === 0) return undefined;
  if (cmd.reply.length === 1) return fields[cmd.reply[0][0]];
  return fields;
}
