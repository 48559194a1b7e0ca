// The demo cabinet's whole cycle in Firefox ESR (Debian's firefox-esr,
// driven by puppeteer-core over WebDriver BiDi), the page served over HTTPS
// by the local CA peer with a certificate it is given: envelope, card,
// request, install, list, login, renewal.
//
//   node tests/browser/firefox.mjs <path-to-pellamo> [screenshot folder]
//
// The screenshot of the end of the cycle is firefox-renewal.png;
// PELLAMO_UPDATE_SCREENSHOTS=1 copies it to docs/demo/ as well.
import assert from 'node:assert/strict';
import { execFileSync, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import https from 'node:https';
import path from 'node:path';
import puppeteer from 'puppeteer-core';
import { peerPath, runCases, tempDir } from '../e2e/lib/harness.mjs';
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

// A certificate for 127.0.0.1 made by openssl, as a deployment brings its own.
function makeCertificate(folder, name) {
  const cert = path.join(folder, `${name}.pem`);
  const key = path.join(folder, `${name}-key.pem`);
  execFileSync('openssl', ['req', '-x509', '-newkey', 'ec', '-pkeyopt', 'ec_paramgen_curve:P-256', '-nodes',
    '-keyout', key, '-out', cert, '-days', '2', '-subj', '/CN=127.0.0.1', '-addext', 'subjectAltName=IP:127.0.0.1'],
  { stdio: 'ignore' });
  return { cert, key };
}

function getVerified(url, ca) {
  return new Promise((resolve, reject) => {
    https.get(url, { ca }, (res) => {
      res.resume();
      res.on('end', () => resolve(res.statusCode));
    }).on('error', reject);
  });
}

const folder = tempDir('pellamo-tls-');
const given = makeCertificate(folder, 'given');

const cases = [
  ['the peer refuses a key that is not its certificate\'s', async () => {
    const other = makeCertificate(folder, 'other');
    const run = spawnSync(peerPath(program), ['--state', tempDir('pellamo-peer-'), '--port', '0', '--tls-port', '0',
      '--tls-cert', given.cert, '--tls-key', other.key], { encoding: 'utf8', timeout: 20000 });
    assert.equal(run.status, 1, run.stdout + run.stderr);
    assert.match(run.stderr, /are not a certificate and its private key/);
    const half = spawnSync(peerPath(program), ['--state', tempDir('pellamo-peer-'), '--tls-port', '0',
      '--tls-cert', given.cert], { encoding: 'utf8', timeout: 20000 });
    assert.equal(half.status, 2, 'a certificate without its key is a usage error');
  }],

  ['Firefox opens the HTTPS cabinet and connects', async () => {
    const system = await startCabinet(program, { tls: ['--tls-cert', given.cert, '--tls-key', given.key] });
    assert.equal(await getVerified(`${system.https.url}/demo/`, fs.readFileSync(given.cert)), 200);
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
