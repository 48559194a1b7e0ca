// The demo cabinet in a real browser: headless Chromium (Debian's chromium
// package, driven by puppeteer-core) runs the page served by tools/ca-peer
// against the running program through the whole cycle, and checks that a page
// of an origin the program does not allow cannot connect.
//
//   node tests/browser/demo.mjs <path-to-pellamo> [screenshot folder]
//
// Screenshots go to the given folder (default: a temporary one); with
// PELLAMO_UPDATE_SCREENSHOTS=1 they are copied to docs/demo/ as well.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import puppeteer from 'puppeteer-core';
import { PellamoClient, PellamoProtocolError } from '../../web/pellamo-client.js';
import { peerPath, repoRoot, runCases, startPeer, startProgram, tempDir } from '../e2e/lib/harness.mjs';

const program = process.argv[2];
if (!program) {
  console.error('usage: node tests/browser/demo.mjs <path-to-pellamo> [screenshot folder]');
  process.exit(2);
}
const shots = path.resolve(process.argv[3] ?? tempDir('pellamo-shots-'));
fs.mkdirSync(shots, { recursive: true });
const browserPath = process.env.CHROMIUM ?? '/usr/bin/chromium';
const STEP_MS = 45000;
if (!fs.existsSync(browserPath)) {
  console.error(`no browser at ${browserPath}: install Debian's chromium (bash tools/setup.sh) or set CHROMIUM`);
  process.exit(1);
}

let peer;
let browser;
let page;
const seen = [];

async function screenshot(name) {
  const file = path.join(shots, `${name}.png`);
  await page.screenshot({ path: file, fullPage: true });
  if (process.env.PELLAMO_UPDATE_SCREENSHOTS === '1') {
    fs.mkdirSync(path.join(repoRoot, 'docs', 'demo'), { recursive: true });
    fs.copyFileSync(file, path.join(repoRoot, 'docs', 'demo', `${name}.png`));
  }
}

const text = (selector) => page.$eval(selector, (e) => e.textContent.trim());

// Waits until the page's condition holds; on a timeout the failure names the
// last lines of the page's own command log.
async function until(fn, what, ...args) {
  try {
    await page.waitForFunction(fn, { timeout: STEP_MS, polling: 100 }, ...args);
  } catch (e) {
    const lines = await page.$$eval('#log li', (li) => li.slice(0, 5).map((x) => x.textContent)).catch(() => []);
    const banner = await page.$eval('#banner', (b) => (b.hidden ? '' : b.textContent.trim())).catch(() => '');
    throw new Error(`${what}: ${e.message}\n     banner: ${banner}\n     log: ${lines.join('\n          ')}`);
  }
}

async function progressDone(list, count) {
  await until((sel, n) => {
    const items = [...document.querySelectorAll(`${sel} li`)];
    if (items.some((li) => li.className === 'failed')) return true;
    return items.length === n && items.every((li) => li.className === 'done');
  }, `${list} to finish`, list, count);
  const failed = await page.$$eval(`${list} li.failed`, (li) => li.map((x) => x.textContent));
  assert.deepEqual(failed, [], `${list}: ${await text('#banner')}`);
}

async function setup() {
  const about = tempDir('pellamo-about-');
  fs.writeFileSync(path.join(about, 'about.json'), JSON.stringify({ version: '1.01.276' }));
  peer = await startPeer(peerPath(program), { args: ['--demo', path.join(repoRoot, 'web', 'demo'), '--demo', about] });
  await startProgram(program, { transportPort: peer.port, env: { PELLAMO_ALLOWED_ORIGINS: peer.url } });
  browser = await puppeteer.launch({
    executablePath: browserPath,
    headless: true,
    userDataDir: tempDir('pellamo-chromium-'),
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync',
      '--disable-dev-shm-usage', '--lang=ru-RU'],
  });
  page = await browser.newPage();
  await page.setViewport({ width: 1200, height: 900 });
  page.on('pageerror', (e) => seen.push(`page error: ${e.message}`));
  page.on('console', (m) => m.type() === 'error' && seen.push(`console: ${m.text()}`));
  page.on('response', (r) => r.status() >= 400 && seen.push(`HTTP ${r.status()}: ${r.url()}`));
}

// A raw GET, so that the path reaches the peer exactly as written.
function rawGet(pathName) {
  return new Promise((resolve, reject) => {
    http.get({ host: '127.0.0.1', port: peer.port, path: pathName }, (res) => {
      res.resume();
      res.on('end', () => resolve({ status: res.statusCode, location: res.headers.location, type: res.headers['content-type'] }));
    }).on('error', reject);
  });
}

// Whether the program in this build serves a command (an unknown one is
// answered with an empty message); a case that needs a missing one says so.
async function serves(command) {
  const client = new PellamoClient();
  try {
    await client.send(command);
    return true;
  } catch (e) {
    return !(e instanceof PellamoProtocolError && /not known/.test(e.message));
  } finally {
    client.close();
  }
}

const cases = [
  ['the page connects and shows the program and its CSP', async () => {
    await setup();
    await page.goto(`${peer.url}/demo/`, { waitUntil: 'load' });
    await until(() => document.getElementById('fact-service').textContent === 'подключена' &&
      document.getElementById('fact-csp').textContent !== '—', 'the connection');
    assert.equal(await text('#fact-version'), '1.01.276');
    assert.match(await text('#fact-csp'), /\(-?\d+\)$/);
    await screenshot('start');
  }],

  ['the peer serves the demo folder and nothing outside it', async () => {
    assert.deepEqual(await rawGet('/demo?x=1'), { status: 301, location: '/demo/?x=1', type: 'text/plain; charset=utf-8' });
    assert.equal((await rawGet('/demo/pellamo-client.js')).type, 'text/javascript; charset=utf-8');
    for (const p of ['/demo/../../README.md', '/demo/%2e%2e/demo.mjs', '/demo/..\\README.md', '/demo/nothing.html']) {
      assert.equal((await rawGet(p)).status, 404, p);
    }
  }],

  ['an envelope from the local CA opens and shows its card', async () => {
    await page.click('#issue-envelope');
    await until(() => document.getElementById('envelope-id').value.length === 6, 'the envelope');
    await page.click('#open-envelope button[type=submit]');
    await until(() => !document.getElementById('card').hidden, 'the card');
    const view = await text('#card-view');
    for (const part of ['ООО «Ромашка»', '5032149676', 'Иванов Пётр Сергеевич', '4510 123456', '12 мес.']) {
      assert.ok(view.includes(part), `card shows ${part}: ${view}`);
    }
    assert.match(await text('#card-attachments'), /заявление\.txt \(\d+ байт/);
    await screenshot('envelope-card');
  }],

  ['the card is edited and a document attached', async () => {
    const file = path.join(tempDir('pellamo-upload-'), 'скан-паспорта.pdf');
    fs.writeFileSync(file, Buffer.alloc(2048, 7));
    await page.$eval('#card-edit input[name=phone]', (i) => (i.value = '+7 495 123-45-67'));
    await page.select('#attachment-type', '1');
    await page.click('.purposes input[value="1.2.643.6.7"]');
    const input = await page.$('#attachment-file');
    await input.uploadFile(file);
    await page.click('#card-edit button[type=submit]');
    await until(() => !document.getElementById('card-saved').hidden || !document.getElementById('banner').hidden, 'the save');
    assert.equal(await page.$eval('#banner', (b) => b.hidden), true, await text('#banner'));
    assert.match(await text('#card-attachments'), /скан-паспорта\.pdf \(2048 байт, тип 1\)/);
    assert.match(await text('#card-view'), /\+7 495 123-45-67/);
  }],

  ['a certificate is requested, posted to the CA and installed', async () => {
    await page.click('#request-form button[type=submit]');
    await progressDone('#request-progress', 4);
    await until(() => document.querySelectorAll('#cert-table tbody tr').length > 0, 'the certificate list');
    const rows = await page.$$eval('#cert-table tbody tr', (tr) => tr.map((r) => [...r.cells].map((c) => c.textContent)));
    assert.equal(rows.length, 1);
    assert.match(rows[0][2], /^\d{4}-\d\d-\d\d \d\d-\d\d-\d\d$/);
    assert.equal(rows[0][3], 'действителен');
    await screenshot('certificates');
  }],

  ['the user logs in with the certificate', async () => {
    await page.click('#cert-table tbody tr button');
    await until(() => !document.getElementById('auth-result').hidden || !document.getElementById('banner').hidden, 'the login');
    assert.match(await text('#auth-result'), /Вход выполнен/, await text('#banner'));
    assert.match(await text('#auth-result'), /подпись 64 байт/);
    await screenshot('login');
    // Logged in, the edited card can go to the CA, signed with the certificate's key.
    await page.click('#card-register');
    await until(() => /карточка отправлена в УЦ/.test(document.getElementById('log').textContent) ||
      !document.getElementById('banner').hidden, 'the card registration');
    assert.equal(await page.$eval('#banner', (b) => b.hidden), true, await text('#banner'));
  }],

  ['the certificate is renewed', async () => {
    if (!(await serves(24))) return console.log('skip the renewal: this build does not serve command 24');
    await page.click('#renew-start');
    await progressDone('#renew-progress', 4);
    await until(() => document.querySelectorAll('#cert-table tbody tr').length === 2, 'two certificates');
    await screenshot('renewal');
    assert.deepEqual(seen, []);
  }],

  ['a page of an origin that is not allowed cannot connect', async () => {
    // Same server, other origin: the program allows only the peer's 127.0.0.1 origin.
    await page.goto(`http://localhost:${peer.port}/demo/`, { waitUntil: 'load' });
    await until(() => !document.getElementById('banner').hidden, 'the refusal');
    assert.equal(await text('#banner-title'), 'Программа Pellamo недоступна');
    assert.equal(await text('#fact-service'), 'не подключена');
    await screenshot('refused');
    await browser.close();
  }],
];

process.on('exit', () => browser?.process()?.kill('SIGKILL'));
await runCases(cases);
