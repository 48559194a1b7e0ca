// Control endpoints that make test material for the program's certificate
// and packet commands (GET or POST under /control/):
//   usercert?kind=&issuer=ca|stranger&from=&to=&aki=0|1&serial=&eku=
//       body: subject lines "oid=value" (UTF-8). A new key of the CSP kind
//       (75, 80, 81) and a certificate for it. Answer: blob key container
//       file (the program's software CSP form), blob certificate (DER).
//       from/to are seconds from now; serial is big-endian hex.
//   crl?generation=2001|2012&serials=hex,hex   a revocation list (DER) of the
//       CA naming those serial numbers (big-endian hex)
//   peerkey?class=2001|256|512   the peer's own test key of that class
//       (PUBLICKEYBLOB), the same for the life of the process
//   packet?recipient=<hex PUBLICKEYBLOB>&sender=peer|ca&encrypt=0|1&serial=
//       body: the payload. A packet for the recipient key, from the peer's
//       test key of the recipient's class, or from the CA key
//   open?encrypted=0|1   body: a packet addressed to one of the peer's test
//       keys; its signature is checked with the header's sender key.
//       Answer: the payload, or 400 and why
#pragma once

#include <map>
#include <string>

#include "Bytes.h"
#include "Endpoints.h"
#include "PeerState.h"

namespace capeer {

bool isTestControl(const std::string& verb);
HttpAnswer testControl(const PeerState& state, const std::string& verb, std::map<std::string, std::string>& form,
                       const Bytes& body);

}  // namespace capeer
