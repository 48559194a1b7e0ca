#include "errors/CMsg.h"

#include "core/TextConvert.h"

namespace {

struct MsgText {
    eMsgCode code;
    const char* utf8;
};

// Written here in UTF-8; the catalog holds them converted to CP1251.
constexpr MsgText kMsgTexts[] = {
    {MSG_CARD_SAVED, "Карточка клиента сохранена в базе."},
    {MSG_CARD_REGISTERED, "Карточка зарегистрирована на сервере."},
    {MSG_CERT_REQUEST_REGISTERED, "Запрос на сертификат зарегистрирован на сервере."},
    {MSG_PROLONG_REQUEST_REGISTERED, "Запрос на продление ключа зарегистрирован на сервере."},
    {MSG_PARTNER_ADDED, "Новый партнёр добавлен в базу."},
    {MSG_PARTNER_REMOVED, "Партнёр удалён из базы."},
    {MSG_PARTNER_REQUEST_REJECTED, "Партнёрский запрос будет отклонён."},
    {MSG_REQUEST_CONFIRMED, "Запрос успешно подтвержден."},
    {MSG_ANSWER_NOT_REGISTERED, "Не удалось зарегистрировать ответ."},
    {MSG_CONTAINER_CREATED, "Создан новый ключевой контейнер."},
    {MSG_CONTAINER_SELECTED, "Выбран существующий ключевой контейнер."},
    {MSG_CHOOSE_CSP, "Для начала работы программы выберите криптопровайдер в настройках."},
    {MSG_CERT_REQUEST_SENT, "Запрос на сертификат направлен в УКЦ."},
    {MSG_CERT_RECEIVED, "Получен сертификат из УКЦ."},
    {MSG_CERT_INSTALLED_TO_CONTAINER, "Сертфикат загружен и успешно установлен в контейнер."},
    {MSG_CERT_ALREADY_INSTALLED, "Ваш сертификат уже установлен."},
    {MSG_CERT_LOADED, "Ваш сертификат успешно загружен."},
    {MSG_LATEST_VERSION, "Вы уже используете самую последнюю версию."},
    {MSG_UPDATE_DOWNLOADED, "Обновление загружено. Требуется перезапуск программы"},
    {MSG_KEYS_EXPORTED, "Список ключей для 1С успешно выгружен."},
    {MSG_SETTINGS_SAVED, "Настройки сохранены."},
    {MSG_TWO_CONTAINERS, "Сейчас будут сгенерированы 2 контейнера ключей.\n"
         "Первый - временный. Он нужен для связи с сервером УЦ и будет удалён после получения сертификата.\n"
         "Второй - ваш новый ключ по ГОСТ Р 34.10-2012"},
};

constexpr const char* kUnknownMsgUtf8 = "Неопределённое уведомление";

}  // namespace

CMsg* pGlbMsg = &CMsg::instance();

CMsg& CMsg::instance() {
    // Created exactly once even when two threads arrive first at the same
    // time, and never destroyed: service threads may still be running a
    // command while the process exits.
    static CMsg* const catalog = new CMsg();
    return *catalog;
}

CMsg::CMsg() { init(); }

int CMsg::init() {
    if (!m_messages.empty()) return 0;
    for (const MsgText& e : kMsgTexts) push(e.code, tesel::convertFromUTF8(e.utf8));
    return 0;
}

void CMsg::push(eMsgCode code, const std::string& text) { m_messages.emplace(code, text); }

std::string CMsg::getText(eMsgCode code) const {
    auto it = m_messages.find(code);
    if (it != m_messages.end()) return it->second;
    static const std::string* const unknown = new std::string(tesel::convertFromUTF8(kUnknownMsgUtf8));
    return *unknown;
}

std::string CMsg::getText(int code) const { return getText(static_cast<eMsgCode>(code)); }

std::map<eMsgCode, std::string> CMsg::getMapMessages() const { return m_messages; }

std::string getMsgText(int code) {
    // Another translation unit's static initialisation may ask before
    // pGlbMsg is set.
    const CMsg& catalog = pGlbMsg ? *pGlbMsg : CMsg::instance();
    return catalog.getText(code);
}
