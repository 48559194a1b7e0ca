// The host the program under test runs on, as far as the suites care: the
// Linux program as it is, or pellamo.exe under wine. A program path ending in
// ".exe" selects wine; everything else is the Linux host.
//
// On the wine host:
//   - the program runs as `wine <program.exe>` in PELLAMO_WINE_PREFIX (a
//     prefix made by tests/windows/prefix.sh), with WINEDEBUG=-all and the
//     Russian locale of the smoke test, and the paths of its environment in
//     their Windows form (the provider and token DLLs read them inside the
//     program's process);
//   - a polite end is WM_CLOSE to its windows (the tray menu's exit), posted
//     by the store tool; a forced end kills the wine process;
//   - the personal store "MY" is wine's registry store, read and written by
//     the store tool (pellamo_win_storetool.exe: PELLAMO_WIN_STORETOOL, else
//     beside the program);
//   - the token modules are the vendor names in system32 the prefix holds;
//   - finish() ends every wine process of the prefix.
//
// Key containers are plain files in PELLAMO_CSP_DIR on both hosts.
import { execFile, execFileSync, spawn } from 'node:child_process';
import crypto from 'node:crypto';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// Environment variables that name files or folders: given to the Windows
// program in their Windows form.
const PATH_VARIABLES = ['PELLAMO_CSP_DIR', 'PELLAMO_SOFTTOKEN_DIR', 'PELLAMO_SOFTTOKEN_CONFIG', 'PELLAMO_PKCS11_JACARTA', 'PELLAMO_PKCS11_RUTOKEN'];

// The token modules under the names the Windows program loads; on Linux the
// copies of the soft token carry the same names, so that one token
// configuration (matched by module file name) serves both hosts.
export const TOKEN_MODULES = { jacarta: 'jcPKCS11-2', rutoken: 'rtPKCS11ECP' };
export const TOKEN_MODULE_MATCH = { jacarta: 'jcPKCS11', rutoken: 'rtPKCS11' };

// A Linux absolute path as wine's Z: drive shows it.
export function windowsPath(p) {
  return 'Z:' + path.resolve(p).replace(/\//g, '\\');
}

function storeFileName(seq, der) {
  return `${String(seq).padStart(8, '0')}-${crypto.createHash('sha1').update(der).digest('hex')}.der`;
}

// ------------------------------------------------------------------ Linux

class LinuxHost {
  constructor(program) {
    this.program = path.resolve(program);
    this.name = 'linux';
    this.isWine = false;
    // Test clients run as this user: they need no Origin.
    this.clientOrigin = null;
    this.startupMs = 15000;
    this.endName = 'SIGTERM';
  }

  spawn(args, { cwd, env = {}, stdio = ['ignore', 'pipe', 'pipe'] } = {}) {
    return spawn(this.program, args, { cwd, stdio, env: { ...process.env, ...env } });
  }

  // The program's own end request: SIGTERM.
  async requestEnd(child) {
    child.kill('SIGTERM');
  }

  // A case that only applies to one host runs its body here; elsewhere it
  // says why it does not apply.
  skip() {
    return false;
  }

  // What the program told its user: its error stream.
  async messages(child, stderr) {
    return stderr;
  }

  // ---- the personal store "MY": files in <csp>/stores/MY
  async storeList(cspDir) {
    const dir = path.join(cspDir, 'stores', 'MY');
    if (!fs.existsSync(dir)) return [];
    return fs.readdirSync(dir).filter((f) => f.endsWith('.der')).sort().map((f) => {
      const der = fs.readFileSync(path.join(dir, f));
      return { der, sha1: crypto.createHash('sha1').update(der).digest('hex') };
    });
  }

  async storeAdd(cspDir, der) {
    const dir = path.join(cspDir, 'stores', 'MY');
    fs.mkdirSync(dir, { recursive: true });
    const seq = fs.readdirSync(dir).filter((n) => n.endsWith('.der')).length;
    fs.writeFileSync(path.join(dir, storeFileName(seq, der)), der);
  }

  // A fresh key folder has an empty store of its own.
  async storeReset() {}

  // A CRL (DER) and its issuer's certificate where the revocation check
  // finds them: the CRL in <csp>/crls (the Linux check verifies no CRL
  // signature, so it needs no issuer).
  async installCrl(cspDir, name, der) {
    fs.mkdirSync(path.join(cspDir, 'crls'), { recursive: true });
    fs.writeFileSync(path.join(cspDir, 'crls', name), der);
  }

  // The soft token as both devices: copies of the module under the vendor
  // names in work, the program told where they are.
  tokenSetup(work, softToken) {
    const modules = {};
    for (const [device, name] of Object.entries(TOKEN_MODULES)) {
      modules[device] = path.join(work, `${name}.so`);
      fs.copyFileSync(softToken, modules[device]);
    }
    return {
      modules,
      env: { PELLAMO_PKCS11_JACARTA: modules.jacarta, PELLAMO_PKCS11_RUTOKEN: modules.rutoken },
    };
  }

  async finish() {}
}

// ------------------------------------------------------------------- wine

// The origins a test build allows unless told otherwise (its cabinet).
const BUILD_ALLOWED_ORIGINS = 'https://lk.pellamo.example';

class WineHost {
  constructor(program) {
    this.program = path.resolve(program);
    this.name = 'wine';
    this.isWine = true;
    // A wine process takes seconds to start, more while others run.
    this.startupMs = 60000;
    // The test clients are Linux processes, which wine cannot name as the
    // owners of their connections: without an Origin the program refuses
    // them as it would another user's. They present this origin, which
    // every program started here allows besides what the test allows.
    this.clientOrigin = 'https://e2e-client.pellamo.test';
    this.endName = 'WM_CLOSE';
    this.prefix = process.env.PELLAMO_WINE_PREFIX;
    if (!this.prefix) {
      throw new Error('pellamo.exe runs under wine: set PELLAMO_WINE_PREFIX to a prefix made by tests/windows/prefix.sh');
    }
    if (!fs.existsSync(path.join(this.prefix, 'system.reg'))) {
      throw new Error(`PELLAMO_WINE_PREFIX=${this.prefix} is not a wine prefix`);
    }
    this.tool = path.resolve(process.env.PELLAMO_WIN_STORETOOL ?? path.join(path.dirname(this.program), 'pellamo_win_storetool.exe'));
    this.wineEnv = {
      ...process.env,
      WINEPREFIX: this.prefix,
      WINEDEBUG: process.env.PELLAMO_WINEDEBUG ?? '-all',
      WINEDLLOVERRIDES: 'mscoree,mshtml=',
      // A Russian system: the program's narrow texts and paths are in code page 1251.
      LANG: 'ru_RU.UTF-8',
      LC_ALL: 'ru_RU.UTF-8',
    };
    this.xvfb = null;
    this.ensureDisplay();
    this.cwdOf = new WeakMap(); // child -> its work folder (also after its exit)
    this.boxes = []; // { folder, text } of every message box answered
    this.watcher = null;
  }

  // The program makes a (hidden) window and a tray icon: wine needs a
  // display. Without one, a private Xvfb serves until finish().
  ensureDisplay() {
    if (process.env.DISPLAY) return;
    const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'pellamo-xvfb-'));
    const file = path.join(dir, 'display');
    const pid = execFileSync('sh', ['-c', 'Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$0" >/dev/null 2>&1 & echo $!', file])
      .toString().trim();
    const deadline = Date.now() + 10000;
    while (!(fs.existsSync(file) && fs.readFileSync(file, 'utf8').trim()) && Date.now() < deadline) {
      Atomics.wait(new Int32Array(new SharedArrayBuffer(4)), 0, 0, 50);
    }
    const display = fs.existsSync(file) ? fs.readFileSync(file, 'utf8').trim() : '';
    fs.rmSync(dir, { recursive: true, force: true });
    if (!display) throw new Error('wine needs a display: set DISPLAY, or install Xvfb');
    this.xvfb = Number(pid);
    this.wineEnv.DISPLAY = `:${display}`;
    process.on('exit', () => this.stopDisplay());
  }

  stopDisplay() {
    if (!this.xvfb) return;
    try {
      process.kill(this.xvfb, 'SIGTERM');
    } catch {
      // already gone
    }
    this.xvfb = null;
  }

  // The Windows program reports what the Linux one writes to stderr (a failed
  // update check, for one) in message boxes that wait for a click: one
  // watcher in the prefix answers them all as a user would, and they are
  // kept for the tests to read (boxesOf).
  watchBoxes() {
    if (this.watcher) return;
    this.checkTool();
    const watcher = spawn('wine', [this.tool, 'answer-boxes'], { env: this.wineEnv, stdio: ['ignore', 'pipe', 'ignore'] });
    let pending = '';
    watcher.stdout.setEncoding('utf8');
    watcher.stdout.on('data', (d) => {
      pending += d;
      let nl;
      while ((nl = pending.indexOf('\n')) >= 0) {
        const [kind, folder, text] = pending.slice(0, nl).replace(/\r$/, '').split('\t');
        pending = pending.slice(nl + 1);
        if (kind === 'box') this.boxes.push({ folder, text });
      }
    });
    watcher.once('exit', () => {
      if (this.watcher === watcher) this.watcher = null;
    });
    // It must not keep the test process alive.
    watcher.unref();
    watcher.stdout.unref();
    this.watcher = watcher;
  }

  // The message boxes a program instance showed (caption " :: " text).
  boxesOf(child) {
    const folder = windowsPath(this.cwdOf.get(child) ?? '/').toLowerCase();
    return this.boxes.filter((b) => b.folder.toLowerCase() === folder).map((b) => b.text);
  }

  // What the program told its user: its message boxes, written as the Linux
  // program writes them to stderr ("[caption] text"), then its error stream.
  async messages(child, stderr) {
    await sleep(300); // the watcher's last line may still be on its way
    const boxes = this.boxesOf(child).map((b) => {
      const at = b.indexOf(' :: ');
      return at < 0 ? `${b}\n` : `[${b.slice(0, at)}] ${b.slice(at + 4)}\n`;
    });
    return boxes.join('') + stderr;
  }

  checkTool() {
    if (!fs.existsSync(this.tool)) {
      throw new Error(`${this.tool} is missing: build pellamo_win_storetool (tools/build-windows.sh) or set PELLAMO_WIN_STORETOOL`);
    }
  }

  windowsEnv(env) {
    const out = { ...env };
    for (const key of PATH_VARIABLES) if (out[key]) out[key] = windowsPath(out[key]);
    return out;
  }

  spawn(args, { cwd, env = {}, stdio = ['ignore', 'pipe', 'pipe'] } = {}) {
    // Linux paths of the caller's own environment mean nothing to the Windows
    // program: only what the test gives reaches it, converted.
    this.watchBoxes();
    const full = { ...this.wineEnv };
    for (const key of PATH_VARIABLES) delete full[key];
    const allowed = 'PELLAMO_ALLOWED_ORIGINS' in env ? env.PELLAMO_ALLOWED_ORIGINS : BUILD_ALLOWED_ORIGINS;
    env = { ...env, PELLAMO_ALLOWED_ORIGINS: `${allowed} ${this.clientOrigin}` };
    const child = spawn('wine', [this.program, ...args], { cwd, stdio, env: { ...full, ...this.windowsEnv(env) } });
    this.cwdOf.set(child, cwd ?? process.cwd());
    return child;
  }

  // Runs the store tool in the prefix; resolves with its standard output.
  tool_(args, { allowFail = false, env = {} } = {}) {
    this.checkTool();
    return new Promise((resolve, reject) => {
      execFile('wine', [this.tool, ...args], { env: { ...this.wineEnv, ...this.windowsEnv(env) }, encoding: 'buffer', maxBuffer: 64 << 20 }, (err, stdout, stderr) => {
        if (err && !allowFail) reject(new Error(`storetool ${args[0]} failed: ${stderr.toString('utf8').trim() || err.message}`));
        else resolve({ ok: !err, out: stdout.toString('utf8'), err: stderr.toString('utf8') });
      });
    });
  }

  // WM_CLOSE to the windows of the instance running in the child's work
  // folder. The program may not have made its window yet: try for a while.
  async requestEnd(child) {
    const folder = windowsPath(this.cwdOf.get(child) ?? process.cwd());
    const deadline = Date.now() + 10000;
    for (;;) {
      if (child.exitCode !== null || child.signalCode !== null) return;
      const { ok } = await this.tool_(['close', folder], { allowFail: true });
      if (ok || Date.now() > deadline) return;
      await sleep(200);
    }
  }

  skip(reason) {
    console.log(`     (skipped on the wine host: ${reason})`);
    return true;
  }

  // ---- the personal store "MY": wine's registry store of the prefix
  async storeList() {
    const { out } = await this.tool_(['list', '-der']);
    return out.split('\n').filter(Boolean).map((line) => {
      const [sha1, provType, container, subject, derHex] = line.split('\t');
      return { sha1, provType: provType === '-' ? null : Number(provType), container, subject, der: Buffer.from(derHex ?? '', 'hex') };
    });
  }

  async storeAdd(cspDir, der, container, provType) {
    const file = path.join(cspDir, `.store-add-${crypto.randomBytes(6).toString('hex')}.der`);
    fs.writeFileSync(file, der);
    try {
      await this.tool_(['add', windowsPath(file), ...(container ? [container, String(provType)] : [])]);
    } finally {
      fs.rmSync(file, { force: true });
    }
  }

  // The store belongs to the prefix, not to the key folder: a program started
  // with a fresh key folder must not see the certificates of an earlier one.
  async storeReset() {
    await this.tool_(['clear']);
  }

  // The CRL and its issuer's certificate in the user's store "CA", where a
  // Windows user's CRLs go. wine 8's own CertVerifyRevocation decides
  // nothing with them (it checks no GOST signature: the store tool's
  // "revocation" command shows it); the program's check falls back to them.
  async installCrl(cspDir, name, der, issuerDer) {
    const stem = path.join(cspDir, `.crl-add-${crypto.randomBytes(6).toString('hex')}`);
    fs.writeFileSync(`${stem}.crl`, der);
    fs.writeFileSync(`${stem}.cer`, issuerDer);
    try {
      await this.tool_(['add-crl', windowsPath(`${stem}.crl`), 'CA', windowsPath(`${stem}.cer`)]);
    } finally {
      fs.rmSync(`${stem}.crl`, { force: true });
      fs.rmSync(`${stem}.cer`, { force: true });
    }
  }

  // CryptAcquireCertificatePrivateKey, as any Windows program would call it,
  // on a certificate of "MY" whose key is in the key folder cspDir.
  async acquire(sha1, cspDir) {
    const { ok, out, err } = await this.tool_(['acquire', sha1], { allowFail: true, env: { PELLAMO_CSP_DIR: cspDir } });
    if (!ok) return { error: err.trim() };
    const [container, provType, keySpec] = out.trim().split('\t');
    return { container, provType: Number(provType), keySpec: Number(keySpec) };
  }

  // The program loads the vendor module names from system32 (copies of the
  // soft token made by prefix.sh); pkcs11-tool on Linux reads the same token
  // folder through copies of the Linux module under the same names.
  tokenSetup(work, softToken) {
    const modules = {};
    for (const [device, name] of Object.entries(TOKEN_MODULES)) {
      modules[device] = path.join(work, `${name}.so`);
      fs.copyFileSync(softToken, modules[device]);
    }
    return { modules, env: {} };
  }

  // Ends every process of the prefix (the program, a stuck tool, the
  // services wine started) and waits for the server to go.
  async finish() {
    if (this.watcher) this.watcher.kill('SIGKILL');
    this.watcher = null;
    try {
      execFileSync('wineserver', ['-k'], { env: this.wineEnv, stdio: 'ignore', timeout: 30000 });
      execFileSync('wineserver', ['-w'], { env: this.wineEnv, stdio: 'ignore', timeout: 30000 });
    } catch {
      // no server running: nothing to end
    }
    this.stopDisplay();
  }
}

const hosts = new Map();

// The host of a program path (one per path, shared by the harness and the suite).
export function hostFor(program) {
  const key = path.resolve(program ?? '');
  if (!hosts.has(key)) hosts.set(key, key.toLowerCase().endsWith('.exe') ? new WineHost(key) : new LinuxHost(key));
  return hosts.get(key);
}

// The message boxes answered since the last call (for a failing case's report).
export function recentBoxes() {
  const out = [];
  for (const host of hosts.values()) {
    if (!host.boxes) continue;
    host.reported ??= 0;
    out.push(...host.boxes.slice(host.reported).map((b) => `${b.folder}: ${b.text}`));
    host.reported = host.boxes.length;
  }
  return out;
}

export async function finishHosts() {
  for (const host of hosts.values()) await host.finish();
}
