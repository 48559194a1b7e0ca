// Process-wide settings and run-time values shared by the commands.
//
// Only the transport server's address is kept across runs, in the settings
// file; the rest lives while the program runs. Commands on different
// connections read and write these values at the same time, so each one is
// guarded: integers are atomic, blobs and strings are copied in and out under
// a lock (a reader always gets a whole value).
#pragma once

#include <string>

#include "app/httpServerAddress.h"
#include "core/CBlob.h"
#include "crypto/eSupportCP.h"

// ---- transport server address

// The deployment's transport server (the build's default host, port 9200).
httpSrv::httpServerAddress getDefaultTransportServerAddress();

// A copy of the address in force (the default until one is set).
httpSrv::httpServerAddress getTransportServerAddress();

// Stores the address and hands host and port to the update agent and to the
// transport server connection (getTransportServer()). Does not save.
void setTransportServerAddress(httpSrv::httpServerAddress address);

// ---- settings file

// <root path of the data folder>/settings.dat
std::string getSettingsFile();

// Puts the defaults in force (address, and plugin port 3000), then reads the
// address from the settings file when there is one. Returns 0 (also when the
// file is missing or unreadable: the defaults stay and no file is made), or
// 80 when the file is of an unknown version or damaged (the defaults stay).
int loadSettings();

// Writes the address in force to the settings file (format version 106).
// Returns 0; a failed write is not reported, and leaves the old file whole.
int saveSettings();

// ---- run-time values

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
