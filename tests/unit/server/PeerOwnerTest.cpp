// The owner of a loopback peer, read from the system's own tables: a
// connection this process makes to itself belongs to this user.
#include "platform/peerowner.h"
#include "server/PeerAdmission.h"

#include <gtest/gtest.h>

#include <cstring>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

namespace {

namespace net = boost::asio;
using tcp = net::ip::tcp;

platform::TcpEndpoint toPlatform(const tcp::endpoint& e) {
    platform::TcpEndpoint out;
    out.port = e.port();
    if (e.address().is_v4()) {
        std::memcpy(out.address, e.address().to_v4().to_bytes().data(), 4);
    } else {
        std::memcpy(out.address, e.address().to_v6().to_bytes().data(), 16);
        out.v6 = true;
    }
    return out;
}

// local and remote of the accepted side of a connection to `listenOn`.
void acceptedEnds(const char* listenOn, const char* connectTo, platform::TcpEndpoint& local,
                  platform::TcpEndpoint& remote) {
    net::io_context ioc;
    tcp::acceptor acceptor(ioc, tcp::endpoint(net::ip::make_address(listenOn), 0));
    tcp::socket client(ioc);
    client.connect(tcp::endpoint(net::ip::make_address(connectTo), acceptor.local_endpoint().port()));
    tcp::socket accepted = acceptor.accept();
    local = toPlatform(accepted.local_endpoint());
    remote = toPlatform(accepted.remote_endpoint());
    EXPECT_EQ(platform::loopbackPeerOwner(local, remote), platform::PeerOwner::SameUser);
    EXPECT_EQ(peer_admission::refusalWithoutOrigin(local, remote), "");
}

TEST(PeerOwner, OwnLoopbackConnectionsBelongToThisUser) {
    platform::TcpEndpoint local, remote;
    acceptedEnds("127.0.0.1", "127.0.0.1", local, remote);
    // Once the connection is gone its owner cannot be found.
    EXPECT_EQ(platform::loopbackPeerOwner(local, remote), platform::PeerOwner::Unknown);
    EXPECT_NE(peer_admission::refusalWithoutOrigin(local, remote).find("has no owner"), std::string::npos);
}

TEST(PeerOwner, DualStackListenersFindIPv4AndIPv6Clients) {
    platform::TcpEndpoint local, remote;
    acceptedEnds("::", "127.0.0.1", local, remote);  // a mapped IPv4 client
    acceptedEnds("::1", "::1", local, remote);
}

TEST(PeerOwner, WhatCountsAsLoopback) {
    platform::TcpEndpoint e;
    e.address[0] = 127;
    e.address[3] = 9;
    EXPECT_TRUE(platform::isLoopback(e));
    e.address[0] = 10;
    EXPECT_FALSE(platform::isLoopback(e));
    EXPECT_NE(peer_admission::refusalWithoutOrigin(e, e).find("is not on this machine"), std::string::npos);
    platform::TcpEndpoint v6;
    v6.v6 = true;
    v6.address[15] = 1;
    EXPECT_TRUE(platform::isLoopback(v6));  // ::1
    v6.address[15] = 2;
    EXPECT_FALSE(platform::isLoopback(v6));
    v6.address[10] = v6.address[11] = 0xff;
    v6.address[12] = 127;
    EXPECT_TRUE(platform::isLoopback(v6));  // ::ffff:127.0.0.2
    v6.address[12] = 192;
    EXPECT_FALSE(platform::isLoopback(v6));
}

TEST(PeerAdmission, RefusedOriginLinesStayOneLine) {
    EXPECT_EQ(peer_admission::refusedOriginLine("https://a.example"), "origin refused: https://a.example");
    EXPECT_EQ(peer_admission::refusedOriginLine(std::string("x\n\x1b\\\xff", 5)), "origin refused: x\\x0a\\x1b\\x5c\\xff");
    EXPECT_EQ(peer_admission::refusedOriginLine(std::string(300, 'o')), "origin refused: " + std::string(256, 'o') + "...");
}

}  // namespace
