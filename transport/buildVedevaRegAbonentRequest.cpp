#include "transport/buildVedevaRegAbonentRequest.h"

#include "transport/CHttpVedevaRegAbonentRequest.h"

int buildVedevaRegAbonentRequest(const tesel::CBlob& cspInfo, const tesel::CBlob& card, const tesel::CBlob& pkcs10,
                                 const std::string& text, const qn::crypto::Crypto1By1Connect& connection,
                                 tesel::CBlob& packet) {
    CHttpVedevaRegAbonentRequest request(cspInfo, card, pkcs10, text, connection);
    return request.buildRequest(packet);
}
