#include "webpackets/CProlongKeyRegisterWebPacket.h"

#include <memory>
#include <utility>

#include "core/TextConvert.h"
#include "crypto/ControllerWebCrypto.h"
#include "errors/eErrCodes.h"
#include "webpackets/ControllerWebPackets.h"

CProlongKeyRegisterWebPacket::CProlongKeyRegisterWebPacket() : CWebPacket(PROLONG_KEY_REGISTER_ANSWER, 1) {}

int CProlongKeyRegisterWebPacket::process(tesel::CBlob& reply) {
    ControllerWebPackets& controller = ControllerWebPackets::instance();
    // The renewal packet of command 24 as it is now: the whole command
    // builds from it, also when another tab starts a renewal meanwhile.
    const std::shared_ptr<CPacketProlongKey> prolong =
        std::dynamic_pointer_cast<CPacketProlongKey>(controller.getCurrentClientPacket());
    if (!prolong) {
        // Command 24 has not made a renewal packet.
        reply = codeAnswer(ERR_INTERNAL);
        return 0;
    }
    std::string name;
    controller.withClientPacket(*prolong, [&](CPacket_PKCS10_Client_Base& p) { name = p.createContainerName(); });
    // The connection this command made, not whatever the slot holds when
    // another tab is renewing at the same time.
    std::shared_ptr<qn::crypto::Crypto1By1Connect> newKey;
    if (const unsigned r = qn::crypto::ControllerWebCrypto::instance()->create(name, &newKey)) {
        reply = codeAnswer(static_cast<int>(r));
        return 0;
    }
    tesel::CBlob packet;
    if (const unsigned r = controller.buildProlongKeyPacket(packet, newKey, *prolong)) {
        reply = codeAnswer(static_cast<int>(r));
        return 0;
    }
    std::string oldName;
    std::string newName;
    qn::crypto::eSupportCP csp = qn::crypto::CP_NONE;
    controller.withClientPacket(*prolong, [&](CPacket_PKCS10_Client_Base& p) {
        oldName = tesel::convertToUTF8(p.getContainerName());
        newName = tesel::convertToUTF8(prolong->getNewContainer());
        csp = p.getCSP();
    });
    const std::string generated = tesel::convertToUTF8(name);
    tesel::CBlob answer =
        codeAnswer(ERR_OK, tesel::CBlob::sizeOf(oldName) + tesel::CBlob::sizeOf(newName) +
                               tesel::CBlob::sizeOf(generated) + tesel::CBlob::sizeOfInt() + tesel::CBlob::sizeOf(packet));
    answer.serialize(oldName);
    answer.serialize(newName);
    answer.serialize(generated);
    answer.serialize(static_cast<int>(csp));
    answer.serialize(&packet);
    reply = std::move(answer);
    return 0;
}
