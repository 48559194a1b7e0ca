// The errors the client library rejects with. Every one carries a `code`:
// the catalog's number for PellamoError, a word for the others.

/** A command answered with a non-zero result code. */
export class PellamoError extends Error {
  constructor(code, text, command) {
    super(`${text} (error ${code}, command ${command})`);
    this.name = 'PellamoError';
    this.code = code;
    this.text = text;
    this.command = command;
  }
}

/** The service could not be reached: not running, or the connection was refused (e.g. origin not allowed). */
export class PellamoUnreachableError extends Error {
  /**
   * permissionState: the browser's loopback-network permission when the
   * connection failed ('granted', 'prompt', 'denied'), null where the browser
   * has no such permission.
   */
  constructor(url, detail, permissionState = null) {
    super(`service not reachable at ${url}${detail ? ` (${detail})` : ''}`);
    this.name = 'PellamoUnreachableError';
    this.code = 'UNREACHABLE';
    this.url = url;
    this.permissionState = permissionState;
  }
}

/** The connection ended before the reply came (the service closes it after some failures), or the reply was damaged. */
export class PellamoProtocolError extends Error {
  constructor(message, command) {
    super(message);
    this.name = 'PellamoProtocolError';
    this.code = 'PROTOCOL';
    this.command = command;
  }
}

/**
 * The browser blocked the connection to the program on this device: the page
 * needs the user's permission for the loopback network ("apps on this
 * device"), which is denied. `permission` names it as the browser knows it.
 */
export class PellamoBlockedError extends PellamoUnreachableError {
  constructor(url, permission) {
    super(url, `the browser blocks connections to this device (permission ${permission} denied)`, 'denied');
    this.name = 'PellamoBlockedError';
    this.code = 'BLOCKED';
    this.permission = permission;
  }
}

/** The program runs but is older than the page needs. */
export class PellamoVersionError extends Error {
  constructor(installed, required) {
    super(`Pellamo ${installed} is installed; this page needs ${required} or later`);
    this.name = 'PellamoVersionError';
    this.code = 'VERSION';
    this.installed = installed;
    this.required = required;
  }
}
