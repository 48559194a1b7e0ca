// End-to-end tests of the register lookup (command 50) and the regional
// registration packet (command 144), against the local stand-ins of the
// register and the classifier (tools/*-standin.py) and the local CA peer.
//
//   node tests/e2e/registry.mjs <path-to-pellamo>
//
// The last cases stop the stand-ins to test unreachable services.
import assert from 'node:assert/strict';
import { cardBytes, cp1251, envelopeId, envelopePin } from './lib/card.mjs';
import {
  Reader, connect, enc, opensslVerifyRequest, peerPath, runCases, startPeer, startProgram, startStandIn, stop,
} from './lib/harness.mjs';

const program = process.argv[2];
if (!program) {
  console.error('usage: node tests/e2e/registry.mjs <path-to-pellamo>');
  process.exit(2);
}

const TOKEN = '0123456789abcdef0123abcd';
const EGRUL = 50;
const EGRUL_ANSWER = 51;

const registry = await startStandIn('registry-standin.py');
const classifier = await startStandIn('classifier-standin.py', ['--token', TOKEN]);
const peer = await startPeer(peerPath(program));
await startProgram(program, {
  transportPort: peer.port,
  env: {
    PELLAMO_REGISTRY_ADDRESS: registry.url,
    PELLAMO_CLASSIFIER_ADDRESS: classifier.url,
    PELLAMO_CLASSIFIER_TOKEN: TOKEN,
  },
});
const client = await connect();

const egrul = (inn, type = 0) => client.send(EGRUL, enc.cat(enc.str(inn), enc.u32(type)));

// The byte count, then fifteen strings that fill the reply exactly.
function values(reply) {
  assert.equal(reply.answer, EGRUL_ANSWER);
  assert.equal(reply.result, 0);
  const r = reply.reader();
  const count = r.u32();
  assert.equal(count, r.remaining, 'byte count = size of the strings that follow');
  const out = [];
  for (let i = 0; i < 15; i++) out.push(r.str());
  r.end();
  return out;
}

async function freshLogs() {
  await registry.reset();
  await classifier.reset();
}

const classifierUrl = (query) =>
  `/api.php?query=${query}&contentType=region&withParent=0&limit=8&token=${TOKEN}`;

// ------------------------------------------------------------ command 144

const vedeva = (key, container, text) => client.send(144, enc.cat(enc.str(key), enc.str(container), enc.str(text)));

async function expectResult(command, payload, result) {
  const reply = await client.send(command, payload);
  assert.ok(reply, `command ${command} got no reply`);
  assert.equal(reply.result, result, `result of command ${command}`);
  return reply;
}

// The partner card of the regional registration, set field by field (40).
const ABONENT_FIELDS = {
  5: 0, 6: '7704123456', 7: '770401001', 8: '1027700000017', 29: 'ООО "Вектор"', 9: 'Петров', 10: 'Пётр',
  11: 'Петрович', 13: 'Директор', 15: 'petrov@example.ru', 16: 'Москва', 17: 'Москва', 12: '11223344595',
};

// A certificate of the CA peer for a GOST 2001 key, installed by the request
// cycle (124, 120, 122, the peer issues, 126), then listed (14, 20) and
// chosen (22): the user connection that protects packets for the CA.
async function authenticate() {
  const id = envelopeId('55501');
  const pin = envelopePin('7654321');
  const card = {
    clientType: 0, inn: '7707083893', ogrn: '1027700132195', kpp: '773601001', company: 'ООО "Ромашка"',
    surname: 'Иванов', name: 'Иван', snils: '11223344595', position: 'Директор', email: 'i@example.ru',
    convertId: id, template: 1, csp: 75,
  };
  const made = await peer.control(`envelope/${id}?password=${pin}&kind=75`, cardBytes(card, 'ca'));
  assert.equal(made.status, 200);
  await expectResult(124, enc.str(pin), 0);
  await expectResult(120, enc.str(id), 0);
  const q = (await expectResult(122, enc.str('Пользователь'), 0)).reader();
  q.str(); q.i32(); q.str();
  const posted = await peer.post('/api/client/setRequestToCert', q.blob());
  const uuid = posted.body.subarray(17).toString('latin1');
  await expectResult(126, enc.cat(enc.str(uuid), enc.str('Пользователь'), enc.i32(75)), 0);
  // Any trusted root will do: the list only needs one to check against.
  await expectResult(14, enc.blob(enc.cat(enc.u32(1), enc.blob(Buffer.alloc(20, 1)))), 0);
  const list = (await expectResult(20, Buffer.alloc(0), 0)).reader();
  const index = list.u32();
  await expectResult(22, enc.u32(index), 0);
}

await runCases([
  ['full record: fifteen values in order, region shortened; the URLs as sent', async () => {
    await freshLogs();
    assert.deepEqual(values(await egrul('7701234567')), [
      '770101001', '12', 'МОСКВА', '305', 'Москва', 'Зеленоград', 'Тверская', '2',
      'Иванов', 'Иванович', 'Генеральный директор', 'Иван', '1027700132195',
      'ОБЩЕСТВО С ОГРАНИЧЕННОЙ ОТВЕТСТВЕННОСТЬЮ "РОМАШКА"', 'ООО "РОМАШКА"',
    ]);
    assert.deepEqual(await registry.requests(), ['/api/abonents?where={"inn":"7701234567"}']);
    assert.deepEqual(await classifier.requests(), [classifierUrl('МОСКВА')]);
  }],
  ['nulls and missing objects give empty values; a region of four words', async () => {
    await freshLogs();
    const v = values(await egrul('1501234567'));
    assert.deepEqual([v[2], v[3], v[5], v[7], v[9]], ['ОСЕТИЯ - АЛАНИЯ', '', '', '', '']);
    assert.deepEqual([v[4], v[6], v[8], v[10], v[11]], ['Владикавказ', 'Маркуса', 'Петрова', 'Директор', 'Мария']);
    // Blanks cannot travel raw in a URL: they go as %20, everything else as it stands.
    assert.deepEqual(await classifier.requests(), [classifierUrl('ОСЕТИЯ%20-%20АЛАНИЯ')]);
  }],
  ['a value of 128 characters is kept, one of 129 dropped', async () => {
    const record = { kpp: 'x'.repeat(128), dom: 'Ж'.repeat(129), region: { name: 'ОБЛАСТЬ МОСКОВСКАЯ' } };
    await registry.post('/control/record/7700000128', JSON.stringify(record));
    const v = values(await egrul('7700000128'));
    assert.deepEqual(v.slice(0, 3), ['x'.repeat(128), '', 'МОСКОВСКАЯ']);
    assert.deepEqual(v.slice(3), new Array(12).fill(''));
  }],
  ['an INN the register does not know: fifteen empty values', async () => {
    assert.deepEqual(values(await egrul('9999999999')), new Array(15).fill(''));
  }],
  ['a 12-character INN, or kinds 1 and 2: bare success, no request sent', async () => {
    await freshLogs();
    for (const [inn, type] of [['770123456789', 0], ['7701234567', 1], ['7701234567', 2], ['', 0]]) {
      const reply = await egrul(inn, type);
      assert.equal(reply.result, 0);
      assert.equal(reply.payload.length, 0, `${inn}/${type}`);
    }
    assert.deepEqual(await registry.requests(), []);
    assert.deepEqual(await classifier.requests(), []);
  }],
  ['a short payload is answered with result 1', async () => {
    const reply = await client.send(EGRUL, enc.str('7701234567'));
    assert.equal(reply.result, 1);
  }],
  ['144 with a key that names no partner card: 1; before authentication: 3', async () => {
    assert.equal((await vedeva('nobody', 'Абонент_0', 'текст')).result, 1);
    await expectResult(142, enc.str('abonent'), 0);
    assert.equal((await vedeva('abonent', 'Абонент_0', 'текст')).result, 3);
  }],
  ['144: partner card, authenticated user, packet opened by the CA, request verified', async () => {
    for (const [field, value] of Object.entries(ABONENT_FIELDS)) {
      const v = typeof value === 'number' ? enc.u32(value) : enc.str(value);
      await expectResult(40, enc.cat(enc.str('abonent'), enc.u32(9), enc.u32(Number(field)), v), 0);
    }
    await expectResult(54, enc.cat(enc.str('abonent'), enc.u32(9), enc.i32(80)), 0);
    await authenticate();

    const reply = await vedeva('abonent', 'Абонент_1', 'Заявка на регистрацию');
    assert.equal(reply.answer, 145);
    assert.equal(reply.result, 0);
    const r = reply.reader();
    assert.equal(r.str(), '\\\\.\\FILES\\Абонент_1');
    const packet = r.blob();
    r.end();

    const opened = await peer.control('open-ca', packet);
    assert.equal(opened.status, 200, opened.body.toString('latin1'));
    const p = new Reader(opened.body);
    assert.deepEqual([p.u32(), p.u32(), p.u32(), p.u32()], [2, 9, 1, 101276]);
    const csp = new Reader(p.blob());
    assert.equal(csp.i32(), 80, 'the new key is a GOST 2012 key');
    const card = p.blob();
    const request = p.blob();
    assert.equal(p.str(), 'Заявка на регистрацию');
    p.end();
    const expected = cardBytes({
      clientType: 0, inn: '7704123456', kpp: '770401001', ogrn: '1027700000017', company: 'ООО "Вектор"',
      surname: 'Петров', name: 'Пётр', patronymic: 'Петрович', snils: '11223344595', position: 'Директор',
      email: 'petrov@example.ru', region: 'Москва', city: 'Москва', csp: 80,
      passport: { docType: 21, sex: 0xffffffff },  // a new card's passport defaults
    }, 'ca');
    assert.ok(card.equals(expected), `the partner card in its CA form:\n got ${card.toString('hex')}\nwant ${expected.toString('hex')}`);
    const text = opensslVerifyRequest(request);
    assert.match(text, /Петров/);
    assert.match(text, /0*7704123456/);
    assert.match(text, /34\.10-2012 with 256 bit/, 'signed with the new GOST 2012 key');
  }],
  ['classifier unreachable: the connection closes unanswered, the service goes on', async () => {
    await stop(classifier.proc);
    assert.equal(await egrul('7701234567'), null);
    const again = await connect();
    const reply = await again.send(16);
    assert.equal(reply.result, 0);
    // The register is still asked first; its failure is answered.
    await stop(registry.proc);
    const unreachable = await again.send(EGRUL, enc.cat(enc.str('7701234567'), enc.u32(0)));
    assert.equal(unreachable.answer, EGRUL_ANSWER);
    assert.equal(unreachable.result, 18);
    assert.equal(unreachable.payload.length, 0);
    again.close();
  }],
]);
