// The CA's side of the demo cabinet: what a real cabinet's server does. The
// page posts the program's packets to the transport server on its own origin
// (the local CA peer serves this page), and the local peer's control
// endpoints stand in for the CA operator who issues envelopes.
import { Reader, encodeCard } from './pellamo-client.js';

const MAGIC = new TextEncoder().encode('tesel.message');
const ERROR_FORM = new TextEncoder().encode('error=');

// Server error numbers of the transport format and their catalog codes.
const SERVER_ERRORS = [22, 23, 24, 22, 26, 27, 29, 28, 30, 22, 25, 1, 19, 20];

export class CaError extends Error {
  constructor(code, detail) {
    super(detail);
    this.name = 'CaError';
    this.code = code;
  }
}

function startsWith(bytes, prefix, at = 0) {
  return bytes.length >= at + prefix.length && prefix.every((b, i) => bytes[at + i] === b);
}

// The answer to a posted packet: magic, then the UUID as a string, or magic,
// "error=" and a server error number.
export function readAcceptAnswer(bytes) {
  if (!startsWith(bytes, MAGIC)) throw new CaError(6, 'the CA answered without the transport header');
  if (startsWith(bytes, ERROR_FORM, MAGIC.length)) {
    const number = new Reader(bytes.subarray(MAGIC.length + ERROR_FORM.length)).u32();
    throw new CaError(SERVER_ERRORS[number] ?? 32, `server error ${number}`);
  }
  const r = new Reader(bytes.subarray(MAGIC.length), 'CA answer');
  return r.ansi();
}

/** Posts a packet to a transport endpoint and returns the UUID of the CA's future answer. */
export async function postPacket(path, packet) {
  let res;
  try {
    res = await fetch(path, { method: 'POST', body: packet, headers: { 'Content-Type': 'application/octet-stream' } });
  } catch (e) {
    throw new CaError(18, e.message);
  }
  if (!res.ok) throw new CaError(21, `HTTP ${res.status}`);
  return readAcceptAnswer(new Uint8Array(await res.arrayBuffer()));
}

// Envelope identifiers and PINs carry a check character: a weighted sum of
// the characters' codes minus 48, modulo 36, written as 0-9 or A-Z.
function checkChar(text, weights) {
  const s = [...text].reduce((sum, ch, i) => sum + (ch.charCodeAt(0) - 48) * weights[i], 0);
  const r = ((s % 36) + 36) % 36;
  return r <= 9 ? String(r) : String.fromCharCode(r + 55);
}

const randomDigits = (n) => Array.from({ length: n }, () => Math.floor(Math.random() * 10)).join('');

export function makeEnvelopeId() {
  const body = randomDigits(5);
  return body + checkChar(body, [3, 7, 9, 4, 1]);
}

export function makePin() {
  const body = randomDigits(7);
  return body + checkChar(body, [7, 2, 3, 7, 9, 4, 1]);
}

const day = (year, month, d) => ({ year, month, dayOfWeek: 0, day: d, hour: 0, minute: 0, second: 0, milliseconds: 0 });

/** The applicant of the demo: a legal entity with valid registration numbers. */
export function demoApplicant(envelopeId, csp) {
  return {
    clientType: 0, inn: '5032149676', ogrn: '1025032149670', kpp: '503201001',
    companyName: 'ООО «Ромашка»', surname: 'Иванов', name: 'Пётр', patronymic: 'Сергеевич',
    snils: '50321496744', position: 'Генеральный директор',
    passport: { docType: 21, series: '4510', number: '123456', issuer: 'ОВД района Арбат г. Москвы',
      divisionCode: '770-001', sex: 0, issueDate: day(2015, 3, 5), placeOfBirth: 'г. Москва', birthday: day(1980, 12, 31) },
    phone: '+7 495 000-00-00', email: 'ivanov@romashka.example',
    address: { region: 'Московская область', city: 'Одинцово', street: 'ул. Маршала Жукова', house: '1', korpus: '', apartment: '' },
    comment: 'Демонстрационный заявитель', envelopeId, template: 0, csp,
    period: { kind: 1, months: '12' }, purposeIds: [],
    attachments: [{ docType: 5, fileName: 'заявление.txt', contents: new TextEncoder().encode('Прошу выдать сертификат.') }],
  };
}

/** Has the local CA issue an envelope for the demo applicant; returns { id, pin }. */
export async function issueEnvelope(csp) {
  const id = makeEnvelopeId();
  const pin = makePin();
  const res = await fetch(`/control/envelope/${id}?password=${pin}&kind=${csp}`, {
    method: 'POST', body: encodeCard(demoApplicant(id, csp), { form: 'ca' }),
  });
  if (!res.ok) throw new CaError(21, `the local CA refused the envelope: ${await res.text()}`);
  return { id, pin };
}

// DER: the value of a key identifier extension (2.5.29.14) of a certificate.
function subjectKeyId(der) {
  const oid = [0x06, 0x03, 0x55, 0x1d, 0x0e];
  for (let i = 0; i + oid.length < der.length; ++i) {
    if (!startsWith(der, oid, i)) continue;
    let at = i + oid.length;
    if (der[at] === 0x01) at += 2 + der[at + 1];          // critical flag
    if (der[at] !== 0x04) return null;                    // extnValue OCTET STRING
    at += der[at + 1] & 0x80 ? 2 + (der[at + 1] & 0x7f) : 2;
    if (der[at] !== 0x04) return null;                    // KeyIdentifier OCTET STRING
    return der.slice(at + 2, at + 2 + der[at + 1]);
  }
  return null;
}

/** The trusted-roots blob of command 14 for the CA's two certificates: u32 count, then each key identifier as a blob. */
export async function trustedRoots() {
  const ids = [];
  for (const path of ['/api/etc/getCertCA', '/api/etc/getCertCA_2012']) {
    const res = await fetch(path);
    if (!res.ok) continue;
    const id = subjectKeyId(new Uint8Array(await res.arrayBuffer()));
    if (id) ids.push(id);
  }
  const size = 4 + ids.reduce((n, id) => n + 4 + id.length, 0);
  const out = new Uint8Array(size);
  const view = new DataView(out.buffer);
  view.setUint32(0, ids.length, true);
  let at = 4;
  for (const id of ids) {
    view.setUint32(at, id.length, true);
    out.set(id, at + 4);
    at += 4 + id.length;
  }
  return out;
}
