#include "errors/CError.h"

#include "core/TextConvert.h"

namespace {

struct ErrorText {
    eErrCodes code;
    const char* utf8;
};

// Written here in UTF-8; the catalog holds them converted to CP1251. Code 32
// deliberately begins with a Latin "C": readers compare the text byte for byte.
constexpr ErrorText kErrorTexts[] = {
    {ERR_INTERNAL, "Произошла внутренняя ошибка."},
    {ERR_FILE_OPEN, "Не удалось открыть файл."},
    {ERR_CSP_NOT_INITIALIZED, "Инициализация криптопровайдера не выполнена."},
    {ERR_CRYPTO_LIBRARY_NOT_FOUND, "Не удалось найти библиотеку криптографии."},
    {ERR_PACKET_LOADER_INIT, "Не удалось инициализировать обработчик загрузки пакетов."},
    {ERR_UNKNOWN_HEADER, "Пакет данных повреждён.\n"
         "Неизвестный заголовок."},
    {ERR_SESSION_KEY, "Ошибка создания сессионного ключа."},
    {ERR_KEY_AGREEMENT, "Ошибка согласования ключей.\n"
         "Проверьте установленные сертификаты."},
    {ERR_PACKET_INTEGRITY, "Нарушена целостность пакета"},
    {ERR_IMPORT_PEER_PUBLIC_KEY, "Не удалось импортировать открытый ключ второй строны."},
    {ERR_DECRYPT, "Невозможно расшифровать пакет."},
    {ERR_SIGN, "Невозможно подписать пакет."},
    {ERR_ENCRYPT, "Невозможно зашифровать пакет."},
    {ERR_CREATE_KEY_PAIR, "Не удалось создать ключевую пару."},
    {ERR_LOAD_KEY_PAIR, "Не удалось загрузить ключевую пару."},
    {ERR_KEY_PAIR_NOT_FOUND, "Не найдена ключевая пара."},
    {ERR_MORE_THAN_ONE_KEY_PAIR, "Найдено более одной ключевой пары."},
    {ERR_SERVER_UNREACHABLE, "Не удаётся связаться с сервером УЦ."},
    {ERR_SERVER_ACCESS_DENIED, "Сервер УЦ отказал в доступе."},
    {ERR_PACKET_DAMAGED, "Пакет данных повреждён."},
    {ERR_SERVER_TRANSFER, "Произошла ошибка при передаче данных на сервер УЦ."},
    {ERR_SERVER_INTERNAL, "Произошла внутренняя ошибка на сервере УЦ."},
    {ERR_REQUEST_NOT_REVIEWED, "Ваш запрос пока не рассмотрен."},
    {ERR_MORE_THAN_ONE_ANSWER, "Найдено более одного ответа на Ваш запрос."},
    {ERR_PACKET_TOO_LARGE, "Слишком большой размер пакета."},
    {ERR_WRONG_ENVELOPE, "Неверный номер конверта."},
    {ERR_MORE_THAN_ONE_ENVELOPE, "Найдено более одного конверта с таким номером."},
    {ERR_ENVELOPE_ACTIVATED, "Запрос содержит номер конверта, который уже активирован."},
    {ERR_ENVELOPE_BLOCKED, "Запрос содержит номер конверта, который заблокирован."},
    {ERR_CARD_NOT_ACCEPTED_YET, "УЦ еще не принял карточку клиента с этим конвертом.\n"
         "Повторите попытку позже."},
    {ERR_ENVELOPE_OTHER_CARD, "Запрос содержит номер конверта, к которому привязана\n"
         "другая карточка."},
    {ERR_SERVER_UNKNOWN_CODE, "Cервер УЦ сообщил неизвестный код ошибки."},
    {ERR_SERVER_DATABASE, "Соединение с базой данных УЦ нарушено."},
    {ERR_REQUEST_HAS_ERRORS, "Запрос содержит ошибки и будет отклонен."},
    {ERR_REQUEST_ALREADY_PROCESSED, "Запрос уже был обработан."},
    {ERR_CERT_STORE_OPEN, "Не удаётся подключиться к хранилищу сертификатов."},
    {ERR_ADD_YOUR_CERTIFICATE, "Для начала работы добавьте Ваш сертификат."},
    {ERR_CERT_NOT_IN_STORE, "Ваш сертификат не найден в хранилище."},
    {ERR_PRIVATE_KEY_NOT_FOUND, "Для выбранного сертификата не найден закрытый ключ.\n"
         "Переустановите сертификат."},
    {ERR_CA_CERT_NOT_FOUND, "Не найден сертификат УЦ."},
    {ERR_CA_CERT_INSTALL, "Не удалось установить сертификат УЦ."},
    {ERR_CERT_DAMAGED, "Сертификат повреждён."},
    {ERR_CERT_NOT_RECEIVED, "Сертификат пока не получен из УКЦ."},
    {ERR_CARD_DAMAGED, "Карточка клиента повреждена."},
    {ERR_CARD_UPDATE, "Не удалось обновить карточку клиента."},
    {ERR_CARD_VERSION_UNSUPPORTED, "Версия формата карточки не поддерживается."},
    {ERR_CARD_VERSION_OUTDATED, "Версия формата карточки устарела."},
    {ERR_CARD_TOO_LARGE, "Превышен максимальный размер карточки клиента."},
    {ERR_INVALID_INN, "Введенный ИНН не валиден."},
    {ERR_INVALID_OGRN, "Введенный ОГРН не валиден."},
    {ERR_INVALID_KPP, "Введенный КПП не валиден."},
    {ERR_INVALID_SNILS, "Введенный СНИЛС не валиден."},
    {ERR_INVALID_COMPANY_NAME, "Ошибка в названии организации."},
    {ERR_CONTACT_NAME_EMPTY, "Заполните ФИО контактного лица."},
    {ERR_CONTACT_POSITION_EMPTY, "Заполните должность контактного лица."},
    {ERR_CONTACT_INFO_INCOMPLETE, "Заполнена не вся контактная информация."},
    {ERR_INVALID_PASSPORT, "Данные паспорта не верны."},
    {ERR_SELECT_TABLE_ROW, "Выберите запись в таблице."},
    {ERR_INVALID_ENVELOPE_ID, "Введенный идентификатор конверта не валиден."},
    {ERR_WRONG_ENVELOPE_PIN, "Введен неверный пароль из конверта."},
    {ERR_INVALID_CSP, "Некорректный криптопровайдер."},
    {ERR_INVALID_EMAIL, "Email не валиден."},
    {ERR_INVALID_CA_ADDRESS, "Адрес УЦ не валиден."},
    {ERR_ADD_PARTNER, "Не удалось добавить партнёра в базу."},
    {ERR_PARTNER_EXISTS, "Партнёр с таким ключом уже есть в базе."},
    {ERR_KEY_NOT_PARTNERS, "Открытый ключ не принадлежит партнеру.\n"
         "Проверьте ключ в базе партнёров."},
    {ERR_PARTNER_BLOCKED, "Открытый ключ принадлежит партнеру,\n"
         "который заблокирован."},
    {ERR_BUILD_CERT_REQUEST, "Не удалось сформировать запрос на сертификат"},
    {ERR_CONTAINER_NOT_CREATED, "Новый контейнер ключей не был создан."},
    {ERR_CONTAINER_OPEN, "Не удалось открыть контейнер ключей."},
    {ERR_CONTAINER_ADD_CERT, "Не удалось добавить сертификат в контейнер ключей."},
    {ERR_DEFAULT_PIN_REJECTED, "Пин-код по умолчанию для устройства не подходит."},
    {ERR_DEVICE_NOT_FOUND, "Устройство не обнаружено. Попробуйте переподключить."},
    {ERR_PROGRAM_OUTDATED, "Ваша версия программы устарела.\n"
         "Требуется обновление."},
    {ERR_PROGRAM_NEWER_THAN_SERVER, "Ваша версия программы старше, чем на сервере."},
    {ERR_UPDATE_FAILED, "Обновление произошло с ошибкой."},
    {ERR_INPUT_TOO_LONG, "Превышено максимальное число символов ввода"},
    {ERR_SETTINGS_DAMAGED, "Файл настроек программы поврежден"},
    {ERR_PACKET_LIST_SETTINGS_DAMAGED, "Повреждены настройки списка пакетов программы"},
    {ERR_NO_REJECT_REASON, "Не указана причина отказа"},
    {ERR_CARD_EXPORT, "Не удалось экспортировать карточку клиента"},
    {ERR_CHAIN_CHECK, "Не удалось проверить цепочку сертификатов"},
    {ERR_CHAIN_EXPIRED, "Срок действия одного из сертификатов в цепочке истёк"},
    {ERR_CHAIN_REVOKED, "Один из сертификатов в цепочке отозван"},
};

constexpr const char* kUnknownErrorUtf8 = "Неизвестная ошибка";

}  // namespace

CError* pGlbError = &CError::instance();

CError& CError::instance() {
    // Created exactly once even when two threads arrive first at the same
    // time, and never destroyed: service threads may still be running a
    // command while the process exits.
    static CError* const catalog = new CError();
    return *catalog;
}

CError::CError() { init(); }

int CError::init() {
    if (!m_errors.empty()) return 0;
    for (const ErrorText& e : kErrorTexts) push(e.code, tesel::convertFromUTF8(e.utf8));
    return 0;
}

void CError::push(eErrCodes code, const std::string& text) { m_errors.emplace(code, text); }

std::string CError::getText(eErrCodes code) const {
    auto it = m_errors.find(code);
    if (it != m_errors.end()) return it->second;
    static const std::string* const unknown = new std::string(tesel::convertFromUTF8(kUnknownErrorUtf8));
    return *unknown;
}

std::string CError::getText(int code) const { return getText(static_cast<eErrCodes>(code)); }

std::map<eErrCodes, std::string> CError::getMapErrors() const { return m_errors; }

std::string getErrorText(int code) {
    // Another translation unit's static initialisation may ask before
    // pGlbError is set.
    const CError& catalog = pGlbError ? *pGlbError : CError::instance();
    return catalog.getText(code);
}
