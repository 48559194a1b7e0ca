// One program per data folder, a busy port told once, and the program's log.
//
//   node tests/e2e/instance.mjs build/pellamo
import assert from 'node:assert/strict';
import fs from 'node:fs';
import net from 'node:net';
import path from 'node:path';
import {
  PLUGIN_PORT, connect, hostFor, portIsFree, runCases, settingsFile, sleep, startProgram, stop, tempDir,
} from './lib/harness.mjs';
import { windowsPath } from './lib/host.mjs';

const program = process.argv[2];
if (!program) {
  console.error('usage: node tests/e2e/instance.mjs <pellamo>');
  process.exit(2);
}
const host = hostFor(program);
const ALREADY_RUNNING = '[Pellamo Plugin] Программа уже запущена.';
const PORT_BUSY = `[Pellamo Plugin] Порт ${PLUGIN_PORT} занят другой программой`;

// A second program in the given folder, its output kept.
function spawnIn(dir) {
  const child = host.spawn([], { cwd: dir, env: { PELLAMO_CA_CERT_SHA256: '0'.repeat(64) } });
  const proc = { child, stdout: '', stderr: '', exited: null };
  child.stdout.setEncoding('utf8');
  child.stderr.setEncoding('utf8');
  child.stdout.on('data', (d) => (proc.stdout += d));
  child.stderr.on('data', (d) => (proc.stderr += d.replace(/\r\n/g, '\n')));
  proc.exit = new Promise((resolve) => child.once('exit', (code, signal) => resolve((proc.exited = { code, signal }))));
  return proc;
}

async function until(predicate, what, timeoutMs) {
  const deadline = Date.now() + timeoutMs;
  while (!(await predicate())) {
    if (Date.now() > deadline) throw new Error(`timed out waiting for ${what}`);
    await sleep(50);
  }
}

async function assertServes() {
  const c = await connect();
  try {
    const reply = await c.send(52, Buffer.alloc(0), { timeoutMs: 10000 });
    assert.ok(reply && !reply.empty, 'command 52 answered');
  } finally {
    c.close();
  }
}

// The log's lines without their time stamps ("YYYY-MM-DD HH:MM:SS ").
function logLines(dir) {
  const text = fs.readFileSync(path.join(dir, 'data', 'pellamo.log'), 'utf8');
  return text.split('\n').filter(Boolean).map((line) => {
    assert.match(line, /^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d /);
    return line.slice(20);
  });
}

const cases = [];

cases.push(['a second start on the same data folder ends at once, saying the program runs; the first serves on', async () => {
  const first = await startProgram(program);
  const second = spawnIn(first.dir);
  const started = Date.now();
  await until(() => second.exited, 'the second program to end', host.isWine ? 60000 : 5000);
  assert.deepEqual(second.exited, { code: 0, signal: null });
  if (!host.isWine) assert.ok(Date.now() - started < 3000, `ended after ${Date.now() - started} ms`);
  const told = await host.messages(second.child, second.stderr);
  assert.equal(told.split('\n').filter((l) => l === ALREADY_RUNNING).length, 1, told);
  assert.equal(second.stdout, '', 'the second program never listened');
  await assertServes();
  assert.deepEqual(await stop(first.proc), { code: 0, signal: null });
  // Its lock went with it: a new start in the folder serves.
  const again = await startProgram(program, { dir: first.dir });
  await assertServes();
  assert.deepEqual(await stop(again.proc), { code: 0, signal: null });
}]);

cases.push(['the log: a start line, then what went to standard error, which still gets it unchanged', async () => {
  const { proc, dir } = await startProgram(program);
  await assertServes();
  assert.deepEqual(await stop(proc), { code: 0, signal: null });
  const lines = logLines(dir);
  const dataFolder = host.isWine ? `${windowsPath(dir)}\\data` : path.join(fs.realpathSync(dir), 'data');
  const startLine = `pellamo 1.01.276 started; data folder ${dataFolder}; listening on ws://127.0.0.1:${PLUGIN_PORT}; transport server 127.0.0.1:9`;
  assert.equal(lines.filter((l) => l.startsWith('pellamo ')).length, 1, lines.join('\n'));
  assert.ok(lines.some((l) => l.toLowerCase() === startLine.toLowerCase()), `${startLine}\nnot in\n${lines.join('\n')}`);
  // Every line of the error stream, in order, and nothing else but the start line.
  const streamed = proc.stderr.split('\n').filter(Boolean);
  assert.ok(streamed.length > 0, 'the program wrote to its error stream');
  assert.deepEqual(lines.filter((l) => !l.startsWith('pellamo ')), streamed);
}]);

cases.push(['a port taken by another program is told once, and the program keeps running', async () => {
  await until(() => portIsFree(PLUGIN_PORT), 'port 3000 to be free', 180000);
  const squatter = net.createServer();
  await new Promise((resolve, reject) => {
    squatter.once('error', reject);
    squatter.listen(PLUGIN_PORT, '127.0.0.1', resolve);
  });
  const dir = tempDir('pellamo-instance-');
  fs.mkdirSync(path.join(dir, 'data'));
  fs.writeFileSync(path.join(dir, 'data', 'settings.dat'), settingsFile('127.0.0.1', 9));
  const proc = spawnIn(dir);
  try {
    await until(async () => (await host.messages(proc.child, proc.stderr)).includes(PORT_BUSY), 'the busy port message',
      host.isWine ? 60000 : 10000);
    await sleep(1500);
    const told = await host.messages(proc.child, proc.stderr);
    assert.equal(told.split('\n').filter((l) => l.startsWith(PORT_BUSY)).length, 1, told);
    assert.match(proc.stderr, /^listen: /m);
    assert.equal(proc.exited, null, 'the program ended');
    if (!host.isWine) assert.ok(logLines(dir).some((l) => l.startsWith(PORT_BUSY)), 'the message is in the log');
  } finally {
    if (!proc.exited) {
      await host.requestEnd(proc.child);
      await Promise.race([proc.exit, sleep(15000)]);
      if (!proc.exited) proc.child.kill('SIGKILL');
    }
    await new Promise((resolve) => squatter.close(resolve));
  }
}]);

await runCases(cases);
