// Type declarations of pellamo-client.js.

export declare const DEFAULT_URL: string;

export type Bytes = Uint8Array | ArrayBuffer | ArrayBufferView | number[];

/** A command answered with a non-zero result code; text is the catalog's. */
export declare class PellamoError extends Error {
  readonly name: 'PellamoError';
  readonly code: number;
  readonly text: string;
  readonly command: number;
}

/** The service is not running, or refused the connection (for example because the page's origin is not allowed). */
export declare class PellamoUnreachableError extends Error {
  readonly name: 'PellamoUnreachableError';
  readonly code: 'UNREACHABLE';
  readonly url: string;
}

/** The connection ended before the reply came, the command is unknown to the service, or a reply was damaged. */
export declare class PellamoProtocolError extends Error {
  readonly name: 'PellamoProtocolError';
  readonly code: 'PROTOCOL';
  readonly command?: number;
}

export declare const CertStore: { readonly personal: 0; readonly jacarta: 1; readonly rutoken: 2 };
export declare const SubjectType: { readonly legalEntity: 0; readonly naturalPerson: 1; readonly entrepreneur: 2 };
export declare const PacketType: { readonly card: 1; readonly renewal: 7; readonly regionalCard: 9 };
export declare const CSP: Readonly<Record<string, number>>;
export declare const CSP_NAMES: Readonly<Record<number, string>>;
export declare const CardField: Readonly<Record<string, number>>;
export declare const CertStatus: Readonly<Record<string, number>>;
export declare const EGRUL_FIELDS: readonly string[];
export declare const WIRE_TYPES: Readonly<Record<string, string>>;
export declare const CARD_VERSION: 106;

export declare function isAcceptableStatus(status: number): boolean;
export declare function describeStatus(status: number): string;
export declare function decodeCp1251(bytes: Uint8Array): string;
export declare function encodeCp1251(text: string): Uint8Array;

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

/** Kind 1: a number of months (decimal text); kind 2: an end date. */
export type ValidityPeriod = { kind: 1; months: string } | { kind: 2; endDate: SystemTime } | { kind: number };

export interface Attachment { docType: number; fileName: string; contents: Uint8Array }

export interface ClientCard {
  version: number;
  clientType: number;
  withoutStamp: boolean;
  inn: string; ogrn: string; kpp: string; companyName: string;
  surname: string; name: string; patronymic: string; snils: string; position: string;
  passport: Passport;
  phone: string; email: string;
  address: Address;
  comment: string;
  envelopeId: string;
  template: number;
  csp: number;
  period: ValidityPeriod | null;
  /** Added purposes as OID texts (web form). */
  purposes: string[];
  /** Added purposes as purpose numbers (CA form). */
  purposeIds: number[];
  attachments: Attachment[];
}

export declare function emptyCard(): ClientCard;
export declare function decodeCard(bytes: Bytes, options?: { form?: 'web' | 'ca' }): ClientCard;
export declare function encodeCard(card: Partial<ClientCard>, options?: { form?: 'web' | 'ca' }): Uint8Array;

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

export interface CommandSpec {
  code: number; answer: number; errors: number[]; className: string; method: string; summary: string; closes?: boolean;
  request: [string, string, string][];
  reply: [string, string, string][];
  result?: string;
}
export declare const COMMANDS: readonly CommandSpec[];

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
export declare function encodeRequest(uid: string, command: number, payload?: Bytes): Uint8Array;
export declare function decodeReply(message: Bytes): ReplyEnvelope | null;
export declare function encodePayload(code: number, args?: Record<string, unknown>): Uint8Array;
export declare function decodePayload(code: number, payload: Bytes): Record<string, unknown>;

export interface PellamoClientOptions {
  /** ws://127.0.0.1:3000/ by default */
  url?: string;
  /** makes the socket, e.g. (url) => new WebSocket(url, { origin }) with npm ws */
  createSocket?: (url: string) => WebSocket;
  /** milliseconds per command; 0 for none (default 120000) */
  timeout?: number;
  /** milliseconds to open the connection (default 5000) */
  connectTimeout?: number;
}

export declare class PellamoClient {
  constructor(options?: PellamoClientOptions);
  readonly url: string;
  readonly connected: boolean;
  connect(): Promise<void>;
  close(): void;
  send(code: number, payload?: Bytes): Promise<ReplyEnvelope>;
  call(code: number, args?: Record<string, unknown>): Promise<unknown>;
  errorText(code: number): Promise<string>;

  setRootCACerts(roots: Bytes): Promise<void>;
  getErrorList(): Promise<Map<number, string>>;
  setCertStore(store: number): Promise<void>;
  listCertificates(): Promise<CertificateRecord[]>;
  authenticate(index: number): Promise<SignedAuth>;
  startRenewal(): Promise<void>;
  buildRenewal(): Promise<{ oldContainer: string; newContainer: string; newContainerName: string; csp: number; packet: Uint8Array }>;
  installRenewedCertificate(uuid: string, oldContainer: string, newContainer: string, csp: number): Promise<void>;
  installRenewedCertificate(args: { uuid: string; oldContainer: string; newContainer: string; csp: number }): Promise<void>;
  setCardField(key: string, packetType: number, field: number, value: string | number): Promise<void>;
  setCardField(args: { key: string; packetType: number; field: number; value: string | number }): Promise<void>;
  attachDocument(key: string, packetType: number, docType: number, fileName: string, contents: Bytes): Promise<void>;
  attachDocument(args: { key: string; packetType: number; docType: number; fileName: string; contents: Bytes }): Promise<void>;
  getReleasedCertificate(uuid: string): Promise<Uint8Array>;
  saveClientCard(): Promise<void>;
  loadAuthCertInfo(): Promise<ClientCard>;
  lookupRegister(inn: string, subjectType: number): Promise<RegisterValues | null>;
  getCurrentCSP(): Promise<number>;
  setRequestedCSP(key: string, packetType: number, csp: number): Promise<void>;
  setRequestedCSP(args: { key: string; packetType: number; csp: number }): Promise<void>;
  setExtraPurpose(key: string, packetType: number, oid: string, add: number): Promise<void>;
  setExtraPurpose(args: { key: string; packetType: number; oid: string; add: number }): Promise<void>;
  decryptCardPacket(packet: Bytes): Promise<ClientCard | null>;
  decryptReleasedCertificate(container: string, csp: number, packet: Bytes): Promise<{ response: number; certificate: Uint8Array }>;
  decryptPacketIn(packet: Bytes): Promise<{ header: Uint8Array; plain: Uint8Array }>;
  encryptSign(header: Bytes, payload: Bytes): Promise<Uint8Array>;
  decryptVerify(packet: Bytes): Promise<Uint8Array>;
  signPacket(header: Bytes, payload: Bytes): Promise<Uint8Array>;
  openEnvelope(envelopeId: string): Promise<ClientCard>;
  requestCertificate(container: string): Promise<{ envelopeId: string; csp: number; container: string; packet: Uint8Array }>;
  setEnvelopePin(pin: string): Promise<void>;
  installReleasedCertificate(uuid: string, container: string, csp: number): Promise<void>;
  installReleasedCertificate(args: { uuid: string; container: string; csp: number }): Promise<void>;
  buildPartnerCard(key: string): Promise<Uint8Array>;
  createPartnerCard(key: string): Promise<void>;
  registerRegionalAbonent(key: string, container: string, text: string): Promise<{ container: string; packet: Uint8Array }>;
  pairWithCA(index: number, reserved?: number): Promise<void>;
  uploadCertificate(certificate: Bytes, container: string, csp: number): Promise<void>;
  uploadCertificate(args: { certificate: Bytes; container: string; csp: number }): Promise<void>;
}
