// Asks the WebSocket service for commands 16 (error catalog) and 52 (current
// provider) and compares the replies byte for byte with what the Linux build
// answers (the catalog texts of tests/e2e/catalog.json, the fixed reply of 52).
//
//   node tests/windows/ws-check.mjs [ws://127.0.0.1:3000/]
//
// Prints one "ok"/"FAIL" line per check and exits non-zero on any failure.
import fs from 'node:fs';
import { createRequire } from 'node:module';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
const e2e = path.join(here, '..', 'e2e');
// The same independent client as the end-to-end tests, from their install.
const WebSocket = createRequire(path.join(e2e, 'package.json'))('ws');
const catalog = JSON.parse(fs.readFileSync(path.join(e2e, 'catalog.json'), 'utf8'));
const url = process.argv[2] || 'ws://127.0.0.1:3000/';
// A page's origin to show at the handshake (PELLAMO_CHECK_ORIGIN); without one
// the client is a local program, which the service serves only when it can
// tell that the client runs as the same user.
const origin = process.env.PELLAMO_CHECK_ORIGIN;

const u32 = (v) => {
  const b = Buffer.alloc(4);
  b.writeUInt32LE(v >>> 0);
  return b;
};
const str = (s) => {
  const bytes = Buffer.from(s, 'utf8');
  return Buffer.concat([u32(bytes.length), bytes]);
};
const request = (uid, command) => Buffer.concat([str(uid), u32(0), u32(command)]);
// Reply header: uid, format field 1, answer code, result.
const header = (uid, answer, result = 0) => Buffer.concat([str(uid), u32(1), u32(answer), u32(result)]);

const expected = [
  {
    name: 'command 16: the whole error catalog, UTF-8',
    request: request('cat', 16),
    reply: Buffer.concat([header('cat', 17), ...catalog.map((r) => Buffer.concat([u32(r.code), str(r.text)]))]),
  },
  {
    name: 'command 52 with uid "x"',
    request: request('x', 52),
    reply: Buffer.from('01000000780100000035000000000000' + '00' + 'feffffff', 'hex'),
  },
  {
    name: 'command 52 with an empty uid',
    request: request('', 52),
    reply: Buffer.concat([header('', 53), u32(0xfffffffe)]),
  },
];

function firstDifference(a, b) {
  const n = Math.min(a.length, b.length);
  for (let i = 0; i < n; i++) if (a[i] !== b[i]) return i;
  return n;
}

// The service may still be starting (wine is slow to start a program).
async function connect(timeoutMs) {
  const deadline = Date.now() + timeoutMs;
  for (;;) {
    const ws = new WebSocket(url, { perMessageDeflate: false, ...(origin ? { origin } : {}) });
    const opened = await new Promise((resolve) => {
      ws.once('open', () => resolve(true));
      ws.once('error', () => resolve(false));
    });
    if (opened) return ws;
    if (Date.now() > deadline) {
      console.log(`FAIL ${url} did not accept within ${timeoutMs / 1000} s`);
      process.exit(1);
    }
    await new Promise((resolve) => setTimeout(resolve, 250));
  }
}

const ws = await connect(60000);
const replies = [];
let failed = 0;
const timer = setTimeout(() => {
  console.log(`FAIL no replies within 20 s (got ${replies.length})`);
  process.exit(1);
}, 20000);

ws.on('error', (e) => {
  console.log(`FAIL connection: ${e.message}`);
  process.exit(1);
});
for (const c of expected) ws.send(c.request, { binary: true });
ws.on('message', (data, isBinary) => {
  const c = expected[replies.length];
  replies.push(data);
  if (isBinary && Buffer.compare(data, c.reply) === 0) {
    console.log(`ok ${c.name} (${data.length} bytes)`);
  } else {
    failed++;
    const at = firstDifference(data, c.reply);
    console.log(
      `FAIL ${c.name}: ${isBinary ? 'binary' : 'text'} reply of ${data.length} bytes, expected ${c.reply.length};` +
        ` first difference at byte ${at}: got ${data.subarray(at, at + 16).toString('hex')},` +
        ` expected ${c.reply.subarray(at, at + 16).toString('hex')}`,
    );
  }
  if (replies.length === expected.length) {
    clearTimeout(timer);
    ws.terminate();
    process.exit(failed ? 1 : 0);
  }
});
