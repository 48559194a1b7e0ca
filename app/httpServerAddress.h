// The address of an HTTP server as the settings keep it, and its "host:port"
// text form (shown and edited in the settings dialog).
#pragma once

#include <string>

namespace httpSrv {

struct httpServerAddress {
    std::string host;  // host name or address, no scheme needed (ANSI code page)
    unsigned port = 0;
};

// host + ":" + port in decimal.
std::string getAddress(const httpServerAddress& address);

// Splits text at its last ":" (so a host given with a scheme, such as
// "http://host:9200", keeps its scheme). Without a ":" returns 65 and changes
// nothing. Otherwise the host becomes the text before it and 0 is returned;
// the port is taken from the text after it when that reads as a decimal port
// number (0 to 65535, leading blanks and trailing text ignored), and is left
// as it was otherwise.
int parseAddress(const std::string& text, httpServerAddress& address);
int parseAddress(const std::string& text, std::string& host, unsigned& port);

}  // namespace httpSrv
