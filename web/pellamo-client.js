// Client of Pellamo's local WebSocket service for a CA cabinet page.
//
// ES modules, no build step; runs in browsers and in Node.js (where the npm
// package ws is used when the runtime has no WebSocket of its own).
//
//   import { PellamoClient } from './pellamo-client.js';
//   const pellamo = new PellamoClient();            // ws://127.0.0.1:3000/
//   const { version } = await pellamo.status();
//   const certs = await pellamo.listCertificates();
//
// Every command is one method that takes one object of named arguments (and
// an optional AbortSignal as `signal`) and returns a promise. A command that
// the program answers with a non-zero result rejects with a PellamoError
// carrying the code and the catalog's text; a service that cannot be reached
// rejects with a PellamoUnreachableError, or a PellamoBlockedError when the
// browser blocks the connection. The command table (lib/commands.js) drives
// both the wire format and the protocol reference (docs/protocol.md).
import {
  PellamoBlockedError, PellamoError, PellamoProtocolError, PellamoUnreachableError, PellamoVersionError,
} from './lib/errors.js';
import { decodeReply, encodeRequest, toBytes } from './lib/codec.js';
import { BY_CODE, decodePayload, encodePayload, resolveValue } from './lib/commands.js';

export * from './lib/errors.js';
export * from './lib/codec.js';
export * from './lib/commands.js';

export const DEFAULT_URL = 'ws://127.0.0.1:3000/';
const utf8Encoder = new TextEncoder();
/** Long enough for the user to answer the browser's permission prompt. */
export const DEFAULT_CONNECT_TIMEOUT = 60000;

// The names Chromium-based browsers have given the permission for
// connections from a public page to this device, newest first.
const LOOPBACK_PERMISSIONS = ['loopback-network', 'local-network-access'];

// ------------------------------------------------------------ helpers

const abortReason = (signal) => signal.reason ?? new DOMException('The operation was aborted.', 'AbortError');

// The promise, or the signal's reason as soon as it aborts.
function abortable(promise, signal) {
  if (!signal) return promise;
  if (signal.aborted) return Promise.reject(abortReason(signal));
  return new Promise((resolve, reject) => {
    const abort = () => reject(abortReason(signal));
    signal.addEventListener('abort', abort, { once: true });
    promise.then(resolve, reject).finally(() => signal.removeEventListener('abort', abort));
  });
}

function delay(ms, value) {
  let timer;
  const promise = new Promise((resolve) => (timer = setTimeout(resolve, ms, value)));
  return { promise, cancel: () => clearTimeout(timer) };
}

/**
 * The browser's permission for connections to this device, where it has one:
 * { name, state } with state 'granted', 'prompt' or 'denied'; null elsewhere
 * (other browsers, Node.js).
 */
export async function loopbackPermission() {
  const permissions = globalThis.navigator?.permissions;
  if (typeof permissions?.query !== 'function') return null;
  for (const name of LOOPBACK_PERMISSIONS) {
    try {
      const wait = delay(2000, null);
      const status = await Promise.race([permissions.query({ name }), wait.promise]);
      wait.cancel();
      if (status) return { name, state: status.state };
    } catch {
      // The browser does not know this name: try the next one.
    }
  }
  return null;
}

/** Compares dotted versions number by number ('1.01.276' equals '1.1.276'): <0, 0 or >0. */
export function compareVersions(a, b) {
  const pa = String(a).split('.').map((x) => Number.parseInt(x, 10) || 0);
  const pb = String(b).split('.').map((x) => Number.parseInt(x, 10) || 0);
  for (let i = 0; i < Math.max(pa.length, pb.length); ++i) {
    const d = (pa[i] ?? 0) - (pb[i] ?? 0);
    if (d !== 0) return Math.sign(d);
  }
  return 0;
}

/** The status check's address for a service URL: ws://host:port/… gives http://host:port/status. */
export function statusUrlOf(url) {
  const u = new URL(url);
  u.protocol = u.protocol === 'wss:' ? 'https:' : 'http:';
  u.pathname = '/status';
  u.search = '';
  u.hash = '';
  return u.href;
}

async function defaultSocketFactory() {
  if (typeof globalThis.WebSocket === 'function') return (url) => new globalThis.WebSocket(url);
  const ws = await import('ws');
  const WS = ws.default ?? ws.WebSocket;
  return (url) => new WS(url);
}

function checkStatus(body) {
  const ok = body && typeof body === 'object' && typeof body.product === 'string' &&
    typeof body.version === 'string' && typeof body.variant === 'string' && typeof body.listen === 'string' &&
    typeof body.transportServer === 'boolean';
  if (!ok) throw new PellamoProtocolError('the status answer is damaged');
  const { product, version, variant, listen, transportServer } = body;
  return { product, version, variant, listen, transportServer };
}

// ------------------------------------------------------------ client

/** `connected` and `disconnected` events of a PellamoClient. */
export class PellamoConnectionEvent extends Event {
  constructor(type, url, reason = '') {
    super(type);
    this.url = url;
    this.reason = reason;
  }
}

/**
 * A connection to the service. Commands may be sent at once; replies are
 * matched by uid. The connection is opened on first use and again after the
 * service closed it. Events: `connected` when it opens, `disconnected` when
 * an open connection ends (`reason` says why).
 */
export class PellamoClient extends EventTarget {
  /**
   * @param {object} [options]
   * @param {string} [options.url] ws://127.0.0.1:3000/ by default
   * @param {(url: string) => WebSocket} [options.createSocket] makes the socket (e.g. with ws options)
   * @param {number} [options.timeout] milliseconds per command; 0 for none (default 120000)
   * @param {number} [options.connectTimeout] milliseconds to open the connection, including the
   *   browser's permission prompt; 0 for none (default 60000)
   * @param {number} [options.errorTextTimeout] milliseconds errorText() waits for the catalog (default 5000)
   * @param {typeof fetch} [options.fetch] the fetch of status() (default globalThis.fetch)
   */
  constructor({
    url = DEFAULT_URL, createSocket, timeout = 120000, connectTimeout = DEFAULT_CONNECT_TIMEOUT,
    errorTextTimeout = 5000, fetch,
  } = {}) {
    super();
    this.url = url;
    this.statusUrl = statusUrlOf(url);
    this.createSocket = createSocket;
    this.timeout = timeout;
    this.connectTimeout = connectTimeout;
    this.errorTextTimeout = errorTextTimeout;
    this.fetch = fetch;
    this.socket = null;
    this.opening = null;
    // uid -> waiting command; `order` keeps the request order, which the
    // service's replies follow. A command given up on (abort, timeout) stays
    // in both until its reply comes, so that replies keep their places.
    this.pending = new Map();
    this.order = [];
    this.counter = 0;
    this.uidPrefix = Math.random().toString(36).slice(2, 8);
    this.catalog = null;
  }

  get connected() {
    return this.socket !== null;
  }

  /** Opens the connection; rejects with PellamoUnreachableError or PellamoBlockedError. Reuses an open one. */
  connect({ signal } = {}) {
    if (signal?.aborted) return Promise.reject(abortReason(signal));
    if (this.socket) return Promise.resolve();
    if (!this.opening) {
      const cancel = new AbortController();
      this.opening = this.open(cancel.signal).finally(() => (this.opening = null));
      this.opening.waiters = 0;
      this.opening.cancel = () => cancel.abort();
    }
    // An opening that every caller gave up on is abandoned.
    const opening = this.opening;
    opening.waiters += 1;
    return abortable(opening, signal).catch((e) => {
      if (signal?.aborted && --opening.waiters === 0) opening.cancel();
      throw e;
    }).finally(() => {
      if (!signal?.aborted) opening.waiters -= 1;
    });
  }

  async open(cancelled) {
    const make = this.createSocket ?? (await defaultSocketFactory());
    let socket;
    try {
      socket = make(this.url);
    } catch (e) {
      throw await this.unreachable(e.message);
    }
    socket.binaryType = 'arraybuffer';
    try {
      await new Promise((resolve, reject) => {
        const timer = this.connectTimeout
          ? setTimeout(() => { socket.close(); reject(new Error('timed out')); }, this.connectTimeout)
          : null;
        const fail = (why) => {
          clearTimeout(timer);
          reject(new Error(why));
        };
        socket.onerror = (e) => fail(e?.message || 'connection failed');
        socket.onclose = (e) => fail(`closed with code ${e?.code ?? '?'}`);
        socket.onopen = () => {
          clearTimeout(timer);
          resolve();
        };
        cancelled.addEventListener('abort', () => {
          socket.close();
          fail('given up');
        }, { once: true });
      });
    } catch (e) {
      throw await this.unreachable(e.message);
    }
    socket.onmessage = (e) => this.onMessage(e.data);
    socket.onclose = (e) => this.onClosed(socket, `the service closed the connection (code ${e?.code ?? '?'})`);
    socket.onerror = () => {};
    this.socket = socket;
    this.dispatchEvent(new PellamoConnectionEvent('connected', this.url));
  }

  // The error for a connection that could not be made: blocked when the
  // browser's loopback permission is denied.
  async unreachable(detail, url = this.url) {
    const permission = await loopbackPermission();
    if (permission?.state === 'denied') return new PellamoBlockedError(url, permission.name);
    return new PellamoUnreachableError(url, detail, permission?.state ?? null);
  }

  /** Closes the connection; commands still waiting reject. */
  close() {
    const s = this.socket;
    if (s) {
      this.onClosed(s, 'closed by the page');
      s.close();
    }
  }

  onClosed(socket, reason) {
    if (this.socket !== socket) return;
    this.socket = null;
    for (const uid of this.order) this.pending.get(uid)?.fail(new PellamoProtocolError(`${reason} without a reply`));
    this.pending.clear();
    this.order = [];
    this.dispatchEvent(new PellamoConnectionEvent('disconnected', this.url, reason));
  }

  onMessage(data) {
    let reply;
    try {
      const bytes = typeof data === 'string' ? utf8Encoder.encode(data) : toBytes(data);
      reply = decodeReply(bytes);
    } catch (e) {
      // A damaged reply cannot be matched; the oldest command is the one it answers.
      this.take(this.order[0])?.fail(e);
      return;
    }
    // An empty message answers a command the service does not know; replies
    // come in request order, so it belongs to the oldest waiting command.
    const p = this.take(reply === null ? this.order[0] : reply.uid);
    if (!p) return;
    if (reply === null) {
      p.fail(new PellamoProtocolError(`command ${p.code} is not known to the service`, p.code));
    } else if (reply.answer !== p.answer) {
      p.fail(new PellamoProtocolError(`command ${p.code} was answered with code ${reply.answer}`, p.code));
    } else {
      p.done(reply);
    }
  }

  take(uid) {
    const p = uid === undefined ? undefined : this.pending.get(uid);
    if (!p) return null;
    this.pending.delete(uid);
    this.order.splice(this.order.indexOf(uid), 1);
    return p;
  }

  /**
   * Sends a raw payload and resolves with the reply envelope ({ uid, format,
   * answer, result, payload }). options: signal, timeout (milliseconds, 0 for none).
   */
  async send(code, payload = new Uint8Array(0), { signal, timeout = this.timeout } = {}) {
    await this.connect({ signal });
    // The connection may have ended between its opening and this turn.
    if (!this.socket) await this.connect({ signal });
    if (signal?.aborted) throw abortReason(signal);
    const cmd = BY_CODE.get(code);
    const uid = `${this.uidPrefix}-${++this.counter}`;
    return new Promise((resolve, reject) => {
      const p = { code, answer: cmd ? cmd.answer : code + 1, settled: false, timer: null };
      const settle = (fn) => (value) => {
        if (p.settled) return;
        p.settled = true;
        clearTimeout(p.timer);
        signal?.removeEventListener('abort', onAbort);
        fn(value);
      };
      p.done = settle(resolve);
      p.fail = settle(reject);
      const onAbort = () => p.fail(abortReason(signal));
      signal?.addEventListener('abort', onAbort, { once: true });
      if (timeout) {
        p.timer = setTimeout(() => p.fail(new PellamoProtocolError(`command ${code}: no reply within ${timeout} ms`, code)),
          timeout);
      }
      this.pending.set(uid, p);
      this.order.push(uid);
      try {
        this.socket.send(encodeRequest(uid, code, payload));
      } catch (e) {
        this.take(uid);
        p.fail(new PellamoProtocolError(`command ${code} could not be sent: ${e.message}`, code));
      }
    });
  }

  /**
   * Runs a command of the table: encodes args (named as the command's request
   * fields; `signal` and `timeout` as in send), rejects on a non-zero result,
   * decodes the reply.
   */
  async call(code, args = {}) {
    const cmd = BY_CODE.get(code);
    if (!cmd) throw new TypeError(`unknown command ${code}`);
    const { signal, timeout } = args;
    const reply = await this.send(code, encodePayload(code, args), { signal, timeout });
    if (reply.result !== 0) throw new PellamoError(reply.result, await this.errorText(reply.result, { signal }), code);
    return resolveValue(cmd, decodePayload(code, reply.payload));
  }

  /**
   * The catalog's text of a result code; the catalog is fetched once (command
   * 16). Never rejects and never waits longer than `timeout` milliseconds
   * (default: the errorTextTimeout option): without the catalog the text is
   * "Ошибка <code>".
   */
  async errorText(code, { signal, timeout = this.errorTextTimeout } = {}) {
    const fallback = `Ошибка ${code}`;
    if (signal?.aborted) return fallback;
    if (!this.catalog) {
      const catalog = this.call(16, { timeout: Math.max(timeout, 30000) });
      this.catalog = catalog;
      catalog.catch(() => {
        if (this.catalog === catalog) this.catalog = null;
      });
    }
    const wait = delay(timeout, null);
    const aborted = new Promise((resolve) => signal?.addEventListener('abort', () => resolve(null), { once: true }));
    try {
      const map = await Promise.race([this.catalog.catch(() => null), wait.promise, aborted]);
      return map ? (map.get(code) ?? 'Неизвестная ошибка') : fallback;
    } finally {
      wait.cancel();
    }
  }

  /**
   * The program's own account of itself, from a plain HTTP GET of /status on
   * the service's port (no WebSocket): { product, version, variant, listen,
   * transportServer }. Rejects like connect() when the program cannot be
   * reached, and with PellamoProtocolError when it answers without a status
   * (a version from before the status check).
   */
  async status({ signal, timeout = this.connectTimeout } = {}) {
    if (signal?.aborted) throw abortReason(signal);
    const fetchStatus = this.fetch ?? globalThis.fetch;
    const controller = new AbortController();
    const timer = timeout ? setTimeout(() => controller.abort(), timeout) : null;
    const onAbort = () => controller.abort();
    signal?.addEventListener('abort', onAbort, { once: true });
    let res;
    try {
      res = await fetchStatus(this.statusUrl, { signal: controller.signal, cache: 'no-store', credentials: 'omit' });
    } catch (e) {
      if (signal?.aborted) throw abortReason(signal);
      throw await this.unreachable(controller.signal.aborted ? 'timed out' : e.message, this.statusUrl);
    } finally {
      clearTimeout(timer);
      signal?.removeEventListener('abort', onAbort);
    }
    if (res.status === 403) throw new PellamoUnreachableError(this.statusUrl, 'HTTP 403: this origin is not allowed');
    if (res.status !== 200) {
      throw new PellamoProtocolError(`the program answers /status with HTTP ${res.status}: a version without the status check`);
    }
    let body;
    try {
      body = await abortable(res.json(), signal);
    } catch (e) {
      if (signal?.aborted) throw abortReason(signal);
      throw new PellamoProtocolError(`the status answer is damaged: ${e.message}`);
    }
    return checkStatus(body);
  }

  /** status(), rejecting with PellamoVersionError when the program is older than `minimum`. */
  async requireVersion({ minimum, signal, timeout } = {}) {
    if (typeof minimum !== 'string') throw new TypeError('requireVersion: minimum must be a version text');
    const status = await this.status({ signal, timeout });
    if (compareVersions(status.version, minimum) < 0) throw new PellamoVersionError(status.version, minimum);
    return status;
  }
}

// One method per command, named in the table; it takes one object with the
// request fields' names (and optionally signal and timeout).
for (const cmd of BY_CODE.values()) {
  Object.defineProperty(PellamoClient.prototype, cmd.method, {
    configurable: true,
    writable: true,
    value: function (args = {}) {
      if (args === null || typeof args !== 'object' || Array.isArray(args) || ArrayBuffer.isView(args) ||
          args instanceof ArrayBuffer) {
        return Promise.reject(new TypeError(`${cmd.method} takes one object of named arguments`));
      }
      return this.call(cmd.code, args);
    },
  });
}
