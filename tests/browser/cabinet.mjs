// What the browser tests share: the local CA peer serving the demo cabinet
// over HTTPS (as a real cabinet is served) and the program allowing that
// origin, and the demo's whole cycle as steps any browser can run: envelope,
// card, request, install, list, login, renewal.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { peerPath, repoRoot, sleep, startPeer, startProgram, tempDir } from '../e2e/lib/harness.mjs';

const STEP_MS = 45000;

/**
 * Starts the peer (plain HTTP and HTTPS, the demo on both; `tls` adds the
 * peer's certificate options) and the program allowing the HTTPS origin and
 * the given others. Returns { peer, https }.
 */
export async function startCabinet(program, { allow = [], tls = [] } = {}) {
  const peer = await startPeer(peerPath(program), {
    args: ['--demo', path.join(repoRoot, 'web', 'demo'), '--tls-port', '0', ...tls],
  });
  let m = null;
  for (let i = 0; i < 100 && !(m = /listening on (https:\/\/[^:]+:(\d+))/.exec(peer.proc.stdout)); ++i) await sleep(50);
  assert.ok(m, `the peer serves no HTTPS: ${peer.proc.stdout}`);
  const https = { url: m[1], port: Number(m[2]) };
  const origins = [https.url, ...allow].join(' ');
  await startProgram(program, { transportPort: peer.port, env: { PELLAMO_ALLOWED_ORIGINS: origins } });
  return { peer, https };
}

/** A page of the demo cabinet and the checks the cycle makes on it. */
export class Cabinet {
  constructor(page, shots) {
    this.page = page;
    this.shots = shots;
    this.seen = [];
    page.on('pageerror', (e) => this.seen.push(`page error: ${e.message}`));
    page.on('response', (r) => r.status() >= 400 && this.seen.push(`HTTP ${r.status()}: ${r.url()}`));
  }

  async screenshot(name) {
    const file = path.join(this.shots, `${name}.png`);
    await this.page.screenshot({ path: file, fullPage: true });
    if (process.env.PELLAMO_UPDATE_SCREENSHOTS === '1') {
      fs.mkdirSync(path.join(repoRoot, 'docs', 'demo'), { recursive: true });
      fs.copyFileSync(file, path.join(repoRoot, 'docs', 'demo', `${name}.png`));
    }
  }

  text(selector) {
    return this.page.$eval(selector, (e) => e.textContent.trim());
  }

  // Waits until the page's condition holds; on a timeout the failure names
  // the banner and the last lines of the page's own command log.
  async until(fn, what, ...args) {
    try {
      await this.page.waitForFunction(fn, { timeout: STEP_MS, polling: 100 }, ...args);
    } catch (e) {
      const lines = await this.page.$$eval('#log li', (li) => li.slice(0, 5).map((x) => x.textContent)).catch(() => []);
      const banner = await this.page.$eval('#banner', (b) => (b.hidden ? '' : b.textContent.trim())).catch(() => '');
      throw new Error(`${what}: ${e.message}\n     banner: ${banner}\n     log: ${lines.join('\n          ')}`);
    }
  }

  async progressDone(list, count) {
    await this.until((sel, n) => {
      const items = [...document.querySelectorAll(`${sel} li`)];
      if (items.some((li) => li.className === 'failed')) return true;
      return items.length === n && items.every((li) => li.className === 'done');
    }, `${list} to finish`, list, count);
    const failed = await this.page.$$eval(`${list} li.failed`, (li) => li.map((x) => x.textContent));
    assert.deepEqual(failed, [], `${list}: ${await this.text('#banner')}`);
  }

  async bannerHidden() {
    assert.equal(await this.page.$eval('#banner', (b) => b.hidden), true, await this.text('#banner'));
  }

  async connected() {
    await this.until(() => document.getElementById('fact-service').textContent === 'подключена' &&
      document.getElementById('fact-csp').textContent !== '—', 'the connection');
    assert.equal(await this.text('#fact-version'), '1.01.276');
    assert.match(await this.text('#fact-csp'), /\(-?\d+\)$/);
  }

  async openEnvelope() {
    await this.page.click('#issue-envelope');
    await this.until(() => document.getElementById('envelope-id').value.length === 6, 'the envelope');
    await this.page.click('#open-envelope button[type=submit]');
    await this.until(() => !document.getElementById('card').hidden, 'the card');
    const view = await this.text('#card-view');
    for (const part of ['ООО «Ромашка»', '5032149676', 'Иванов Пётр Сергеевич', '4510 123456', '12 мес.']) {
      assert.ok(view.includes(part), `card shows ${part}: ${view}`);
    }
    assert.match(await this.text('#card-attachments'), /заявление\.txt \(\d+ байт/);
  }

  async editCard() {
    const file = path.join(tempDir('pellamo-upload-'), 'скан-паспорта.pdf');
    fs.writeFileSync(file, Buffer.alloc(2048, 7));
    await this.page.$eval('#card-edit input[name=phone]', (i) => (i.value = '+7 495 123-45-67'));
    await this.page.select('#attachment-type', '1');
    await this.page.click('.purposes input[value="1.2.643.6.7"]');
    const input = await this.page.$('#attachment-file');
    await input.uploadFile(file);
    await this.page.click('#card-edit button[type=submit]');
    await this.until(() => !document.getElementById('card-saved').hidden || !document.getElementById('banner').hidden,
      'the save');
    await this.bannerHidden();
    assert.match(await this.text('#card-attachments'), /скан-паспорта\.pdf \(2048 байт, тип 1\)/);
    assert.match(await this.text('#card-view'), /\+7 495 123-45-67/);
  }

  async requestAndInstall() {
    await this.page.click('#request-form button[type=submit]');
    await this.progressDone('#request-progress', 4);
    await this.until(() => document.querySelectorAll('#cert-table tbody tr').length > 0, 'the certificate list');
    const rows = await this.page.$$eval('#cert-table tbody tr', (tr) => tr.map((r) => [...r.cells].map((c) => c.textContent)));
    assert.equal(rows.length, 1);
    assert.match(rows[0][2], /^\d{4}-\d\d-\d\d \d\d-\d\d-\d\d$/);
    assert.equal(rows[0][3], 'действителен');
  }

  async login() {
    await this.page.click('#cert-table tbody tr button');
    await this.until(() => !document.getElementById('auth-result').hidden || !document.getElementById('banner').hidden,
      'the login');
    assert.match(await this.text('#auth-result'), /Вход выполнен/, await this.text('#banner'));
    assert.match(await this.text('#auth-result'), /подпись 64 байт/);
  }

  // Logged in, the edited card goes to the CA signed with the certificate's key.
  async registerCard() {
    await this.page.click('#card-register');
    await this.until(() => /карточка отправлена в УЦ/.test(document.getElementById('log').textContent) ||
      !document.getElementById('banner').hidden, 'the card registration');
    await this.bannerHidden();
  }

  async renew() {
    await this.page.click('#renew-start');
    await this.progressDone('#renew-progress', 4);
    await this.until(() => document.querySelectorAll('#cert-table tbody tr').length === 2, 'two certificates');
  }
}

/** The whole cycle after the page connected; screenshots named `${prefix}name` unless prefix is null. */
export async function wholeCycle(cabinet, prefix = '') {
  const shot = (name) => (prefix === null ? Promise.resolve() : cabinet.screenshot(`${prefix}${name}`));
  await cabinet.openEnvelope();
  await shot('envelope-card');
  await cabinet.editCard();
  await cabinet.requestAndInstall();
  await shot('certificates');
  await cabinet.login();
  await shot('login');
  await cabinet.registerCard();
  await cabinet.renew();
  await shot('renewal');
  assert.deepEqual(cabinet.seen, []);
}
