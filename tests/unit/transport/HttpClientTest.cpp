// The HTTP client against a real server on the loopback interface.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "errors/eErrCodes.h"
#include "helpers/HttpFixture.h"
#include "transport/TransportServer.h"
#include "transport/common/CHttpConnection.h"

using tesel::CBlob;
using testing_http::HttpFixture;

namespace {

std::string text(const CBlob& b) {
    return std::string(reinterpret_cast<const char*>(b.getData()), b.getSize());
}

CBlob blobOf(const std::string& s) {
    return CBlob(reinterpret_cast<const unsigned char*>(s.data()), static_cast<unsigned>(s.size()));
}

class TestPost : public CHTTPPostRequest {
public:
    TestPost(std::string url, std::string body, std::vector<std::string> headers = {},
             int result = 0)
        : CHTTPPostRequest(std::move(url)),
          m_body(std::move(body)),
          m_headers(std::move(headers)),
          m_result(result) {}

    int build(CBlob& body, std::vector<std::string>& headers) override {
        ++builds;
        body = blobOf(m_body);
        headers.insert(headers.end(), m_headers.begin(), m_headers.end());
        return m_result;
    }

    int builds = 0;

private:
    std::string m_body;
    std::vector<std::string> m_headers;
    int m_result;
};

class HttpClient : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server = std::make_unique<HttpFixture>(); }
    static void TearDownTestSuite() { server.reset(); }
    void SetUp() override { server->reset(); }

    CHttpConnection connection() const { return CHttpConnection(HttpFixture::host(), server->port()); }

    static std::unique_ptr<HttpFixture> server;
};

std::unique_ptr<HttpFixture> HttpClient::server;

}  // namespace

TEST(BaseConnection, DefaultsAndSetters) {
    tesel::CBaseConnection empty;
    EXPECT_EQ(empty.getHost(), "");
    EXPECT_EQ(empty.getPort(), 0u);
    EXPECT_EQ(empty.getTimeout(), 5u);

    CHttpConnection c("http://example.invalid", 9200);
    EXPECT_EQ(c.getHost(), "http://example.invalid");
    EXPECT_EQ(c.getPort(), 9200u);
    EXPECT_EQ(c.getTimeout(), 5u);
    EXPECT_TRUE(c.isFollowingRedirects());
    c.setHost("http://other");
    c.setPort(80);
    CHttpConnection copy = c;
    EXPECT_EQ(copy.getHost(), "http://other");
    EXPECT_EQ(copy.getPort(), 80u);
}

TEST(BaseConnection, DefaultSettingsReplaceThePortOnlyWhenGiven) {
    CHttpConnection c("http://h", 1000);
    CBlob response;
    c.setDefaultSettings(nullptr, &response, 0);
    EXPECT_EQ(c.getPort(), 1000u);
    c.setDefaultSettings(nullptr, &response, 2000);
    EXPECT_EQ(c.getPort(), 2000u);
}

TEST(Requests, MethodsAndFlags) {
    CHTTPGetRequest get("/a");
    EXPECT_EQ(get.getType(), HTTP_GET);
    EXPECT_EQ(get.getUrl(), "/a");
    EXPECT_TRUE(get.getResponse().isEmpty());
    TestPost post("/b", "x");
    EXPECT_EQ(post.getType(), HTTP_POST);
    EXPECT_TRUE(post.isBinaryContent());
    post.setType(HTTP_GET);
    EXPECT_EQ(post.init(), 0);
    EXPECT_EQ(post.getType(), HTTP_POST);
}

TEST(WriteMemoryCallback, AppendsEveryChunk) {
    CBlob target;
    char a[] = "abc";
    char b[] = "defgh";
    EXPECT_EQ(WriteMemoryCallback(a, 1, 3, &target), 3u);
    EXPECT_EQ(WriteMemoryCallback(b, 5, 1, &target), 5u);
    EXPECT_EQ(text(target), "abcdefgh");
    EXPECT_EQ(WriteMemoryCallback(a, 0, 3, &target), 0u);
    EXPECT_EQ(target.getSize(), 8u);
}

TEST(TransportServer, OneConnectionCreatedEmpty) {
    CHttpConnection& a = getTransportServer();
    CHttpConnection& b = getTransportServer();
    EXPECT_EQ(&a, &b);
    EXPECT_EQ(a.getTimeout(), 5u);
}

TEST_F(HttpClient, GetJoinsHostAndPathAndSendsTheUserAgent) {
    server->route("/api/etc/getCertCA?x=1", "certificate bytes");
    CHttpConnection c = connection();
    CHTTPGetRequest request("/api/etc/getCertCA?x=1");
    ASSERT_EQ(c.send(request), 0);
    EXPECT_EQ(text(request.getResponse()), "certificate bytes");
    const auto log = server->log();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].method, "GET");
    EXPECT_EQ(log[0].path, "/api/etc/getCertCA?x=1");
    EXPECT_EQ(log[0].header("User-Agent"), "quorin/1.0");
    // The port comes from the port setting, not from the host text.
    EXPECT_EQ(log[0].header("Host"), "127.0.0.1:" + std::to_string(server->port()));
}

TEST_F(HttpClient, ErrorPagesAreHandedOverAsBodies) {
    const std::string page = "<html><body>Internal Server Error</body></html>";
    server->route("/boom", page, 500, "text/html");
    CHttpConnection c = connection();
    CHTTPGetRequest request("/boom");
    EXPECT_EQ(c.send(request), 0);
    EXPECT_EQ(text(request.getResponse()), page);

    CHTTPGetRequest missing("/nowhere");
    EXPECT_EQ(c.send(missing), 0);
    EXPECT_NE(text(missing.getResponse()).find("404"), std::string::npos);
}

TEST_F(HttpClient, BinaryPostCarriesBodyContentTypeAndExtraHeaders) {
    server->route("/api/post", "answer");
    CHttpConnection c = connection();
    const std::string body("\x00\x01\xFFtesel", 8);
    TestPost request("/api/post", body, {"X-One: 1", "X-Two: 2"});
    ASSERT_EQ(c.send(request), 0);
    EXPECT_EQ(text(request.getResponse()), "answer");
    const auto log = server->log();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].method, "POST");
    EXPECT_EQ(log[0].body, body);
    EXPECT_EQ(log[0].header("Content-Type"), "application/octet-stream");
    EXPECT_EQ(log[0].header("X-One"), "1");
    EXPECT_EQ(log[0].header("X-Two"), "2");
}

TEST_F(HttpClient, TextPostUsesTheFormContentType) {
    CHttpConnection c = connection();
    TestPost request("/form", "a=1&b=2");
    request.setBinaryContent(false);
    ASSERT_EQ(c.send(request), 0);
    const auto log = server->log();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].body, "a=1&b=2");
    EXPECT_EQ(log[0].header("Content-Type"), "application/x-www-form-urlencoded");
}

TEST_F(HttpClient, PostWithEmptyBodyGoesOutAsGetWithItsHeaders) {
    CHttpConnection c = connection();
    TestPost request("/empty", "", {"X-Extra: yes"});
    ASSERT_EQ(c.send(request), 0);
    const auto log = server->log();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].method, "GET");
    EXPECT_EQ(log[0].header("Content-Type"), "");
    EXPECT_EQ(log[0].header("X-Extra"), "yes");
}

TEST_F(HttpClient, BuildFailureIsReturnedAndNothingIsSent) {
    CHttpConnection c = connection();
    TestPost request("/never", "body", {}, 47);
    EXPECT_EQ(c.send(request), 47);
    EXPECT_EQ(request.builds, 1);
    EXPECT_TRUE(server->log().empty());
    EXPECT_TRUE(request.getResponse().isEmpty());
}

TEST_F(HttpClient, PostWithBodyFollowsRedirects) {
    server->route("/old", "moved away", 302, "text/plain", "/new");
    server->route("/new", "arrived");
    CHttpConnection c = connection();
    TestPost request("/old", "data");
    ASSERT_EQ(c.send(request), 0);
    EXPECT_EQ(text(request.getResponse()), "arrived");
}

TEST_F(HttpClient, RefusedConnectionIs18AndKeepsTheResponse) {
    CHttpConnection c(HttpFixture::host(), server->refusedPort());
    CHTTPGetRequest get("/x");
    get.setResponse(blobOf("before"));
    EXPECT_EQ(c.send(get), ERR_SERVER_UNREACHABLE);
    EXPECT_EQ(text(get.getResponse()), "before");
    TestPost post("/x", "body");
    EXPECT_EQ(c.send(post), ERR_SERVER_UNREACHABLE);
}

TEST_F(HttpClient, ServerThatNeverAcceptsTimesOutAfterFiveSecondsWith18) {
    CHttpConnection c(HttpFixture::host(), server->blackholePort());
    CHTTPGetRequest request("/x");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(c.send(request), ERR_SERVER_UNREACHABLE);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(seconds, 4.5);
    EXPECT_LT(seconds, 15.0);
}

TEST_F(HttpClient, OtherTransferFailuresAre21) {
    server->route("/hangup", "", 0);  // connection closed without an answer
    CHttpConnection c = connection();
    CHTTPGetRequest hangup("/hangup");
    EXPECT_EQ(c.send(hangup), ERR_SERVER_TRANSFER);

    CHttpConnection noScheme("nosuchscheme://127.0.0.1", server->port());
    CHTTPGetRequest request("/x");
    EXPECT_EQ(noScheme.send(request), ERR_SERVER_TRANSFER);
    EXPECT_TRUE(request.getResponse().isEmpty());
}

TEST_F(HttpClient, LargeBodiesArriveWhole) {
    std::string big(3 * 1024 * 1024 + 17, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 31 + 7);
    server->route("/big", big);
    CHttpConnection c = connection();
    CHTTPGetRequest request("/big");
    ASSERT_EQ(c.send(request), 0);
    EXPECT_EQ(text(request.getResponse()), big);
}

TEST_F(HttpClient, BodiesBeyondTheRequestsCapEndWith21) {
    const std::string chunk(64 * 1024, 'x');
    server->route("/endless", chunk, -1);  // no length: runs until the client leaves
    server->route("/declared", std::string(70000, 'y'));
    CHttpConnection c = connection();

    CHTTPGetRequest endless("/endless");  // the default cap: the packet limit in force
    EXPECT_EQ(c.send(endless), ERR_SERVER_TRANSFER);
    EXPECT_TRUE(endless.getResponse().isEmpty());

    CHTTPGetRequest declared("/declared");
    declared.setMaxResponseSize(69999);
    EXPECT_EQ(c.send(declared), ERR_SERVER_TRANSFER);
    declared.setMaxResponseSize(70000);
    ASSERT_EQ(c.send(declared), 0);
    EXPECT_EQ(declared.getResponse().getSize(), 70000u);
}

TEST_F(HttpClient, ThreadsShareOneConnectionWhileTheAddressChanges) {
    server->route("/shared", "same answer");
    CHttpConnection c = connection();
    std::atomic<int> failures{0};
    std::atomic<bool> stop{false};
    // The settings dialog may set the same address again at any time.
    std::thread writer([&] {
        while (!stop) {
            c.setHost(HttpFixture::host());
            c.setPort(server->port());
        }
    });
    std::vector<std::thread> senders;
    for (int t = 0; t < 6; ++t) {
        senders.emplace_back([&] {
            for (int i = 0; i < 5; ++i) {
                CHTTPGetRequest request("/shared");
                if (c.send(request) != 0 || text(request.getResponse()) != "same answer") ++failures;
            }
        });
    }
    for (auto& s : senders) s.join();
    stop = true;
    writer.join();
    EXPECT_EQ(failures.load(), 0);
}
