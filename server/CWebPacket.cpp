#include "server/CWebPacket.h"

#include <utility>

#include "errors/eErrCodes.h"

CWebPacket::CWebPacket() = default;

CWebPacket::CWebPacket(eCommand answer, unsigned format) : m_format(format), m_answer(answer) {}

CWebPacket::CWebPacket(tesel::CBlob payload, eCommand answer) : m_answer(answer) {
    // Assignment starts the cursor over and clears any mark the caller's
    // blob carried.
    m_payload = std::move(payload);
}

CWebPacket::~CWebPacket() = default;

tesel::CBlob CWebPacket::simpleResponse(unsigned result, eCommand answer) const {
    tesel::CBlob header(tesel::CBlob::sizeOf(m_uid) + 3 * tesel::CBlob::sizeOfInt());
    header.serialize(m_uid);
    header.serialize(m_format);
    header.serialize(static_cast<int>(answer));
    header.serialize(result);
    return header;
}

tesel::CBlob CWebPacket::codeAnswer(int result) const {
    return simpleResponse(static_cast<unsigned>(result), m_answer);
}

tesel::CBlob CWebPacket::codeAnswer(int result, unsigned payloadSize) const {
    const unsigned header = headerSize(static_cast<unsigned>(m_uid.size()));
    tesel::CBlob reply(header + payloadSize);
    reply.serialize(m_uid);
    reply.serialize(m_format);
    reply.serialize(static_cast<int>(m_answer));
    reply.serialize(static_cast<unsigned>(result));
    return reply;
}

void CWebPacket::writeAnswerHeader(tesel::CBlob& reply, int result) const {
    reply.moveOffset(0);
    reply.serialize(m_uid);
    reply.serialize(m_format);
    reply.serialize(static_cast<int>(m_answer));
    reply.serialize(static_cast<unsigned>(result));
}

void CWebPacket::setUid(std::string uid) { m_uid = std::move(uid); }

bool CWebPacket::replyIfMalformed(tesel::CBlob& reply) const {
    if (!m_payload.isMalformed()) return false;
    reply = codeAnswer(ERR_INTERNAL);
    return true;
}
