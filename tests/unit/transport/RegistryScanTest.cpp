// The register answers are read by plain text search, the classifier's in
// one forward pass; these cases pin down the scan rules, the value decoder
// and the request URLs.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/TextConvert.h"
#include "transport/CEgrulRequest.h"
#include "transport/CKladrRequest.h"
#include "transport/RegistryServices.h"
#include "transport/decodeSymbolTag.h"

using qn::http_transport::decodeSymbolTag;

namespace {

// Decoded values are in the program's 8-bit code page; compare in UTF-8.
std::string utf8(const std::string& ansi) { return tesel::convertToUTF8(ansi); }

std::string decodeAll(const std::string& text) {
    return utf8(decodeSymbolTag(&text, 0, static_cast<unsigned>(text.size())));
}

std::vector<std::string> utf8Values(const std::string& answer) {
    std::vector<std::string> values = CEgrulRequest::scanValues(answer);
    for (std::string& v : values) v = utf8(v);
    return values;
}

// A register answer in the service's layout: one record, Cyrillic escaped.
const std::string kRecord =
    R"([{"kpp": "770101001", "inn": "7701234567", "ogrn": "1027700132195", "address": {"dom": "12", )"
    R"("region": {"name": "\u0413\u041e\u0420\u041e\u0414 \u041c\u041e\u0421\u041a\u0412\u0410"}, "kvart": "305", )"
    R"("gorod": {"name": "\u041c\u043e\u0441\u043a\u0432\u0430"}, "punkt": {"name": "Zelenograd"}, )"
    R"("street": {"name": "Tverskaya"}, "korp": "2"}, "dolgnfl": [{"fl": {"fam_fl": "Ivanov", "nam_fl": "Ivan", )"
    R"("otch_fl": "Ivanovich"}, "dolgn": "Director"}], "ul_name": {"names": "OOO \"Romashka\"", )"
    R"("namep": "\"Romashka\""}}])";

}  // namespace

TEST(DecodeSymbolTag, EscapesAndPlainBytes) {
    EXPECT_EQ(decodeAll(R"(\u0410\u0431\u0432)"), "Абв");
    EXPECT_EQ(decodeAll(R"(\u041F\u0440\u0438)"), "При");  // upper-case hex digits too
    EXPECT_EQ(decodeAll(R"(a\"b\\c\/d)"), "a\"b\\c/d");
    // Not four hex digits: only the backslash goes.
    EXPECT_EQ(decodeAll(R"(\u04Z0)"), "u04Z0");
    EXPECT_EQ(decodeAll(R"(x\u041)"), "xu041");
    EXPECT_EQ(decodeAll("abc\\"), "abc");
    // A zero unit ends the value.
    EXPECT_EQ(decodeAll(R"(ab\u0000cd)"), "ab");
}

TEST(DecodeSymbolTag, RangeIsClampedToText) {
    const std::string text = R"(xx\u0410yy)";
    EXPECT_EQ(utf8(decodeSymbolTag(&text, 2, 8)), "А");
    // An escape that the range cuts is not decoded.
    EXPECT_EQ(utf8(decodeSymbolTag(&text, 2, 7)), "u041");
    EXPECT_EQ(utf8(decodeSymbolTag(&text, 8, 1000)), "yy");
    EXPECT_EQ(decodeSymbolTag(&text, 5, 5), "");
    EXPECT_EQ(decodeSymbolTag(&text, 9, 3), "");
    EXPECT_EQ(decodeSymbolTag(nullptr, 0, 10), "");
}

TEST(DecodeSymbolTag, AtMost128Units) {
    EXPECT_EQ(decodeAll(std::string(128, 'a')), std::string(128, 'a'));
    EXPECT_EQ(decodeAll(std::string(129, 'a')), "");
    // Units, not characters: 128 escapes are 768 characters.
    std::string escaped;
    for (int i = 0; i < 128; ++i) escaped += "\\u0416";
    std::string expected;
    for (int i = 0; i < 128; ++i) expected += "Ж";
    EXPECT_EQ(decodeAll(escaped), expected);
    EXPECT_EQ(decodeAll(escaped + "x"), "");
    // An escape that yields no unit does not count.
    EXPECT_EQ(decodeAll(std::string(128, 'a') + "\\"), std::string(128, 'a'));
}

TEST(EgrulScan, FullRecordInKeyOrder) {
    const std::vector<std::string> expected = {"770101001", "12",       "ГОРОД МОСКВА",  "305",
                                               "Москва",    "Zelenograd", "Tverskaya", "2",
                                               "Ivanov",    "Ivanovich", "Director",    "Ivan",
                                               "1027700132195", "OOO \"Romashka\"", "\"Romashka\""};
    EXPECT_EQ(utf8Values(kRecord), expected);
}

TEST(EgrulScan, NullAndMissingValues) {
    std::string answer = kRecord;
    answer.replace(answer.find(R"("305")"), 5, "null");
    answer.replace(answer.find(R"({"name": "Zelenograd"})"), 22, "null");
    answer.replace(answer.find(R"("korp": "2")"), 11, R"("x": "2")");
    const std::vector<std::string> values = utf8Values(answer);
    ASSERT_EQ(values.size(), 15u);
    EXPECT_EQ(values[3], "");  // flat: null
    EXPECT_EQ(values[4], "Москва");  // the keys behind it are still found
    EXPECT_EQ(values[5], "");  // settlement: null object, so its key is absent
    EXPECT_EQ(values[6], "Tverskaya");
    EXPECT_EQ(values[7], "");  // building: key missing
    EXPECT_EQ(values[8], "Ivanov");

    // Not JSON at all (an error page): fifteen empty values.
    EXPECT_EQ(CEgrulRequest::scanValues("<html>500</html>"), std::vector<std::string>(15));
    EXPECT_EQ(CEgrulRequest::scanValues(""), std::vector<std::string>(15));
}

TEST(EgrulScan, ValueEndRules) {
    std::size_t position = 0;
    // Quotes followed by anything but ',' or '}' belong to the value.
    EXPECT_EQ(CEgrulRequest::getAttribute(R"({"k": "a"b" c", "n": 1})", "\"k\": ", position), "a\"b\" c");
    EXPECT_EQ(position, 7u);
    // An escaped quote never ends it, even before a comma.
    position = 0;
    EXPECT_EQ(CEgrulRequest::getAttribute(R"({"k": "A \", B", "n": 1})", "\"k\": ", position), "A \", B");
    // An escaped backslash before the closing quote does not escape it.
    position = 0;
    EXPECT_EQ(CEgrulRequest::getAttribute(R"({"k": "A\\"})", "\"k\": ", position), "A\\");
    // No closing quote: empty, but the position has moved to the value.
    position = 0;
    EXPECT_EQ(CEgrulRequest::getAttribute(R"({"k": "abc)", "\"k\": ", position), "");
    EXPECT_EQ(position, 7u);
    // The key at the very end of the text, or followed by a short "nul".
    position = 0;
    EXPECT_EQ(CEgrulRequest::getAttribute(R"({"k": )", "\"k\": ", position), "");
    EXPECT_EQ(CEgrulRequest::getAttribute(R"({"k": nul)", "\"k\": ", position), "");
    // A value of 129 characters is dropped whole.
    position = 0;
    const std::string longValue = "{\"k\": \"" + std::string(129, 'x') + "\"}";
    EXPECT_EQ(CEgrulRequest::getAttribute(longValue, "\"k\": ", position), "");
}

TEST(EgrulScan, ScanPositionAndRestart) {
    // The nearest key behind the last value wins; a key only before it is
    // found again from the start.
    const std::string text = R"({"a": "1", "b": "first"}, {"a": "2", "b": "second"})";
    std::size_t position = 0;
    EXPECT_EQ(CEgrulRequest::getAttribute(text, "\"a\": ", position), "1");
    EXPECT_EQ(CEgrulRequest::getAttribute(text, "\"a\": ", position), "2");
    EXPECT_EQ(CEgrulRequest::getAttribute(text, "\"b\": ", position), "second");
    EXPECT_EQ(CEgrulRequest::getAttribute(text, "\"a\": ", position), "1");
    // The answer is read up to its first zero byte.
    const std::string cut = std::string(R"([{"kpp": "1")") + '\0' + R"(, "dom": "2"})";
    EXPECT_EQ(CEgrulRequest::scanValues(cut)[1], "");
}

TEST(EgrulScan, RegionShortening) {
    const auto shortened = [](std::string name) {
        EXPECT_EQ(CEgrulRequest::shortRegionNameFromEGRUL(name), 0);
        return name;
    };
    EXPECT_EQ(shortened(""), "");
    EXPECT_EQ(shortened("МОСКВА"), "МОСКВА");
    EXPECT_EQ(shortened("ГОРОД МОСКВА"), "МОСКВА");
    EXPECT_EQ(shortened("РЕСПУБЛИКА САХА (ЯКУТИЯ)"), "(ЯКУТИЯ)");
    EXPECT_EQ(shortened("РЕСПУБЛИКА СЕВЕРНАЯ ОСЕТИЯ - АЛАНИЯ"), "ОСЕТИЯ - АЛАНИЯ");
    EXPECT_EQ(shortened("A "), "");
}

TEST(KladrScan, ItemsNoticeAndRegionPrefix) {
    const std::string answer =
        R"({"result":[{"id":"Free","name":"Free kladr-api notice","typeShort":""},)"
        R"({"id":"7700000000000","name":"\u041c\u043e\u0441\u043a\u0432\u0430","typeShort":"\u0433"},)"
        R"({"id":"5000000000000","name":"Moskovskaya","typeShort":"obl"}]})";
    std::vector<kladrItem> regions = CKladrRequest::scanItems(answer, KLADR_REGION);
    ASSERT_EQ(regions.size(), 2u);
    EXPECT_EQ(utf8(regions[0].name), "77 г. Москва");
    EXPECT_EQ(regions[0].id, "7700000000000");
    EXPECT_EQ(regions[1].name, "50 obl. Moskovskaya");

    std::vector<kladrItem> cities = CKladrRequest::scanItems(answer, KLADR_CITY);
    ASSERT_EQ(cities.size(), 2u);
    EXPECT_EQ(utf8(cities[0].name), "г. Москва");

    // The notice is dropped only when it comes first.
    const std::string later = R"({"id":"1","name":"A","typeShort":"t"},{"id":"2","name":"kladr-api","typeShort":""})";
    EXPECT_EQ(CKladrRequest::scanItems(later, KLADR_CITY).size(), 2u);
}

TEST(KladrScan, StopsAtFirstIncompleteItem) {
    // The second item lacks its short type: the scan ends there.
    const std::string answer = R"([{"id":"1","name":"A","typeShort":"t"},{"id":"2","name":"B"}])";
    ASSERT_EQ(CKladrRequest::scanItems(answer, KLADR_STREET).size(), 1u);
    EXPECT_TRUE(CKladrRequest::scanItems("", KLADR_REGION).empty());
    EXPECT_TRUE(CKladrRequest::scanItems(R"({"name":"A)", KLADR_REGION).empty());
    EXPECT_TRUE(CKladrRequest::scanItems(R"({"name":)", KLADR_REGION).empty());
    // A short id gives the prefix it has.
    const std::vector<kladrItem> items = CKladrRequest::scanItems(R"({"id":"7","name":"A","typeShort":"t"})", KLADR_REGION);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].name, "7 t. A");
}

TEST(KladrScan, AtMostTheItemsAskedFor) {
    std::string answer = R"({"result":[{"id":"n","name":"kladr-api","typeShort":""})";
    for (int i = 1; i <= 20; ++i)
        answer += R"(,{"id":")" + std::to_string(i) + R"(","name":"N)" + std::to_string(i) + R"(","typeShort":"t"})";
    answer += "]}";
    std::vector<kladrItem> items = CKladrRequest::scanItems(answer, KLADR_STREET);
    ASSERT_EQ(items.size(), CKladrRequest::kItemLimit);
    EXPECT_EQ(items.front().name, "t. N1");
    EXPECT_EQ(items.back().name, "t. N8");
    // Without the notice the first eight are taken all the same.
    items = CKladrRequest::scanItems(answer.substr(answer.find(R"({"id":"1")")), KLADR_STREET);
    ASSERT_EQ(items.size(), CKladrRequest::kItemLimit);
    EXPECT_EQ(items.front().id, "1");
    // The answer is capped when it is received, and never read further.
    EXPECT_EQ(CKladrRequest("x", KLADR_CITY, "", "0123456789abcdef01234567").getMaxResponseSize(), 1u << 20);
    const std::string padded = std::string(CKladrRequest::kMaxAnswerSize - 10, ' ') + R"({"id":"1","name":"A","typeShort":"t"})";
    EXPECT_TRUE(CKladrRequest::scanItems(padded, KLADR_STREET).empty());
}

TEST(KladrScan, JsonLayoutsAndStrings) {
    // Blanks around the colons, any member order, other members between.
    const std::string spaced = "{ \"result\" : [ { \"typeShort\" : \"ul\", \"zip\" : null, \"name\" :\n\"Tverskaya\", "
                               "\"parents\": [], \"id\" : \"77\" } ] }";
    std::vector<kladrItem> items = CKladrRequest::scanItems(spaced, KLADR_STREET);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].name, "ul. Tverskaya");
    EXPECT_EQ(items[0].id, "77");
    // Keys inside string values are text; escaped quotes stay in the value.
    const std::string tricky = R"({"id":"1","name":"say \"id\":\"x\" \\","typeShort":"t","note":"\"name\":"})";
    items = CKladrRequest::scanItems(tricky, KLADR_CITY);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].name, R"(t. say "id":"x" \)");
    EXPECT_EQ(items[0].id, "1");
    // A name that is not a string is an incomplete item; the reading ends.
    EXPECT_TRUE(CKladrRequest::scanItems(R"([{"id":"1","name":null,"typeShort":"t"},{"id":"2","name":"B","typeShort":"t"}])",
                                         KLADR_CITY).empty());
    // The text ends at a zero byte and at an unterminated string.
    const std::string zero = std::string(R"({"id":"1","name":"A","typeShort":"t"})") + '\0' +
                             R"({"id":"2","name":"B","typeShort":"t"})";
    EXPECT_EQ(CKladrRequest::scanItems(zero, KLADR_CITY).size(), 1u);
    EXPECT_EQ(CKladrRequest::scanItems(R"({"id":"1","name":"A","typeShort":"t"},{"id":"2)", KLADR_CITY).size(), 1u);
    // Objects nested beyond 64 levels end the reading.
    EXPECT_TRUE(CKladrRequest::scanItems(std::string(100, '{') + R"("id":"1","name":"A","typeShort":"t")", KLADR_CITY).empty());
    EXPECT_EQ(CKladrRequest::scanItems(std::string(60, '{') + R"("id":"1","name":"A","typeShort":"t")", KLADR_CITY).size(), 1u);
}

// Answers crafted against a text search that starts over for every item
// (names far from the one short type, many ids, long escape runs): the
// reader looks at each byte once and reads no more than the items asked for.
TEST(KladrScan, WorkIsLinearInTheAnswer) {
    std::string farType;
    while (farType.size() < 900000) farType += R"({"name":"a","id":"1"},)";
    farType += R"("typeShort":"t")";
    std::string manyItems = "[";
    while (manyItems.size() < 900000) manyItems += R"({"id":"1","name":"a","typeShort":"t"},)";
    std::string escapes = R"({"id":"1","name":")";
    while (escapes.size() < 900000) escapes += R"(\\\\\\\"\")";
    escapes += R"(","typeShort":"t"})";
    for (const std::string* answer : {&farType, &manyItems, &escapes}) {
        std::size_t steps = 0;
        const std::vector<KladrItemSpan> spans = readKladrItems(answer->data(), answer->size(), 9, &steps);
        EXPECT_LE(spans.size(), 9u);
        EXPECT_LE(steps, answer->size());
        EXPECT_LE(CKladrRequest::scanItems(*answer, KLADR_REGION).size(), CKladrRequest::kItemLimit);
    }
    std::size_t steps = 0;
    readKladrItems(manyItems.data(), manyItems.size(), 9, &steps);
    EXPECT_LT(steps, 9u * 40u);  // stops behind the ninth item
}

TEST(RegistryUrls, RegisterAndClassifierRequests) {
    EXPECT_EQ(CEgrulRequest("7701234567", tesel::TS_LEGAL_ENTITY).getUrl(),
              R"(/api/abonents?where={"inn":"7701234567"})");
    // An INN cannot leave its JSON string or add query fields.
    EXPECT_EQ(CEgrulRequest(R"(1"}&x=\ 5)", tesel::TS_LEGAL_ENTITY).getUrl(),
              R"(/api/abonents?where={"inn":"1\"}%26x=\\%205"})");

    const std::string token = "0123456789abcdef01234567";
    const std::string region = tesel::convertFromUTF8("ОСЕТИЯ - АЛАНИЯ");
    EXPECT_EQ(CKladrRequest(region, KLADR_REGION, "ignored", token).getUrl(),
              "/api.php?query=ОСЕТИЯ%20-%20АЛАНИЯ&contentType=region&withParent=0&limit=8&token=" + token);
    EXPECT_EQ(CKladrRequest("Mo", KLADR_CITY, "7700000000000", token).getUrl(),
              "/api.php?query=Mo&contentType=city&regionId=7700000000000&withParent=0&limit=8&token=" + token);
    EXPECT_EQ(CKladrRequest("a&b", KLADR_STREET, "77", token).getUrl(),
              "/api.php?query=a%26b&contentType=street&cityId=77&withParent=0&limit=8&token=" + token);
    EXPECT_EQ(CKladrRequest("T", KLADR_STREET, "", token).getUrl(),
              "/api.php?query=T&contentType=street&withParent=0&limit=8&token=" + token);
}

TEST(RegistryUrls, ServiceAddressesAndToken) {
    std::string host = "keep";
    unsigned port = 7;
    EXPECT_TRUE(qn::http_transport::parseServiceAddress("https://reg.example.org:5443", host, port));
    EXPECT_EQ(host, "https://reg.example.org");
    EXPECT_EQ(port, 5443u);
    EXPECT_TRUE(qn::http_transport::parseServiceAddress("http://127.0.0.1:80", host, port));
    EXPECT_EQ(host, "http://127.0.0.1");
    for (const char* bad : {"127.0.0.1:80", "ftp://h:21", "http://h", "http://:80", "http://h:0", "http://h:65536",
                            "http://h:8x", "http://h/p:80", "http://h:", "http://a b:80"}) {
        EXPECT_FALSE(qn::http_transport::parseServiceAddress(bad, host, port)) << bad;
    }
    EXPECT_EQ(host, "http://127.0.0.1");
    EXPECT_EQ(port, 80u);

    EXPECT_TRUE(qn::http_transport::isClassifierToken("0123456789abcdef01234567"));
    EXPECT_FALSE(qn::http_transport::isClassifierToken("0123456789ABCDEF01234567"));
    EXPECT_FALSE(qn::http_transport::isClassifierToken("0123456789abcdef0123456"));
    EXPECT_TRUE(qn::http_transport::isClassifierToken(qn::http_transport::getClassifierToken()));
}
