// The client card's byte form, written independently of the program: the CA
// form (added purposes as u32 values) and the web form (purpose texts), and
// CP1251 text (ASCII, Cyrillic, Ё/ё and №).
import { enc } from './harness.mjs';

export function cp1251(text) {
  const out = [];
  for (const ch of text) {
    const c = ch.codePointAt(0);
    if (c < 0x80) out.push(c);
    else if (c >= 0x410 && c <= 0x44f) out.push(0xc0 + (c - 0x410));
    else if (c === 0x401) out.push(0xa8);
    else if (c === 0x451) out.push(0xb8);
    else if (c === 0x2116) out.push(0xb9);
    else throw new Error(`no CP1251 byte for U+${c.toString(16)}`);
  }
  return Buffer.from(out);
}

const str = (s) => enc.str(typeof s === 'string' ? cp1251(s) : s);

// SYSTEMTIME: length 16, then year, month, day of week, day, hour, minute,
// second, milliseconds as 16-bit values.
export function time([year, month, day] = [0, 0, 0]) {
  const b = Buffer.alloc(16);
  [year, month, 0, day, 0, 0, 0, 0].forEach((v, i) => b.writeUInt16LE(v, i * 2));
  return Buffer.concat([enc.u32(16), b]);
}

function passport(p) {
  const body = enc.cat(
    enc.u32(p.docType ?? 0),
    str(p.series ?? ''),
    str(p.number ?? ''),
    str(p.issuer ?? ''),
    str(p.division ?? ''),
    enc.u32(p.sex ?? 0),
    time(p.issueDate),
    str(p.placeBirth ?? ''),
    time(p.birthday),
  );
  return enc.cat(Buffer.from([0x2d, 0xf5, 0xd3, 0xe3]), enc.blob(body));
}

// card: the fields below; form 'ca' writes card.oids (numbers, ascending),
// 'web' writes card.oidTexts (ascending byte order).
export function cardBytes(card, form = 'ca') {
  const purposes =
    form === 'ca'
      ? enc.cat(...[...(card.oids ?? [])].sort((a, b) => a - b).map((v) => enc.u32(v)))
      : enc.cat(...[...(card.oidTexts ?? [])].sort((a, b) => Buffer.compare(Buffer.from(a), Buffer.from(b))).map((t) => enc.str(t)));
  const period = enc.cat(enc.u32(1), enc.str(card.months ?? '12'));
  return enc.cat(
    Buffer.from([0x1d, 0xf1, 0xde, 0x34]),
    enc.u32(106),
    enc.u32(card.clientType ?? 0),
    Buffer.from([card.withoutStamp ? 1 : 0]),
    ...['inn', 'ogrn', 'kpp', 'company', 'surname', 'name', 'patronymic', 'snils', 'position'].map((k) => str(card[k] ?? '')),
    passport(card.passport ?? {}),
    ...['phone', 'email', 'region', 'city', 'street', 'house', 'korpus', 'apartment', 'comment', 'convertId'].map((k) =>
      str(card[k] ?? ''),
    ),
    enc.u32(card.template ?? 0),
    enc.i32(card.csp ?? -2),
    enc.blob(period),
    enc.blob(purposes),
    ...(card.attachments ?? []).map((a) => enc.cat(enc.u32(a.type), str(a.name), enc.blob(a.data))),
  );
}

// The check character of envelope identifiers (weights 3 7 9 4 1) and PINs
// (7 2 3 7 9 4 1): the sum of weighted digit values mod 36, as 0-9 or A-Z.
function checkCharacter(text, weights) {
  let sum = 0;
  weights.forEach((w, i) => (sum += (text.charCodeAt(i) - 48) * w));
  const r = ((sum % 36) + 36) % 36;
  return r <= 9 ? String(r) : String.fromCharCode(r + 55);
}
export const envelopeId = (five) => five + checkCharacter(five, [3, 7, 9, 4, 1]);
export const envelopePin = (seven) => seven + checkCharacter(seven, [7, 2, 3, 7, 9, 4, 1]);
