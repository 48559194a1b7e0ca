// Type declarations of pellamo-client.js (and of the modules in lib/ that it re-exports).

export declare const DEFAULT_URL: 'ws://127.0.0.1:3000/';
export declare const DEFAULT_CONNECT_TIMEOUT: 60000;

export type Bytes = Uint8Array | ArrayBuffer | ArrayBufferView | number[];

// ------------------------------------------------------------------ errors

/** A command answered with a non-zero result code; text is the catalog's. */
export declare class PellamoError extends Error {
  constructor(code: number, text: string, command: number);
  readonly name: 'PellamoError';
  readonly code: number;
  readonly text: string;
  readonly command: number;
}

export type PermissionStateName = 'granted' | 'prompt' | 'denied';

/** The service is not running, or refused the connection (for example because the page's origin is not allowed). */
export declare class PellamoUnreachableError extends Error {
  constructor(url: string, detail?: string, permissionState?: PermissionStateName | null);
  readonly name: 'PellamoUnreachableError' | 'PellamoBlockedError';
  readonly code: 'UNREACHABLE' | 'BLOCKED';
  readonly url: string;
  /** The browser's loopback-network permission when the connection failed; null where there is none. */
  readonly permissionState: PermissionStateName | null;
}

/** The browser blocks the page's connections to this device: its loopback-network permission is denied. */
export declare class PellamoBlockedError extends PellamoUnreachableError {
  constructor(url: string, permission: string);
  readonly name: 'PellamoBlockedError';
  readonly code: 'BLOCKED';
  /** The permission's name in this browser: 'loopback-network' or 'local-network-access'. */
  readonly permission: string;
  readonly permissionState: 'denied';
}

/** The connection ended before the reply came, the command is unknown to the service, or a reply was damaged. */
export declare class PellamoProtocolError extends Error {
  constructor(message: string, command?: number);
  readonly name: 'PellamoProtocolError';
  readonly code: 'PROTOCOL';
  readonly command?: number;
}

/** The program is older than the page requires (requireVersion). */
export declare class PellamoVersionError extends Error {
  constructor(installed: string, required: string);
  readonly name: 'PellamoVersionError';
  readonly code: 'VERSION';
  readonly installed: string;
  readonly required: string;
}

// ------------------------------------------------------------ enumerations

export type CertStoreKind = 0 | 1 | 2;
export type SubjectTypeKind = 0 | 1 | 2;
export type PacketTypeKind = 1 | 7 | 9;
/** CSP kinds: token kinds are negative, -2 is none, the others are CryptoAPI provider types. */
export type CspKind = -7 | -6 | -5 | -4 | -3 | -2 | -1 | 2 | 75 | 77 | 78 | 80 | 81;
/** Card fields whose value is a u32 (template, client type, sex, passport document type). */
export type NumericCardField = 4 | 5 | 31 | 32;
export type TextCardField =
  3 | 6 | 7 | 8 | 9 | 10 | 11 | 12 | 13 | 14 | 15 | 16 | 17 | 18 | 19 | 20 | 21 | 22 | 23 | 24 | 25 | 26 | 27 | 28 |
  29 | 30;
export type CardFieldNumber = NumericCardField | TextCardField;

export declare const CertStore: { readonly personal: 0; readonly jacarta: 1; readonly rutoken: 2 };
export declare const SubjectType: { readonly legalEntity: 0; readonly naturalPerson: 1; readonly entrepreneur: 2 };
export declare const PacketType: { readonly card: 1; readonly renewal: 7; readonly regionalCard: 9 };
export declare const CSP: {
  readonly none: -2;
  readonly jacarta2001: -1; readonly jacarta2012_256: -3; readonly jacarta2012_512: -4;
  readonly rutoken2001: -5; readonly rutoken2012_256: -6; readonly rutoken2012_512: -7;
  readonly vipnet2001: 2; readonly vipnet2012_256: 77; readonly vipnet2012_512: 78;
  readonly cryptopro2001: 75; readonly cryptopro2012_256: 80; readonly cryptopro2012_512: 81;
};
export declare const CSP_NAMES: Readonly<Record<CspKind, string>>;
export declare const CardField: {
  readonly envelopeId: 3; readonly template: 4; readonly clientType: 5; readonly inn: 6; readonly kpp: 7;
  readonly ogrn: 8; readonly surname: 9; readonly name: 10; readonly patronymic: 11; readonly snils: 12;
  readonly position: 13; readonly phone: 14; readonly email: 15; readonly region: 16; readonly city: 17;
  readonly street: 18; readonly house: 19; readonly korpus: 20; readonly apartment: 21; readonly comment: 22;
  readonly passportSeries: 23; readonly passportNumber: 24; readonly passportIssuer: 25;
  readonly passportIssueDate: 26; readonly placeOfBirth: 27; readonly birthday: 28; readonly companyName: 29;
  readonly divisionCode: 30; readonly sex: 31; readonly passportDocType: 32;
};
/** Status flags of a certificate record; a status is a combination of them. */
export declare const CertStatus: {
  readonly ok: 0; readonly outsideValidity: 1; readonly expiredRecently: 0x80000000;
  readonly untrustedIssuer: 0x10000000; readonly notQualified: 0x20000000; readonly revoked: 0x40000000;
};
export declare const EGRUL_FIELDS: readonly (keyof RegisterValues)[];
export declare const WIRE_TYPES: Readonly<Record<WireType, string>>;
export declare const CARD_VERSION: 106;

export declare function isAcceptableStatus(status: number): boolean;
export declare function describeStatus(status: number): string;
export declare function decodeCp1251(bytes: Uint8Array | number[]): string;
export declare function encodeCp1251(text: string): Uint8Array;
export declare function compareVersions(a: string, b: string): -1 | 0 | 1;
export declare function statusUrlOf(url: string): string;
export declare function loopbackPermission(): Promise<{ name: string; state: PermissionStateName } | null>;

// --------------------------------------------------------------- records

export interface SystemTime {
  year: number; month: number; dayOfWeek: number; day: number;
  hour: number; minute: number; second: number; milliseconds: number;
}

export interface Passport {
  docType: number; series: string; number: string; issuer: string; divisionCode: string;
  /** -1 when not set */
  sex: number;
  issueDate: SystemTime | null; placeOfBirth: string; birthday: SystemTime | null;
}

export interface Address {
  region: string; city: string; street: string; house: string; korpus: string; apartment: string;
}

/** Kind 1: a number of months (decimal text); kind 2: an end date; other kinds carry nothing more. */
export type ValidityPeriod = { kind: 1; months: string } | { kind: 2; endDate: SystemTime } | { kind: number };

export interface Attachment { docType: number; fileName: string; contents: Uint8Array }

export interface ClientCard {
  version: number;
  clientType: SubjectTypeKind;
  withoutStamp: boolean;
  inn: string; ogrn: string; kpp: string; companyName: string;
  surname: string; name: string; patronymic: string; snils: string; position: string;
  passport: Passport;
  phone: string; email: string;
  address: Address;
  comment: string;
  envelopeId: string;
  template: number;
  csp: CspKind;
  period: ValidityPeriod | null;
  /** Added purposes as OID texts (web form). */
  purposes: string[];
  /** Added purposes as purpose numbers (CA form). */
  purposeIds: number[];
  attachments: Attachment[];
}

export type CardInput = Partial<Omit<ClientCard, 'passport' | 'address'>> & {
  passport?: Partial<Passport>;
  address?: Partial<Address>;
};

export declare function emptyCard(): ClientCard;
export declare function decodeCard(bytes: Bytes, options?: { form?: 'web' | 'ca' }): ClientCard;
export declare function encodeCard(card: CardInput, options?: { form?: 'web' | 'ca' }): Uint8Array;

export interface CertificateRecord {
  index: number;
  commonName: string;
  /** surname, a blank, given name */
  person: string;
  /** least significant byte first */
  serialNumber: Uint8Array;
  subjectType: number;
  /** "YYYY-MM-DD hh-mm-ss", UTC */
  validTo: string;
  /** CertStatus flags */
  status: number;
  acceptable: boolean;
  statusText: string;
}

export interface SignedAuth { signed: Uint8Array; certificate: Uint8Array; signature: Uint8Array }

export interface RegisterValues {
  kpp: string; house: string; region: string; flat: string; city: string; settlement: string; street: string;
  building: string; headSurname: string; headPatronymic: string; headPosition: string; headName: string;
  ogrn: string; fullName: string; shortName: string;
}

export interface ReplyEnvelope { uid: string; format: number; answer: number; result: number; payload: Uint8Array }

export type WireType =
  'u32' | 'i32' | 'flag' | 'text' | 'bytes' | 'card' | 'cardOrNull' | 'signed' | 'certificates' | 'catalog' | 'egrul' |
  'cardValue';

export interface CommandSpec {
  code: number; answer: number; errors: number[]; className: string; method: string; summary: string; closes?: boolean;
  request: [string, WireType, string][];
  reply: [string, WireType, string][];
  result?: string;
}
export declare const COMMANDS: readonly CommandSpec[];
export declare const BY_CODE: ReadonlyMap<number, CommandSpec>;

export declare class Writer {
  raw(bytes: Bytes): this; u32(v: number): this; bool(v: boolean): this; blob(bytes: Bytes): this;
  text(s: string): this; ansi(s: string): this; time(t: Partial<SystemTime> | null): this; bytes(): Uint8Array;
}
export declare class Reader {
  constructor(bytes: Bytes, what?: string);
  readonly remaining: number; readonly done: boolean;
  raw(n: number): Uint8Array; u32(): number; i32(): number; bool(): boolean; blob(): Uint8Array;
  text(): string; ansi(): string; time(): SystemTime; rest(): Uint8Array;
}
export declare function toBytes(value: Bytes): Uint8Array;
export declare function encodeRequest(uid: string, command: number, payload?: Bytes): Uint8Array;
export declare function decodeReply(message: Bytes): ReplyEnvelope | null;
export declare function encodePayload(code: number, args?: Record<string, unknown>): Uint8Array;
export declare function decodePayload(code: number, payload: Bytes): Record<string, unknown>;
export declare function resolveValue(command: CommandSpec, fields: Record<string, unknown>): unknown;

// ------------------------------------------------------------------ client

export interface PellamoClientOptions {
  /** ws://127.0.0.1:3000/ by default */
  url?: string;
  /** makes the socket, e.g. (url) => new WebSocket(url, { origin }) with npm ws */
  createSocket?: (url: string) => WebSocket;
  /** milliseconds per command; 0 for none (default 120000) */
  timeout?: number;
  /** milliseconds to open the connection, the browser's permission prompt included; 0 for none (default 60000) */
  connectTimeout?: number;
  /** milliseconds errorText() waits for the catalog (default 5000) */
  errorTextTimeout?: number;
  /** the fetch of status() (default globalThis.fetch) */
  fetch?: typeof fetch;
}

/** What every call takes besides its own arguments. */
export interface CallOptions {
  /** aborts the wait: the call rejects with the signal's reason */
  signal?: AbortSignal;
  /** milliseconds to wait for the reply, 0 for none (default: the client's timeout) */
  timeout?: number;
}

export interface PellamoStatus {
  product: string;
  /** e.g. "1.01.276" */
  version: string;
  variant: string;
  /** e.g. "ws://127.0.0.1:3000" */
  listen: string;
  /** whether a transport server is configured */
  transportServer: boolean;
}

export declare class PellamoConnectionEvent extends Event {
  constructor(type: 'connected' | 'disconnected', url: string, reason?: string);
  readonly type: 'connected' | 'disconnected';
  readonly url: string;
  /** why the connection ended ('' for connected) */
  readonly reason: string;
}

export interface PellamoClientEventMap {
  connected: PellamoConnectionEvent;
  disconnected: PellamoConnectionEvent;
}

export type CardFieldValue =
  | { field: NumericCardField; value: number }
  | { field: TextCardField; value: string };

export declare class PellamoClient extends EventTarget {
  constructor(options?: PellamoClientOptions);
  readonly url: string;
  readonly statusUrl: string;
  readonly connected: boolean;
  timeout: number;
  connectTimeout: number;
  errorTextTimeout: number;

  addEventListener<K extends keyof PellamoClientEventMap>(
    type: K, listener: (event: PellamoClientEventMap[K]) => void, options?: boolean | AddEventListenerOptions): void;
  addEventListener(type: string, listener: EventListenerOrEventListenerObject | null,
    options?: boolean | AddEventListenerOptions): void;
  removeEventListener<K extends keyof PellamoClientEventMap>(
    type: K, listener: (event: PellamoClientEventMap[K]) => void, options?: boolean | EventListenerOptions): void;
  removeEventListener(type: string, listener: EventListenerOrEventListenerObject | null,
    options?: boolean | EventListenerOptions): void;

  connect(options?: { signal?: AbortSignal }): Promise<void>;
  close(): void;
  send(code: number, payload?: Bytes, options?: CallOptions): Promise<ReplyEnvelope>;
  call(code: number, args?: Record<string, unknown> & CallOptions): Promise<unknown>;
  /** Never rejects; without the catalog within `timeout` ms the text is "Ошибка <code>". */
  errorText(code: number, options?: { signal?: AbortSignal; timeout?: number }): Promise<string>;
  status(options?: CallOptions): Promise<PellamoStatus>;
  requireVersion(options: { minimum: string } & CallOptions): Promise<PellamoStatus>;

  setRootCACerts(args: { roots: Bytes } & CallOptions): Promise<void>;
  getErrorList(args?: CallOptions): Promise<Map<number, string>>;
  setCertStore(args: { store: CertStoreKind } & CallOptions): Promise<void>;
  listCertificates(args?: CallOptions): Promise<CertificateRecord[]>;
  authenticate(args: { index: number } & CallOptions): Promise<SignedAuth>;
  startRenewal(args?: CallOptions): Promise<void>;
  buildRenewal(args?: CallOptions): Promise<{
    oldContainer: string; newContainer: string; newContainerName: string; csp: CspKind; packet: Uint8Array;
  }>;
  installRenewedCertificate(
    args: { uuid: string; oldContainer: string; newContainer: string; csp: CspKind } & CallOptions): Promise<void>;
  setCardField(args: { key: string; packetType: PacketTypeKind } & CardFieldValue & CallOptions): Promise<void>;
  attachDocument(args: {
    key: string; packetType: 1 | 7; docType: number; fileName: string; contents: Bytes;
  } & CallOptions): Promise<void>;
  getReleasedCertificate(args: { uuid: string } & CallOptions): Promise<Uint8Array>;
  saveClientCard(args?: CallOptions): Promise<void>;
  loadAuthCertInfo(args?: CallOptions): Promise<ClientCard>;
  lookupRegister(args: { inn: string; subjectType: SubjectTypeKind } & CallOptions): Promise<RegisterValues | null>;
  getCurrentCSP(args?: CallOptions): Promise<CspKind>;
  setRequestedCSP(args: { key: string; packetType: PacketTypeKind; csp: CspKind } & CallOptions): Promise<void>;
  setExtraPurpose(args: { key: string; packetType: 1 | 7; oid: string; add: boolean } & CallOptions): Promise<void>;
  decryptCardPacket(args: { packet: Bytes } & CallOptions): Promise<ClientCard | null>;
  decryptReleasedCertificate(args: { container: string; csp: CspKind; packet: Bytes } & CallOptions):
    Promise<{ response: number; certificate: Uint8Array }>;
  decryptPacketIn(args: { packet: Bytes } & CallOptions): Promise<{ header: Uint8Array; plain: Uint8Array }>;
  encryptSign(args: { header: Bytes; payload: Bytes } & CallOptions): Promise<Uint8Array>;
  decryptVerify(args: { packet: Bytes } & CallOptions): Promise<Uint8Array>;
  signPacket(args: { header: Bytes; payload: Bytes } & CallOptions): Promise<Uint8Array>;
  openEnvelope(args: { envelopeId: string } & CallOptions): Promise<ClientCard>;
  requestCertificate(args: { container: string } & CallOptions):
    Promise<{ envelopeId: string; csp: CspKind; container: string; packet: Uint8Array }>;
  setEnvelopePin(args: { pin: string } & CallOptions): Promise<void>;
  installReleasedCertificate(args: { uuid: string; container: string; csp: CspKind } & CallOptions): Promise<void>;
  buildPartnerCard(args: { key: string } & CallOptions): Promise<Uint8Array>;
  createPartnerCard(args: { key: string } & CallOptions): Promise<void>;
  registerRegionalAbonent(args: { key: string; container: string; text: string } & CallOptions):
    Promise<{ container: string; packet: Uint8Array }>;
  pairWithCA(args: { index: number; reserved?: 0 } & CallOptions): Promise<void>;
  uploadCertificate(args: { certificate: Bytes; container: string; csp: CspKind } & CallOptions): Promise<void>;
}
