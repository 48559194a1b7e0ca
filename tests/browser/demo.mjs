// The demo cabinet in headless Chromium (Debian's chromium, driven by
// puppeteer-core) as users meet a real cabinet: served over HTTPS from an
// origin the browser treats as public, so that Local Network Access applies.
// Without the loopback-network permission the page explains the block; with
// it granted the whole cycle runs. Also: a page of an origin the program does
// not allow cannot connect, and the peer serves nothing outside the demo.
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
import { runCases, tempDir } from '../e2e/lib/harness.mjs';
import { Cabinet, startCabinet, wholeCycle } from './cabinet.mjs';

const program = process.argv[2];
if (!program) {
  console.error('usage: node tests/browser/demo.mjs <path-to-pellamo> [screenshot folder]');
  process.exit(2);
}
const shots = path.resolve(process.argv[3] ?? tempDir('pellamo-shots-'));
fs.mkdirSync(shots, { recursive: true });
const browserPath = process.env.CHROMIUM ?? '/usr/bin/chromium';
if (!fs.existsSync(browserPath)) {
  console.error(`no browser at ${browserPath}: install Debian's chromium (bash tools/setup.sh) or set CHROMIUM`);
  process.exit(1);
}

let system;
let browser;
let cabinet;

// The permission a public page needs to reach the program on this device.
// The setting lasts as long as the DevTools session that made it.
let devtools;
async function setLoopbackPermission(setting) {
  devtools ??= await browser.target().createCDPSession();
  await devtools.send('Browser.setPermission', {
    origin: system.https.url, permission: { name: 'loopback-network' }, setting,
  });
}

// A raw GET, so that the path reaches the peer exactly as written.
function rawGet(pathName) {
  return new Promise((resolve, reject) => {
    http.get({ host: '127.0.0.1', port: system.peer.port, path: pathName }, (res) => {
      res.resume();
      res.on('end', () => resolve({ status: res.statusCode, location: res.headers.location, type: res.headers['content-type'] }));
    }).on('error', reject);
  });
}

const cases = [
  ['a public HTTPS cabinet without the permission: the page explains the block', async () => {
    system = await startCabinet(program, { allow: [] });
    browser = await puppeteer.launch({
      executablePath: browserPath,
      headless: true,
      userDataDir: tempDir('pellamo-chromium-'),
      args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
        '--disable-background-networking', '--disable-component-update', '--disable-sync',
        '--disable-dev-shm-usage', '--lang=ru-RU', '--ignore-certificate-errors',
        `--ip-address-space-overrides=127.0.0.1:${system.https.port}=public`],
    });
    const page = await browser.newPage();
    await page.setViewport({ width: 1200, height: 900 });
    cabinet = new Cabinet(page, shots);
    await page.goto(`${system.https.url}/demo/`, { waitUntil: 'load' });
    await cabinet.until(() => document.getElementById('banner').dataset.kind === 'blocked', 'the blocked banner');
    assert.equal(await cabinet.text('#banner-title'), 'Браузер блокирует подключение к программе Pellamo');
    const explanation = await cabinet.text('#banner-text');
    assert.match(explanation, /Приложения на этом устройстве/);
    assert.match(explanation, /LoopbackNetworkAllowedForUrls/);
    assert.equal(await cabinet.text('#fact-service'), 'не подключена');
    // The library tells the block apart, through the browser's own permission state.
    const seen = await page.evaluate(async () => {
      const lib = await import('./pellamo-client.js');
      const client = new lib.PellamoClient({ connectTimeout: 10000 });
      const out = {};
      for (const [name, call] of [['connect', () => client.connect()], ['status', () => client.status()]]) {
        try {
          await call();
          out[name] = 'connected';
        } catch (e) {
          out[name] = `${e.name} ${e.code} ${e.permission} ${e instanceof lib.PellamoUnreachableError}`;
        }
      }
      out.permission = (await navigator.permissions.query({ name: 'loopback-network' })).state;
      return out;
    });
    assert.deepEqual(seen, {
      connect: 'PellamoBlockedError BLOCKED loopback-network true',
      status: 'PellamoBlockedError BLOCKED loopback-network true',
      permission: 'denied',
    });
    await cabinet.screenshot('blocked');
    cabinet.seen.length = 0;  // the refused connections the browser reported
  }],

  ['with the permission granted, the same page connects', async () => {
    await setLoopbackPermission('granted');
    await cabinet.page.click('#reconnect');
    await cabinet.connected();
    await cabinet.bannerHidden();
    await cabinet.screenshot('granted');
  }],

  ['the whole cycle: envelope, card, request, install, list, login, renewal', async () => {
    await wholeCycle(cabinet);
  }],

  ['a page that needs a newer program asks the user to update it', async () => {
    await cabinet.page.goto(`${system.https.url}/demo/?minimum=1.02.0`, { waitUntil: 'load' });
    await cabinet.until(() => document.getElementById('banner').dataset.kind === 'version', 'the update banner');
    assert.equal(await cabinet.text('#banner-title'), 'Обновите программу Pellamo');
    assert.match(await cabinet.text('#banner-text'), /Установлена версия 1\.01\.276, кабинету нужна версия 1\.02\.0 или новее/);
    cabinet.seen.length = 0;
  }],

  ['the peer serves the demo folder and nothing outside it', async () => {
    assert.deepEqual(await rawGet('/demo?x=1'), { status: 301, location: '/demo/?x=1', type: 'text/plain; charset=utf-8' });
    assert.equal((await rawGet('/demo/pellamo-client.js')).type, 'text/javascript; charset=utf-8');
    assert.equal((await rawGet('/demo/lib/errors.js')).type, 'text/javascript; charset=utf-8');
    for (const p of ['/demo/../../README.md', '/demo/%2e%2e/demo.mjs', '/demo/..\\README.md', '/demo/nothing.html']) {
      assert.equal((await rawGet(p)).status, 404, p);
    }
  }],

  ['a page of an origin that is not allowed cannot connect', async () => {
    // The peer's plain HTTP origin: loopback, so the browser lets it try, but
    // the program allows only the HTTPS one.
    await cabinet.page.goto(`${system.peer.url}/demo/`, { waitUntil: 'load' });
    await cabinet.until(() => !document.getElementById('banner').hidden, 'the refusal');
    assert.equal(await cabinet.text('#banner-title'), 'Программа Pellamo недоступна');
    assert.equal(await cabinet.text('#fact-service'), 'не подключена');
    await cabinet.screenshot('refused');
    await browser.close();
  }],
];

process.on('exit', () => browser?.process()?.kill('SIGKILL'));
await runCases(cases);
