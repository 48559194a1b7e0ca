// Load: 100 connections, each kept busy with 1,000 mixed commands (52, 16,
// 20, 40, and 110 followed by 112 on the packet 110 returned). Every reply
// must arrive, in request order on its connection, the program must survive,
// and its resident memory after the run must be back near where it was
// before it.
//
//   node tests/e2e/load.mjs <path-to-pellamo> [connections] [commands]
//
// Prints the figures (time, commands per second, memory before, at the peak
// and after) as one line "load: ..." for the README.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import WebSocket from 'ws';
import { PLUGIN_PORT, clientOptions, enc, envelope, parseReply, runCases, sleep, startProgram, stop } from './lib/harness.mjs';

const program = path.resolve(process.argv[2] ?? '');
const CONNECTIONS = Number(process.argv[3] ?? 100);
const COMMANDS = Number(process.argv[4] ?? 1000);
const WINDOW = 4; // requests in flight per connection (110 -> 112 waits for its reply)

// One step of the mix: [command, payload]; 110 is always followed by 112.
const header = enc.cat(Buffer.from([0x45, 0x8d, 0xff, 0x32]), enc.u32(2), enc.blob(Buffer.alloc(0)), enc.blob(Buffer.alloc(0)), enc.blob(Buffer.alloc(0)));
const MIX = [
  [52, Buffer.alloc(0)],
  [16, Buffer.alloc(0)],
  [20, Buffer.alloc(0)],
  [40, enc.cat(enc.str('load'), enc.u32(1), enc.u32(9), enc.str('Иванов'))],
  [110, enc.cat(enc.blob(header), enc.blob(Buffer.from('payload of the load test')))],
];

function residentKiB(pid) {
  const status = fs.readFileSync(`/proc/${pid}/status`, 'utf8');
  return Number(/VmRSS:\s+(\d+)/.exec(status)[1]);
}

// Runs `count` commands on one connection; resolves with the number of
// replies. Replies are matched against the requests in the order they were
// sent: any other order fails.
function drive(count) {
  return new Promise((resolve, reject) => {
    const ws = new WebSocket(`ws://127.0.0.1:${PLUGIN_PORT}/`, clientOptions());
    ws.binaryType = 'nodebuffer';
    const inFlight = []; // uids in request order
    let sent = 0;
    let replies = 0;
    let waitingFor112 = null; // the packet of a 110 reply to send next
    let step = 0;
    const send = (command, payload) => {
      const uid = `c${sent}`;
      inFlight.push({ uid, command });
      sent += 1;
      ws.send(envelope(uid, command, payload));
    };
    const pump = () => {
      while (sent < count && inFlight.length < WINDOW) {
        if (waitingFor112 !== null) {
          send(112, enc.blob(waitingFor112));
          waitingFor112 = null;
          continue;
        }
        const [command, payload] = MIX[step++ % MIX.length];
        // A 110 must be answered before its 112 can be sent.
        if (command === 110 && inFlight.length > 0) {
          step -= 1;
          return;
        }
        send(command, payload);
        if (command === 110) return;
      }
      if (replies === count) {
        ws.close();
        resolve(replies);
      }
    };
    ws.on('open', pump);
    ws.on('message', (data) => {
      // Every command of the mix is in the table: an empty message (an
      // unknown code) is a fault.
      if (data.length === 0) {
        reject(new Error(`empty reply to command ${inFlight[0]?.command}`));
        ws.terminate();
        return;
      }
      const reply = parseReply(data);
      const expected = inFlight.shift();
      if (!expected || reply.uid !== expected.uid) {
        reject(new Error(`reply ${reply.uid} out of order (expected ${expected?.uid})`));
        ws.terminate();
        return;
      }
      replies += 1;
      if (expected.command === 110) {
        // result, then the packet as a blob (empty after a failure)
        const r = reply.reader();
        waitingFor112 = r.remaining >= 4 ? r.blob() : Buffer.alloc(0);
        if (sent >= count) waitingFor112 = null;
      }
      pump();
    });
    ws.on('close', () => {
      if (replies !== count) reject(new Error(`connection closed after ${replies} of ${count} replies`));
    });
    ws.on('error', reject);
  });
}

const cases = [];
cases.push([
  `${CONNECTIONS} connections x ${COMMANDS} mixed commands: every reply, in order; memory back near its start`,
  async () => {
    const { proc } = await startProgram(program);
    try {
      // Warm-up: every command once on a few connections, so that what is
      // built once (catalog records, provider set-up) is there before the
      // baseline is taken.
      await Promise.all(Array.from({ length: 4 }, () => drive(50)));
      await sleep(500);
      const before = residentKiB(proc.child.pid);
      let peak = before;
      const sampler = setInterval(() => {
        peak = Math.max(peak, residentKiB(proc.child.pid));
      }, 100);
      const started = process.hrtime.bigint();
      const counts = await Promise.all(Array.from({ length: CONNECTIONS }, () => drive(COMMANDS)));
      const seconds = Number(process.hrtime.bigint() - started) / 1e9;
      clearInterval(sampler);
      assert.deepEqual(counts, Array(CONNECTIONS).fill(COMMANDS));
      await sleep(1500);
      const after = residentKiB(proc.child.pid);
      assert.equal(proc.exited, null, 'the program is still running');
      const total = CONNECTIONS * COMMANDS;
      console.log(
        `load: ${total} commands in ${seconds.toFixed(1)} s (${Math.round(total / seconds)}/s); ` +
          `resident memory ${(before / 1024).toFixed(1)} MiB before, ${(peak / 1024).toFixed(1)} MiB at the peak, ` +
          `${(after / 1024).toFixed(1)} MiB after`,
      );
      // Back near the start: what the run took is given back but for the
      // allocator's own caches (one arena per I/O thread).
      if (process.env.PELLAMO_LOAD_MEMORY_CHECK !== '0') {
        assert.ok(after <= before + Math.max(16 * 1024, before / 2), `memory grew from ${before} to ${after} KiB`);
      }
    } finally {
      await stop(proc);
    }
  },
]);

await runCases(cases);
