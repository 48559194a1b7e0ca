// Process-wide settings and run-time values shared by the commands.
//
// Commands on different connections read and write these values at the same
// time, so each one is guarded: integers are atomic, blobs and strings are
// copied in and out under a lock (a reader always gets a whole value).
#pragma once

#include <string>

#include "core/CBlob.h"
#include "crypto/eSupportCP.h"

// Root CA certificates handed over by the web page, stored as received.
// Empty until set.
tesel::CBlob getRootCACerts();
void setRootCACerts(tesel::CBlob certs);

// The provider kind in use and the one the page asked for; CP_NONE (-2)
// until set.
qn::crypto::eSupportCP getCurrentCSP();
void setCurrentCSP(qn::crypto::eSupportCP kind);
qn::crypto::eSupportCP getRequestedCSP();
void setRequestedCSP(qn::crypto::eSupportCP kind);

// The key container in use; empty until set.
std::string getCurrentContainer();
void setCurrentContainer(std::string container);
