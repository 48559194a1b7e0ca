// The demo cabinet: a page that does what a CA cabinet does, built on the
// client library only.
import {
  CSP_NAMES, PacketType, PellamoBlockedError, PellamoClient, PellamoError, PellamoProtocolError,
  PellamoUnreachableError, PellamoVersionError,
} from './pellamo-client.js';
import { CaError, issueEnvelope, postPacket, trustedRoots } from './ca.js';

const $ = (id) => document.getElementById(id);
const params = new URLSearchParams(location.search);
const pellamo = new PellamoClient({ url: params.get('service') ?? 'ws://127.0.0.1:3000/' });
// The kinds the CA's software provider offers here.
const OFFERED_CSPS = [80, 81, 75, 77, 78, 2];
// The oldest program this page works with (?minimum= tries another).
const MINIMUM_VERSION = params.get('minimum') ?? '1.01.276';
const state = { envelopeId: null, card: null, certificates: [], selected: null };

// ------------------------------------------------------------------ helpers

function log(text, kind = 'info') {
  const li = document.createElement('li');
  li.className = kind;
  li.textContent = `${new Date().toLocaleTimeString('ru-RU')}  ${text}`;
  $('log').prepend(li);
}

function showBanner(title, text) {
  $('banner-title').textContent = title;
  $('banner-text').textContent = text;
  $('banner').hidden = false;
  delete $('banner').dataset.kind;
}

function notConnected() {
  $('fact-service').textContent = 'не подключена';
  $('fact-service').className = 'bad';
}

// Every error is shown with the catalog's text; an unreachable program gets
// the explanation of what the user can do.
async function explain(error) {
  if (error instanceof PellamoBlockedError) {
    notConnected();
    showBanner('Браузер блокирует подключение к программе Pellamo',
      'Программе нужно разрешение браузера на доступ к приложениям на этом устройстве. Нажмите значок настроек ' +
      'сайта слева от адреса страницы, разрешите «Приложения на этом устройстве» (в других версиях — «Доступ к ' +
      'локальной сети») и нажмите «Подключиться снова». Организация может разрешить адрес кабинета заранее, для ' +
      'всех сотрудников: политикой браузера LoopbackNetworkAllowedForUrls (в прежних версиях ' +
      'LocalNetworkAccessAllowedForUrls) со списком адресов кабинета.');
    $('banner').dataset.kind = 'blocked';
    log(error.message, 'error');
  } else if (error instanceof PellamoVersionError) {
    showBanner('Обновите программу Pellamo',
      `Установлена версия ${error.installed}, кабинету нужна версия ${error.required} или новее. ` +
      'Обновите программу (меню значка в области уведомлений) и нажмите «Подключиться снова».');
    $('banner').dataset.kind = 'version';
    log(error.message, 'error');
  } else if (error instanceof PellamoUnreachableError) {
    notConnected();
    showBanner('Программа Pellamo недоступна',
      'Запустите программу Pellamo на этом компьютере. Если она запущена, разрешите странице подключение к ' +
      'программам на этом устройстве (значок в адресной строке) или обратитесь в УЦ: адрес кабинета должен ' +
      'быть разрешён в настройках программы.');
    log(error.message, 'error');
  } else if (error instanceof PellamoError) {
    log(`команда ${error.command}: ошибка ${error.code}: ${error.text}`, 'error');
    showBanner(`Ошибка ${error.code}`, error.text);
  } else if (error instanceof CaError) {
    const text = await pellamo.errorText(error.code);
    log(`УЦ: ошибка ${error.code}: ${text} (${error.message})`, 'error');
    showBanner(`Ошибка УЦ ${error.code}`, text);
  } else {
    log(String(error?.message ?? error), 'error');
    showBanner('Ошибка', String(error?.message ?? error));
  }
}

// Runs one user action: disables its button, reports the outcome.
function action(button, fn) {
  return async (event) => {
    event?.preventDefault();
    const target = button ?? event?.submitter;
    if (target) target.disabled = true;
    $('banner').hidden = true;
    try {
      await fn();
    } catch (e) {
      await explain(e);
    } finally {
      if (target) target.disabled = false;
    }
  };
}

async function step(list, text, fn) {
  const li = document.createElement('li');
  li.textContent = text;
  li.className = 'running';
  list.append(li);
  try {
    const out = await fn();
    li.className = 'done';
    return out;
  } catch (e) {
    li.className = 'failed';
    throw e;
  }
}

function cspOptions(select, selected) {
  select.replaceChildren(...OFFERED_CSPS.map((kind) => new Option(`${CSP_NAMES[kind]} (${kind})`, kind, false, kind === selected)));
}

const fmtDate = (t) => (t && t.year ? `${String(t.day).padStart(2, '0')}.${String(t.month).padStart(2, '0')}.${t.year}` : '—');
const subjectWords = ['Юридическое лицо', 'Физическое лицо', 'Индивидуальный предприниматель'];

// --------------------------------------------------------------- the steps

async function connectAndShowFacts() {
  try {
    const status = await pellamo.requireVersion({ minimum: MINIMUM_VERSION });
    $('fact-version').textContent = status.version;
  } catch (e) {
    // A program from before the status check still serves the commands.
    if (!(e instanceof PellamoProtocolError)) throw e;
  }
  await pellamo.connect();
  $('fact-service').textContent = 'подключена';
  $('fact-service').className = 'good';
  const csp = await pellamo.getCurrentCSP();
  $('fact-csp').textContent = `${CSP_NAMES[csp] ?? 'неизвестен'} (${csp})`;
  log(`подключено к ${pellamo.url}; текущий криптопровайдер ${csp}`);
}

async function openEnvelope() {
  const id = $('envelope-id').value.trim();
  const pin = $('envelope-pin').value.trim();
  await pellamo.setEnvelopePin({ pin });
  const card = await pellamo.openEnvelope({ envelopeId: id });
  log(`конверт ${id} открыт: ${card.companyName || card.surname}`);
  state.envelopeId = id;
  state.card = card;
  // The card is kept in the program under the envelope's key, so that the
  // page can change it field by field.
  await pellamo.createPartnerCard({ key: id });
  showCard(card);
  cspOptions($('request-csp'), card.csp);
  cspOptions($('card-csp'), card.csp);
  $('request-container').value = `demo-${id}-${Date.now().toString(36)}`;
  $('card').hidden = false;
  $('request').hidden = false;
  $('card').scrollIntoView({ behavior: 'smooth' });
}

function showCard(card) {
  const a = card.address;
  const p = card.passport;
  const rows = [
    ['Заявитель', subjectWords[card.clientType] ?? card.clientType],
    ['Организация', card.companyName], ['ИНН', card.inn], ['ОГРН', card.ogrn], ['КПП', card.kpp],
    ['ФИО', `${card.surname} ${card.name} ${card.patronymic}`.trim()], ['Должность', card.position],
    ['СНИЛС', card.snils],
    ['Паспорт', `${p.series} ${p.number}, выдан ${fmtDate(p.issueDate)} ${p.issuer}, код ${p.divisionCode}`],
    ['Дата рождения', `${fmtDate(p.birthday)}, ${p.placeOfBirth}`],
    ['Телефон', card.phone], ['Эл. почта', card.email],
    ['Адрес', [a.region, a.city, a.street, a.house && `д. ${a.house}`, a.korpus && `корп. ${a.korpus}`,
      a.apartment && `кв. ${a.apartment}`].filter(Boolean).join(', ')],
    ['Конверт', card.envelopeId], ['Криптопровайдер', `${CSP_NAMES[card.csp] ?? card.csp}`],
    ['Срок действия', card.period?.kind === 1 ? `${card.period.months} мес.` : card.period?.kind === 2 ? `до ${fmtDate(card.period.endDate)}` : '—'],
    ['Доп. назначения', card.purposes.length ? card.purposes.join(', ') : 'нет'],
  ];
  $('card-view').replaceChildren(...rows.flatMap(([k, v]) => {
    const dt = document.createElement('dt');
    dt.textContent = k;
    const dd = document.createElement('dd');
    dd.textContent = v || '—';
    return [dt, dd];
  }));
  $('card-attachments').replaceChildren(...(card.attachments.length ? card.attachments : [null]).map((att) => {
    const li = document.createElement('li');
    li.textContent = att ? `${att.fileName} (${att.contents.length} байт, тип ${att.docType})` : 'нет документов';
    return li;
  }));
  const form = $('card-edit');
  for (const input of form.querySelectorAll('input[data-field]')) {
    input.value = card[input.name] ?? card.address[input.name] ?? '';
  }
}

async function saveCard() {
  const key = state.envelopeId;
  const form = $('card-edit');
  let changed = 0;
  for (const input of form.querySelectorAll('input[data-field]')) {
    await pellamo.setCardField({ key, packetType: PacketType.card, field: Number(input.dataset.field), value: input.value });
    if (input.name in state.card) state.card[input.name] = input.value;
    else state.card.address[input.name] = input.value;
    changed += 1;
  }
  await pellamo.setRequestedCSP({ key, packetType: PacketType.card, csp: Number($('card-csp').value) });
  for (const box of document.querySelectorAll('.purposes input')) {
    await pellamo.setExtraPurpose({ key, packetType: PacketType.card, oid: box.value, add: box.checked });
  }
  const file = $('attachment-file').files[0];
  if (file) {
    const contents = new Uint8Array(await file.arrayBuffer());
    const docType = Number($('attachment-type').value);
    await pellamo.attachDocument({ key, packetType: PacketType.card, docType, fileName: file.name, contents });
    state.card.attachments.push({ docType, fileName: file.name, contents });
    $('attachment-file').value = '';
    log(`документ ${file.name} приложен (${contents.length} байт)`);
  }
  showCard(state.card);
  log(`карточка: ${changed} полей сохранено`);
  $('card-saved').hidden = false;
  setTimeout(() => ($('card-saved').hidden = true), 2500);
}

// The CA may not have answered yet (23): ask again a few times.
async function untilAnswered(fn, tries = 10) {
  for (let i = 1; ; ++i) {
    try {
      return await fn();
    } catch (e) {
      if (!(e instanceof PellamoError) || e.code !== 23 || i >= tries) throw e;
      await new Promise((resolve) => setTimeout(resolve, 1500));
    }
  }
}

async function requestCertificate() {
  const list = $('request-progress');
  list.replaceChildren();
  const csp = Number($('request-csp').value);
  await step(list, `Криптопровайдер: ${CSP_NAMES[csp]}`, () =>
    pellamo.setRequestedCSP({ key: state.envelopeId, packetType: PacketType.card, csp }));
  const req = await step(list, 'Создание ключа и запроса PKCS#10', () =>
    pellamo.requestCertificate({ container: $('request-container').value }));
  log(`запрос готов: контейнер ${req.container}, пакет ${req.packet.length} байт`);
  const uuid = await step(list, 'Отправка запроса в УЦ', () => postPacket('/api/client/setRequestToCert', req.packet));
  log(`УЦ принял запрос, ответ ${uuid}`);
  await step(list, 'Получение и установка сертификата', () =>
    untilAnswered(() => pellamo.installReleasedCertificate({ uuid, container: req.container, csp: req.csp })));
  log('сертификат установлен в контейнер и в личное хранилище', 'good');
  await listCertificates();
  $('certs').scrollIntoView({ behavior: 'smooth' });
}

async function listCertificates() {
  await pellamo.setRootCACerts({ roots: await trustedRoots() });
  await pellamo.setCertStore({ store: 0 });
  const certs = await pellamo.listCertificates();
  state.certificates = certs;
  const rows = certs.map((c) => {
    const tr = document.createElement('tr');
    const cells = [c.commonName, c.person.trim() || '—', c.validTo, c.statusText];
    for (const text of cells) {
      const td = document.createElement('td');
      td.textContent = text;
      tr.append(td);
    }
    tr.children[3].className = c.acceptable ? 'good' : 'bad';
    const td = document.createElement('td');
    const button = document.createElement('button');
    button.type = 'button';
    button.textContent = 'Войти';
    button.className = 'small';
    button.disabled = !c.acceptable;
    button.addEventListener('click', action(button, () => authenticate(c)));
    td.append(button);
    tr.append(td);
    return tr;
  });
  $('cert-table').tBodies[0].replaceChildren(...rows);
  $('certs-empty').hidden = certs.length > 0;
  $('certs-empty').textContent = 'В хранилище нет сертификатов.';
  log(`сертификатов в хранилище: ${certs.length}`);
}

async function authenticate(cert) {
  const auth = await pellamo.authenticate({ index: cert.index });
  state.selected = cert;
  const csp = await pellamo.getCurrentCSP();
  $('fact-csp').textContent = `${CSP_NAMES[csp] ?? 'неизвестен'} (${csp})`;
  const card = await pellamo.loadAuthCertInfo().catch(() => null);
  const box = $('auth-result');
  box.replaceChildren();
  const title = document.createElement('strong');
  title.textContent = `Вход выполнен: ${cert.commonName}`;
  const text = document.createElement('p');
  text.textContent = `Сертификат ${auth.certificate.length} байт, подпись ${auth.signature.length} байт.` +
    (card ? ` Владелец по сертификату: ${card.surname} ${card.name} ${card.patronymic}, ИНН ${card.inn}.` : '');
  box.append(title, text);
  box.hidden = false;
  $('renew').hidden = false;
  $('card-register').disabled = !state.envelopeId;
  log(`вход по сертификату ${cert.index}: ${cert.commonName}`, 'good');
}

async function renew() {
  const list = $('renew-progress');
  list.replaceChildren();
  await step(list, 'Начало продления', () => pellamo.startRenewal());
  const r = await step(list, 'Создание нового ключа и запроса', () => pellamo.buildRenewal());
  log(`продление: старый контейнер ${r.oldContainer}, новый ${r.newContainer}`);
  const uuid = await step(list, 'Отправка запроса в УЦ', () => postPacket('/api/client/setRequestProlongKey', r.packet));
  await step(list, 'Получение и установка нового сертификата', () => untilAnswered(() =>
    pellamo.installRenewedCertificate({ uuid, oldContainer: r.oldContainer, newContainer: r.newContainer, csp: r.csp })));
  log('новый сертификат установлен', 'good');
  await listCertificates();
}

// The partner card kept in the program goes to the CA as a card registration,
// signed with the key of the certificate the user logged in with.
async function registerCard() {
  const packet = await pellamo.buildPartnerCard({ key: state.envelopeId });
  const uuid = await postPacket('/api/partner/setClientInfo', packet);
  log(`карточка отправлена в УЦ (${packet.length} байт), ответ ${uuid}`, 'good');
}

// ---------------------------------------------------------------- wiring

cspOptions($('envelope-csp'), 80);
$('issue-envelope').addEventListener('click', action($('issue-envelope'), async () => {
  const { id, pin } = await issueEnvelope(Number($('envelope-csp').value));
  $('envelope-id').value = id;
  $('envelope-pin').value = pin;
  log(`тестовый УЦ выпустил конверт ${id}, PIN ${pin}`);
}));
$('open-envelope').addEventListener('submit', action(null, openEnvelope));
$('card-edit').addEventListener('submit', action(null, saveCard));
$('card-register').addEventListener('click', action($('card-register'), registerCard));
$('request-form').addEventListener('submit', action(null, requestCertificate));
$('list-certs').addEventListener('click', action($('list-certs'), listCertificates));
$('renew-start').addEventListener('click', action($('renew-start'), renew));
$('reconnect').addEventListener('click', action($('reconnect'), connectAndShowFacts));
action(null, connectAndShowFacts)();
