// The base of every command of the web page. A command object is created by
// the dispatcher for one request, given the request's uid, asked to build its
// reply with process() and then destroyed.
//
// Reply envelope: uid (string), format field (always 1), answer code, result
// (0 or an error code), then the command's own fields, if any.
#pragma once

#include <string>

#include "core/CBlob.h"
#include "server/eCommand.h"

class CWebPacket {
public:
    // Answer code CMD_UNDEFINED, format field 1, no payload.
    CWebPacket();
    CWebPacket(eCommand answer, unsigned format);
    // Takes the request payload; reading starts at its first byte.
    CWebPacket(tesel::CBlob payload, eCommand answer);

    // Builds the whole reply into `reply` (empty on entry). Returns 0 when the
    // reply is to be sent; any other value closes the connection unanswered.
    virtual int process(tesel::CBlob& reply) = 0;
    virtual ~CWebPacket();

    CWebPacket(const CWebPacket&) = delete;
    CWebPacket& operator=(const CWebPacket&) = delete;

    // The reply header alone: exactly length(uid) + 16 bytes.
    tesel::CBlob simpleResponse(unsigned result, eCommand answer) const;
    // simpleResponse with this command's answer code.
    tesel::CBlob codeAnswer(int result) const;
    // The same header followed by room for payloadSize more bytes, with the
    // cursor at that room: serialize exactly payloadSize bytes into it.
    tesel::CBlob codeAnswer(int result, unsigned payloadSize) const;

    // Reading of the payload starts at offset of the blob the command was
    // given (the dispatcher hands over the whole message, envelope
    // included, rather than a copy of the payload).
    void startPayloadAt(unsigned offset) { m_payload.moveOffset(offset); }

    void setUid(std::string uid);
    const std::string& getUid() const { return m_uid; }
    eCommand getAnswer() const { return m_answer; }

    // Writes the reply header (as codeAnswer) over the first headerSize bytes
    // of reply, which must be at least that large, and leaves the cursor
    // behind it: for replies whose payload was built in place.
    void writeAnswerHeader(tesel::CBlob& reply, int result) const;

    // Size of the reply header for a uid of uidLength bytes.
    static unsigned headerSize(unsigned uidLength) { return 16 + uidLength; }

protected:
    // Call after taking the payload fields out of m_payload: when any of them
    // ran past the end of the payload, assigns the internal-error reply
    // (result 1, no payload) and returns true; the command then returns 0.
    bool replyIfMalformed(tesel::CBlob& reply) const;

    // The request payload (empty for commands that take none).
    tesel::CBlob m_payload;

private:
    std::string m_uid;
    unsigned m_format = 1;
    eCommand m_answer = CMD_UNDEFINED;
};
