#include "server/dispatch/processPacket.h"

#include <iterator>
#include <memory>
#include <string>
#include <utility>

#include "server/CWebPacket.h"
#include "server/eCommand.h"
#include "webpackets/CAuthWebPacket.h"
#include "webpackets/CCertListWebPacket.h"
#include "webpackets/CDecryptPacketInWebPacket.h"
#include "webpackets/CDecryptRawQnCardWebPacket.h"
#include "webpackets/CDecryptVerifyWebPacket.h"
#include "webpackets/CEncryptSignWebPacket.h"
#include "webpackets/CEgrulInfoWebPacket.h"
#include "webpackets/CGetCurrentCSPWebPacket.h"
#include "webpackets/CGetErrorListWebPacket.h"
#include "webpackets/CLoadAuthCertInfoWebPacket.h"
#include "webpackets/CSetCertStoreWebPacket.h"
#include "webpackets/CSetQnCACertWebPacket.h"
#include "webpackets/CSetRootCALkCertsWebPacket.h"
#include "webpackets/CSignPacketWebPacket.h"

namespace {

using Factory = std::unique_ptr<CWebPacket> (*)(tesel::CBlob&& payload);

struct CommandEntry {
    eCommand request;
    bool takesPayload;  // whether the request payload is handed to the command
    Factory create;     // null while the command is not available: treated as unknown
};

constexpr bool kPayload = true;
constexpr bool kNoPayload = false;

template <class Command>
constexpr CommandEntry withPayload(eCommand request) {
    return {request, kPayload, [](tesel::CBlob&& payload) -> std::unique_ptr<CWebPacket> {
                return std::make_unique<Command>(std::move(payload));
            }};
}

// Whatever payload the page sends with such a command is dropped.
template <class Command>
constexpr CommandEntry withoutPayload(eCommand request) {
    return {request, kNoPayload, [](tesel::CBlob&&) -> std::unique_ptr<CWebPacket> {
                return std::make_unique<Command>();
            }};
}

constexpr CommandEntry unavailable(eCommand request, bool takesPayload) {
    return {request, takesPayload, nullptr};
}

// Every request code the page may send. Making a command available is one
// line: withPayload<Class> or withoutPayload<Class> in place of unavailable.
constexpr CommandEntry kCommands[] = {
    withPayload<CSetRootCALkCertsWebPacket>(SET_ROOT_CA_LK_CERTS),
    withoutPayload<CGetErrorListWebPacket>(GET_ERROR_LIST),
    withPayload<CSetCertStoreWebPacket>(SET_CERT_STORE),
    withoutPayload<CCertListWebPacket>(CERT_LIST),
    withPayload<CAuthWebPacket>(AUTH),
    unavailable(PROLONG_KEY, kNoPayload),                       // CProlongKeyWebPacket
    unavailable(PROLONG_KEY_REGISTER, kNoPayload),              // CProlongKeyRegisterWebPacket
    unavailable(LOAD_RELEASED_CERT_TO_CONTAINER, kPayload),     // CLoadReleasedCertToContainerWebPacket
    unavailable(SET_CLIENT_INFO, kPayload),                     // CSetClientInfoWebPacket
    unavailable(SET_DOC_ATTACHMENT, kPayload),                  // CSetDocAttachmentWebPacket
    unavailable(RELEASED_CERT, kPayload),                       // CReleasedCertWebPacket
    unavailable(SAVE_CLIENT_CARD, kNoPayload),                  // CSaveClientCardWebPacket
    withoutPayload<CLoadAuthCertInfoWebPacket>(LOAD_AUTH_CERT_INFO),
    withPayload<CEgrulInfoWebPacket>(EGRUL_INFO),
    withoutPayload<CGetCurrentCSPWebPacket>(GET_CURRENT_CSP),
    unavailable(SET_REQUESTED_CSP, kPayload),                   // CSetRequestedCSPWebPacket
    unavailable(SET_ENH_OID, kPayload),                         // CSetEnhOidWebPacket
    withPayload<CDecryptRawQnCardWebPacket>(DECRYPT_RAW_QN_CARD),
    unavailable(DECRYPT_CLIENT_CERT, kPayload),                 // CDecryptClientCertWebPacket
    withPayload<CDecryptPacketInWebPacket>(DECRYPT_PACKET_IN),
    withPayload<CEncryptSignWebPacket>(ENCRYPT_SIGN),
    withPayload<CDecryptVerifyWebPacket>(DECRYPT_VERIFY),
    withPayload<CSignPacketWebPacket>(SIGN_PACKET),
    unavailable(GET_CLIENT_CARD_BY_CONVERT_QN, kPayload),       // CGetClientCardByConvertQnWebPacket
    unavailable(SEND_P10_CLIENT_REQUEST, kPayload),             // CSendP10ClientRequestWebPacket
    unavailable(SET_CONVERT_PIN, kPayload),                     // CSetConvertPinWebPacket
    unavailable(LOAD_RELEASED_CERT_TO_CONTAINER_QN, kPayload),  // CLoadReleasedCertToContainerQnWebPacket
    unavailable(BUILD_PARTNER_CARD, kPayload),                  // BuildPartnerCardWebPacket
    unavailable(CREATE_PARTNER_CARD, kPayload),                 // CCreatePartnerCardWebPacket
    unavailable(VEDEVA_REG_ABONENT, kPayload),                  // CVedevaRegAbonentWebPacket
    withPayload<CSetQnCACertWebPacket>(SET_QN_CA_CERT),
    unavailable(UPLOAD_CERT_TO_CONTAINER, kPayload),            // CUploadCertToContainerWebPacket
};
static_assert(std::size(kCommands) == 32, "one entry per request code");

const CommandEntry* findCommand(unsigned code) {
    for (const CommandEntry& entry : kCommands) {
        if (static_cast<unsigned>(entry.request) == code) return entry.create ? &entry : nullptr;
    }
    return nullptr;
}

}  // namespace

int processPacket(tesel::CBlob& request, tesel::CBlob& reply) {
    std::string uid;
    unsigned format = 0;
    unsigned code = 0;
    request.deserialize(&uid);
    request.deserialize(format);
    request.deserialize(code);
    if (request.isMalformed()) return 0;

    const CommandEntry* entry = findCommand(code);
    if (entry == nullptr) return 0;

    tesel::CBlob payload;
    if (entry->takesPayload) {
        payload.init(request.getData() + request.getOffset(), request.remaining());
    }
    std::unique_ptr<CWebPacket> command = entry->create(std::move(payload));
    command->setUid(std::move(uid));
    return command->process(reply);
}
