// The cause an object store gives in the body of an error answer: the known XML and JSON shapes,
// hostile text made one harmless line, and the bounds on what is read.
#include "remote/direct/error_body.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "remote/direct/direct_road.h"
#include "remote/direct/range_source.h"
#include "tests/fixtures/fixtures.h"

namespace fennic::remote {
namespace {

TEST(ErrorBody, KnownShapesGiveCodeAndMessageOtherBodiesNothing) {
    const std::string longText(10000, 'x');
    const struct {
        std::string body, cause;
    } cases[] = {
        {"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Error><Code>AccessDenied</Code>"
         "<Message>Request has expired</Message><X-Amz-Expires>300</X-Amz-Expires>"
         "<RequestId>4C2E</RequestId></Error>",
         "AccessDenied: Request has expired"},
        {"\xEF\xBB\xBF<Error><Code>AuthenticationFailed</Code><Message>Server failed\n"
         "RequestId:1 &amp; &#x3C;more&#62;</Message></Error>",
         "AuthenticationFailed: Server failed RequestId:1 & <more>"},
        {"<Error><Code>NoSuchKey</Code></Error>", "NoSuchKey"},
        {"{\"error\": {\"code\": 403, \"message\": \"Anonymous caller has no access.\", "
         "\"errors\": [{\"message\": \"other\", \"reason\": \"forbidden\"}]}}",
         "403: Anonymous caller has no access."},
        {"{\"code\": \"unauthorized\", \"message\": \"Expired \\\"token\\\" \\u00e9 "
         "\\ud83d\\ude00\","
         " \"status\": 401}",
         "unauthorized: Expired \"token\" \xC3\xA9 \xF0\x9F\x98\x80"},
        {"{\"code\": \"Cut\", \"message\": \"before the end", "Cut"},
        // Hostile text: escape sequences, a line of its own, a reversed direction, length.
        {"<Error><Code>\x1b]0;pwn\x07</Code><Message>a\r\nfennic: fake line\xE2\x80\xAE"
         "</Message></Error>",
         "]0;pwn: a fennic: fake line\\u202E"},
        {"<Error><Message>" + longText + "</Message></Error>", std::string(240, 'x') + "..."},
        {"{\"error\": {\"message\": {\"code\": \"nested\"}}, \"message\": \"top\"}", "top"},
        // Not a known shape.
        {"<html><body><Error><Code>X</Code></Error></body></html>", ""},
        {"{\"error\": \"invalid_token\", \"error_description\": \"x\"}", ""},
        {"[{\"code\": \"X\"}]", ""},
        {std::string(5000, '[') + "{\"code\": \"deep\"}", ""},
        {"{" + std::string(5000, '{'), ""},
        {"", ""},
        {"Forbidden", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body.substr(0, 80));
        EXPECT_EQ(ErrorBodyCause(c.body), c.cause);
    }
}

// The direct road's message for an error answer: the cause from a body of a known type and
// shape within its first 4 KiB, nothing from any other.
TEST(ErrorBody, TheDirectRoadAddsTheCauseToTheStatus) {
    const std::string expired =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Error><Code>AccessDenied</Code>"
        "<Message>Request has expired</Message></Error>";
    const std::string late = "<Error><Code>Late</Code><Message>" +
                             std::string(kErrorBodyBytes, 'x') + "</Message></Error>";
    const struct {
        std::string type, body, message;
    } cases[] = {
        {"Content-Type: application/xml", expired,
         "the server answered 403 Forbidden: AccessDenied: Request has expired"},
        {"X-Type: none", expired,
         "the server answered 403 Forbidden: AccessDenied: Request has expired"},
        {"Content-Type: application/problem+json; charset=utf-8",
         "{\"code\": \"Expired\", \"message\": \"gone\"}",
         "the server answered 403 Forbidden: Expired: gone"},
        {"Content-Type: text/html", expired, "the server answered 403 Forbidden"},
        {"Content-Type: application/xml", late, "the server answered 403 Forbidden: Late"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type + " " + c.body.substr(0, 60));
        fennic::test::ScriptHttpServer server(
            [&](const fennic::test::RawHttpRequest&, fennic::test::HttpPeer& peer) {
                peer.Respond(403, c.body, {c.type});
            });
        Error error;
        auto source = OpenRangeSource(server.Url("/a.zip"), SourceOptions(), error);
        ASSERT_TRUE(source) << error.message;
        DirectArchive archive;
        EXPECT_FALSE(ReadDirect(*source, archive, error));
        EXPECT_EQ(error.message, c.message);
        EXPECT_EQ(error.httpStatus, 403);
    }
}

// A body that trickles is not waited for: the status goes out after a moment.
TEST(ErrorBody, ATricklingBodyIsNotWaitedFor) {
    fennic::test::Gate never;
    fennic::test::ScriptHttpServer server(
        [&](const fennic::test::RawHttpRequest&, fennic::test::HttpPeer& peer) {
            const std::string body = "<Error><Code>Slow</Code></Error>";
            peer.Send(
                "HTTP/1.1 403 Forbidden\r\nContent-Type: application/xml\r\n"
                "Content-Length: " +
                std::to_string(body.size()) + "\r\n\r\n");
            for (char c : body) {
                if (!peer.Send(std::string(1, c)) || never.Wait(300)) return;
            }
        });
    Error error;
    auto source = OpenRangeSource(server.Url("/a.zip"), SourceOptions(), error);
    ASSERT_TRUE(source) << error.message;
    DirectArchive archive;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(ReadDirect(*source, archive, error));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(6));
    EXPECT_EQ(error.message, "the server answered 403 Forbidden");
}

}  // namespace
}  // namespace fennic::remote
