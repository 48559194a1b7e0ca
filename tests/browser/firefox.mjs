// The demo cabinet's whole cycle in Firefox ESR (Debian's firefox-esr,
// driven by puppeteer-core over WebDriver BiDi), the page served over HTTPS
// by the local CA peer: envelope, card, request, install, list, login,
// renewal.
//
//   node tests/browser/firefox.mjs <path-to-pellamo> [screenshot folder]
//
// The screenshot of the end of the cycle is firefox-renewal.png;
// PELLAMO_UPDATE_SCREENSHOTS=1 copies it to docs/demo/ as well.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import puppeteer from 'puppeteer-core';
import { runCases, tempDir } from '../e2e/lib/harness.mjs';
import { Cabinet, startCabinet, wholeCycle } from './cabinet.mjs';

const program = process.argv[2];
if (!program) {
  console.error('usage: node tests/browser/firefox.mjs <path-to-pellamo> [screenshot folder]');
  process.exit(2);
}
const shots = path.resolve(process.argv[3] ?? tempDir('pellamo-shots-'));
fs.mkdirSync(shots, { recursive: true });
const browserPath = process.env.FIREFOX ?? '/usr/bin/firefox-esr';
if (!fs.existsSync(browserPath)) {
  console.error(`no browser at ${browserPath}: install Debian's firefox-esr (bash tools/setup.sh) or set FIREFOX`);
  process.exit(1);
}

let browser;
let cabinet;

const cases = [
  ['Firefox opens the HTTPS cabinet and connects', async () => {
    const system = await startCabinet(program);
    browser = await puppeteer.launch({
      browser: 'firefox',
      executablePath: browserPath,
      headless: true,
      acceptInsecureCerts: true,
      userDataDir: tempDir('pellamo-firefox-'),
      extraPrefsFirefox: { 'intl.accept_languages': 'ru-RU, ru', 'browser.shell.checkDefaultBrowser': false },
    });
    const page = await browser.newPage();
    await page.setViewport({ width: 1200, height: 900 });
    cabinet = new Cabinet(page, shots);
    await page.goto(`${system.https.url}/demo/`, { waitUntil: 'load' });
    await cabinet.connected();
    await cabinet.bannerHidden();
    assert.match(await page.evaluate(() => navigator.userAgent), /Firefox\//);
  }],

  ['the whole cycle: envelope, card, request, install, list, login, renewal', async () => {
    await wholeCycle(cabinet, null);
    await cabinet.screenshot('firefox-renewal');
    await browser.close();
  }],
];

process.on('exit', () => browser?.process()?.kill('SIGKILL'));
await runCases(cases);
