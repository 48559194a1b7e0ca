#include "transport/common/PackageType.h"

#include <iterator>

#include "core/TextConvert.h"

namespace tesel {

namespace {

// Written here in UTF-8; handed out in CP1251 like every narrow text.
constexpr const char* kPackageTypeNames[] = {
    "Неопределён",
    "Карточка",
    "Ответ на регистрацию карточки",
    "Карточка-ответ",
    "PKCS#10",
    "Сертификат",
    "Смена email",
    "Продление",
    "Продление-Ответ",
    "Карточка КА",
    "Ответ на карточку КА",
};

}  // namespace

std::string getPackageTypeName(PackageType type) {
    const auto index = static_cast<unsigned>(type);
    if (index >= std::size(kPackageTypeNames)) return {};
    return convertFromUTF8(kPackageTypeNames[index]);
}

// CP1251 bytes so that the table needs no conversion at start-up:
// "Quorin", "Quorin", "Quorin. Партнёр", "Quorin. УЦ", "Pellamo Plugin".
const char* const eQuorinString[5] = {
    "Quorin",
    "Quorin",
    "Quorin. \xCF\xE0\xF0\xF2\xED\xB8\xF0",
    "Quorin. \xD3\xD6",
    "Pellamo Plugin",
};

std::string getQuorinName(eQuorinType type) {
    const auto index = static_cast<unsigned>(type);
    if (index >= std::size(eQuorinString)) return eQuorinString[0];
    return eQuorinString[index];
}

}  // namespace tesel
