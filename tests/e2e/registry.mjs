// End-to-end tests of the register lookup (command 50) and the regional
// registration packet (command 144), against the local stand-ins of the
// register and the classifier (tools/*-standin.py) and the local CA peer.
//
//   node tests/e2e/registry.mjs <path-to-pellamo>
//
// The last cases stop the stand-ins to test unreachable services.
import assert from 'node:assert/strict';
import { connect, enc, peerPath, runCases, startProgram, startStandIn, stop } from './lib/harness.mjs';

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
const plugin = await startProgram(program, {
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
void plugin;
void peerPath;
