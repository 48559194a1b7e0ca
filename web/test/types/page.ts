// A cabinet page written against the declarations, type-checked with
// `tsc --strict` (test/types.test.mjs). Every call is a real one; the
// expected errors at the end are mistakes the declarations must catch.
import {
  CSP, CardField, CertStatus, CertStore, PacketType, PellamoBlockedError, PellamoClient, PellamoError,
  PellamoUnreachableError, PellamoVersionError, compareVersions, decodeCard, describeStatus, encodeCard,
  isAcceptableStatus, loopbackPermission,
} from '../../pellamo-client.js';
import type { CertificateRecord, ClientCard, CspKind, PellamoStatus } from '../../pellamo-client.js';

declare function postToCA(path: string, packet: Uint8Array): Promise<string>;
declare function show(text: string): void;

export async function page(envelopeId: string, pin: string): Promise<void> {
  const pellamo = new PellamoClient({ connectTimeout: 120000, errorTextTimeout: 2000 });
  pellamo.addEventListener('connected', (e) => show(`connected to ${e.url}`));
  pellamo.addEventListener('disconnected', (e) => show(e.reason));
  const abort = new AbortController();

  const permission = await loopbackPermission();
  if (permission?.state === 'prompt') show('the browser will ask');

  try {
    const status: PellamoStatus = await pellamo.requireVersion({ minimum: '1.01.276', signal: abort.signal });
    const newer: boolean = compareVersions(status.version, '1.01.300') >= 0 && status.transportServer;
    show(`${status.product} ${status.variant} ${status.listen} ${newer}`);

    await pellamo.setEnvelopePin({ pin });
    const card: ClientCard = await pellamo.openEnvelope({ envelopeId, signal: abort.signal });
    await pellamo.createPartnerCard({ key: envelopeId });
    await pellamo.setCardField({ key: envelopeId, packetType: PacketType.card, field: CardField.surname, value: 'Петров' });
    await pellamo.setCardField({ key: envelopeId, packetType: PacketType.card, field: CardField.clientType, value: 1 });
    await pellamo.setExtraPurpose({ key: envelopeId, packetType: PacketType.card, oid: '1.2.643.6.7', add: true });
    await pellamo.attachDocument({
      key: envelopeId, packetType: PacketType.card, docType: 1, fileName: 'скан.pdf', contents: new Uint8Array(3),
    });
    await pellamo.setRequestedCSP({ key: envelopeId, packetType: PacketType.card, csp: CSP.cryptopro2012_256 });
    const kind: CspKind = card.csp;
    const req = await pellamo.requestCertificate({ container: 'my-key', timeout: 30000 });
    const uuid = await postToCA('/api/client/setRequestToCert', req.packet);
    await pellamo.installReleasedCertificate({ uuid, container: req.container, csp: req.csp ?? kind });

    await pellamo.setRootCACerts({ roots: new Uint8Array(4) });
    await pellamo.setCertStore({ store: CertStore.personal });
    const certs: CertificateRecord[] = await pellamo.listCertificates({ signal: abort.signal });
    const usable = certs.filter((c) => isAcceptableStatus(c.status) && (c.status & CertStatus.revoked) === 0);
    show(describeStatus(usable[0]?.status ?? CertStatus.ok));
    const auth = await pellamo.authenticate({ index: certs[0].index });
    show(`${auth.signature.length}`);
    const owner: ClientCard = await pellamo.loadAuthCertInfo();
    show(owner.inn);
    const current: CspKind = await pellamo.getCurrentCSP();
    show(`${current}`);

    await pellamo.startRenewal();
    const renewal = await pellamo.buildRenewal();
    const renewalUuid = await postToCA('/api/client/setRequestProlongKey', renewal.packet);
    await pellamo.installRenewedCertificate({
      uuid: renewalUuid, oldContainer: renewal.oldContainer, newContainer: renewal.newContainer, csp: renewal.csp,
    });

    const register = await pellamo.lookupRegister({ inn: '5032149676', subjectType: 0 });
    show(register?.fullName ?? '');
    const packet = await pellamo.encryptSign({ header: new Uint8Array(8), payload: [1, 2, 3] });
    const plain: Uint8Array = await pellamo.decryptVerify({ packet });
    const opened = await pellamo.decryptPacketIn({ packet });
    show(`${plain.length} ${opened.header.length}`);
    await pellamo.pairWithCA({ index: 0 });
    const catalog: Map<number, string> = await pellamo.getErrorList();
    show(catalog.get(61) ?? (await pellamo.errorText(61, { timeout: 1000 })));
    show(`${decodeCard(encodeCard({ surname: 'Иванов', address: { city: 'Москва' } })).surname}`);

    // @ts-expect-error: arguments are named, never positional
    await pellamo.openEnvelope(envelopeId);
    // @ts-expect-error: a flag is a boolean
    await pellamo.setExtraPurpose({ key: envelopeId, packetType: 1, oid: '1.2.643.6.7', add: 1 });
    // @ts-expect-error: 79 is no CSP kind
    await pellamo.setRequestedCSP({ key: envelopeId, packetType: 1, csp: 79 });
    // @ts-expect-error: the client type field takes a number
    await pellamo.setCardField({ key: envelopeId, packetType: 1, field: CardField.clientType, value: '1' });
    // @ts-expect-error: 3 is no packet type
    await pellamo.setCardField({ key: envelopeId, packetType: 3, field: CardField.inn, value: '5032149676' });
    // @ts-expect-error: the store is 0, 1 or 2
    await pellamo.setCertStore({ store: 5 });
    // @ts-expect-error: the container is required
    await pellamo.requestCertificate({});
  } catch (e) {
    if (e instanceof PellamoBlockedError) show(`allow ${e.permission}`);
    else if (e instanceof PellamoUnreachableError) show(`${e.code} ${e.permissionState ?? 'no permission check'}`);
    else if (e instanceof PellamoVersionError) show(`update from ${e.installed} to ${e.required}`);
    else if (e instanceof PellamoError) show(`${e.code}: ${e.text} (${e.command})`);
    else throw e;
  } finally {
    abort.abort();
    pellamo.close();
  }
}
