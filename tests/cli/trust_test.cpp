// The command line against hostile addresses and archives: nothing smuggled onto the wire,
// no failure reported as success, no archive byte or password reaching the terminal.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <mutex>

#include "tests/cli/cli_support.h"
#include "tests/cli/get_support.h"
#include "tests/fixtures/fixtures.h"
#include "tests/remote/remote_support.h"

namespace fennic::test {
namespace {

class CliTrust : public ::testing::Test {
protected:
    CommandResult Fennic(const std::string& args, std::string* err = nullptr) {
        return RunFennic(home, args, err);
    }
    // Runs python3 with a script that gets the folder as its first argument.
    void Python(const std::string& script) {
        WriteFile(home / "make.py", script);
        const CommandResult r =
            RunCommand("python3 " + Quote(home / "make.py") + " " + Quote(files.path()) + " 2>&1");
        ASSERT_EQ(r.status, 0) << r.output;
    }
    TempDir home;
    TempDir files;
};

// big.zip: a small entry first, far from the tail, and one in it.
const char kBigZip[] = R"(import sys, os, zipfile
d = sys.argv[1]
with zipfile.ZipFile(os.path.join(d, 'big.zip'), 'w') as z:
    z.writestr('first.txt', 'first')
    z.writestr('pad.bin', os.urandom(300000), compress_type=zipfile.ZIP_STORED)
    z.writestr('last.txt', 'last')
)";

bool HasCommand(const std::vector<std::string>& commands, const std::string& verb) {
    return std::any_of(commands.begin(), commands.end(),
                       [&](const std::string& c) { return c.compare(0, verb.size(), verb) == 0; });
}

TEST_F(CliTrust, LineBreaksInAnAddressSendNothing) {
    WriteFile(files / "a.zip", "PK\x05\x06" + std::string(18, '\0'));
    WriteFile(files / "important.txt", "keep me");
    PyFtpServer ftp(files.path(), "u", "p");
    const std::string at = "@127.0.0.1:" + std::to_string(ftp.port());
    const std::string urls[] = {
        "ftp://u:p" + at + "/a.zip%0D%0ADELE%20important.txt",
        "ftp://u:p" + at + "/a.zip%0ADELE%20important.txt",
        "ftp://u:p" + at + "/a.zip%00",
        "ftp://u%0D%0ADELE%20important.txt:p" + at + "/a.zip",
        "ftp://u:p%0D%0ARMD%20x" + at + "/a.zip",
    };
    for (const std::string& url : urls) {
        for (const std::string& command :
             {"fetch --size-only " + Quote(url) + " " + Quote(home / "out"), "list " + Quote(url),
              "extract --url-credentials " + Quote(url) + " x -o " + Quote(home / "x.zip")}) {
            SCOPED_TRACE(command);
            std::string err;
            EXPECT_EQ(Fennic(command, &err).status, 1);
            EXPECT_NE(err.find("line break"), std::string::npos) << err;
        }
    }
    // Not one command reached the server, so none could delete anything.
    EXPECT_TRUE(ftp.Commands().empty());
    EXPECT_FALSE(HasCommand(ftp.Commands(), "DELE"));
    EXPECT_EQ(ReadFile(files / "important.txt"), "keep me");
}

TEST_F(CliTrust, ArchivesThatCannotBeListedFailTheRemoteListing) {
    Python(R"(import sys, os, zipfile, subprocess
d = sys.argv[1]
open(os.path.join(d, 'a.txt'), 'w').write('hi\n')
subprocess.check_call(['zip', '-q', '-fz', 'z64.zip', 'a.txt'], cwd=d)
with zipfile.ZipFile(os.path.join(d, 'ok.zip'), 'w') as z:
    z.writestr('one.txt', 'one')
    z.writestr('two.txt', 'two')
b = bytearray(open(os.path.join(d, 'ok.zip'), 'rb').read())
cd = b.find(b'PK\x01\x02')
# A second central record whose signature is broken: the directory cannot be read.
second = b.find(b'PK\x01\x02', cd + 4)
b[second:second + 4] = b'XXXX'
open(os.path.join(d, 'broken.zip'), 'wb').write(b)
# One entry whose sizes carry the 64-bit marker and the 64-bit extra field.
with zipfile.ZipFile(os.path.join(d, 'big.zip'), 'w') as z:
    z.writestr('x.txt', 'x' * 10)
b = bytearray(open(os.path.join(d, 'big.zip'), 'rb').read())
cd = b.find(b'PK\x01\x02')
extra = b'\x01\x00\x10\x00' + (10).to_bytes(8, 'little') * 2
name_len = int.from_bytes(b[cd + 28:cd + 30], 'little')
b[cd + 20:cd + 28] = b'\xff' * 8
b[cd + 30:cd + 32] = len(extra).to_bytes(2, 'little')
b[cd + 46 + name_len:cd + 46 + name_len] = extra
end = b.find(b'PK\x05\x06')
b[end + 12:end + 16] = (int.from_bytes(b[end + 12:end + 16], 'little') + len(extra)).to_bytes(4, 'little')
open(os.path.join(d, 'big.zip'), 'wb').write(b)
)");
    NginxServer nginx(files.path());
    for (const std::string road : {"--classic ", ""}) {
        for (const std::string json : {"", "--json "}) {
            SCOPED_TRACE(road + json);
            std::string err;
            CommandResult r = Fennic("list " + road + json + Quote(nginx.Url("/broken.zip")), &err);
            EXPECT_EQ(r.status, 1) << r.output << err;
            EXPECT_NE(err.find(road.empty() ? "is damaged" : "no entry list"), std::string::npos)
                << err;
            // Locally the same archive fails the same way.
            EXPECT_EQ(Fennic("list " + road + json + Quote(files / "broken.zip"), &err).status, 1);
            // The tail file of the window's road cannot follow a ZIP64 locator; the direct
            // road and a whole local file can.
            r = Fennic("list " + road + json + Quote(nginx.Url("/z64.zip")), &err);
            if (road.empty()) {
                EXPECT_EQ(r.status, 0) << err;
                EXPECT_NE(r.output.find("a.txt"), std::string::npos) << r.output;
            } else {
                EXPECT_EQ(r.status, 1) << r.output << err;
                EXPECT_NE(err.find("ZIP64 archives are not supported"), std::string::npos) << err;
            }
            r = Fennic("list " + road + json + Quote(files / "z64.zip"), &err);
            EXPECT_EQ(r.status, 0) << err;
            EXPECT_NE(r.output.find("a.txt"), std::string::npos) << r.output;
        }
    }
    // The size of 4294967295 is the marker, never shown as a size: the 64-bit value is.
    for (const std::string& where : {files / "big.zip", nginx.Url("/big.zip")}) {
        const CommandResult big = Fennic("list " + Quote(where));
        EXPECT_EQ(big.status, 0) << where;
        EXPECT_EQ(big.output.find("4294967295"), std::string::npos) << big.output;
        EXPECT_NE(big.output.find("x.txt\tNO\t10\t"), std::string::npos) << big.output;
    }
}

TEST_F(CliTrust, ArchiveNamesCannotActOnTheTerminal) {
    Python(R"(import sys, os, zipfile
d = sys.argv[1]
names = ['esc\x1b[31mred.txt', 'osc\x1b]0;title\x07.txt', 'tab\there.txt', 'nl\nfake\trow.txt',
         'cr\rback.txt', 'nul_Z.txt', 'rtl\u202etxt.exe', 'c1\u009b2J.txt', 'plain.txt']
with zipfile.ZipFile(os.path.join(d, 'evil.zip'), 'w') as z:
    for n in names:
        z.writestr(n, 'x')
b = open(os.path.join(d, 'evil.zip'), 'rb').read().replace(b'nul_Z', b'nul_\x00')
open(os.path.join(d, 'evil.zip'), 'wb').write(b)
)");
    NginxServer nginx(files.path());
    for (const std::string& where : {files / "evil.zip", nginx.Url("/evil.zip")}) {
        SCOPED_TRACE(where);
        std::string err;
        const CommandResult r = Fennic("list " + Quote(where), &err);
        ASSERT_EQ(r.status, 0) << err;
        const std::string& out = r.output;
        // A header and nine rows of eight columns: no name adds a row or a column.
        EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 10) << out;
        EXPECT_EQ(std::count(out.begin(), out.end(), '\t'), 10 * 7) << out;
        for (char c : {'\x1b', '\x07', '\r', '\0'})
            EXPECT_EQ(out.find(c), std::string::npos) << int(c) << " in " << out;
        EXPECT_EQ(out.find("\xe2\x80\xae"), std::string::npos) << out;  // U+202E
        EXPECT_EQ(out.find("\xc2\x9b"), std::string::npos) << out;      // U+009B
        // Escaped visibly, so the names can still be told apart.
        for (const char* shown : {"esc\\x1B[31mred.txt", "tab\\there.txt", "nl\\nfake\\trow.txt",
                                  "nul_\\x00.txt", "rtl\\u202Etxt.exe", "plain.txt"})
            EXPECT_NE(out.find(shown), std::string::npos) << shown << " not in " << out;
        // JSON escapes the same characters its own way.
        const std::string json = Fennic("list --json " + Quote(where)).output;
        for (const char* raw : {"\x1b", "\x07", "\r", "\xe2\x80\xae", "\xc2\x9b"})
            EXPECT_EQ(json.find(raw), std::string::npos) << json;
        EXPECT_EQ(json.find(std::string(1, '\0')), std::string::npos);
        EXPECT_NE(json.find("rtl\\u202etxt.exe"), std::string::npos) << json;
    }
}

TEST_F(CliTrust, HttpRefusalsAreNamedOnTheCommandLine) {
    NginxServer nginx(files.path());
    WriteFile(files / "a.zip", "PK\x05\x06" + std::string(18, '\0'));
    NginxServer noRanges(files.path(), {/*max_ranges_zero=*/true});
    HostileHttpServer hostile(Answering(418, "I'm a \x1b[31mteapot"));
    HostileHttpServer refusing(Answering(403, "Forbidden"));
    const std::pair<std::string, std::string> cases[] = {
        {nginx.Url("/missing.zip"), "the server answered 404 Not Found"},
        {refusing.Url("/a.zip"), "the server answered 403 Forbidden"},
        {noRanges.Url("/a.zip"), "the server ignored the byte range (200 instead of 206)"},
        {hostile.Url("/a.zip"), "the server answered 418\n"},
    };
    for (const auto& [url, line] : cases) {
        for (const std::string& command :
             {"list --classic " + Quote(url),
              "extract --classic " + Quote(url) + " a -o " + Quote(home / "a.zip")}) {
            SCOPED_TRACE(command);
            std::string err;
            EXPECT_EQ(Fennic(command, &err).status, 1);
            // The window's words stay, and one line names the cause.
            EXPECT_NE(err.find("Failed to receive a valid HTTP response from the server"),
                      std::string::npos)
                << err;
            EXPECT_NE(err.find(line), std::string::npos) << err;
            EXPECT_EQ(err.find("teapot"), std::string::npos) << err;
        }
    }
}

TEST_F(CliTrust, DirectRoadNamesRefusalsAndStopsWhereRangesAreIgnored) {
    Python(kBigZip);
    NginxServer noRanges(files.path(), {/*max_ranges_zero=*/true});
    NginxServer nginx(files.path());
    HostileHttpServer hostile(Answering(418, "I'm a \x1b[31mteapot"));
    const std::pair<std::string, std::string> cases[] = {
        {nginx.Url("/missing.zip"), "the server answered 404 Not Found"},
        {hostile.Url("/a.zip"), "the server answered 418\n"},
        {noRanges.Url("/big.zip"), "does not send byte ranges"},
    };
    for (const auto& [url, line] : cases) {
        for (const std::string& command :
             {"list " + Quote(url), "extract " + Quote(url) + " a -o " + Quote(home / "a.zip")}) {
            SCOPED_TRACE(command);
            std::string err;
            EXPECT_EQ(Fennic(command, &err).status, 1);
            EXPECT_NE(err.find(line), std::string::npos) << err;
            EXPECT_EQ(err.find("teapot"), std::string::npos) << err;
            EXPECT_FALSE(Exists(home / "a.zip"));
        }
    }
    // Stopped before the body: nginx logged the whole archive as sent, yet the run was short.
    const std::string saved = home / "last.zip";
    std::string err;
    const CommandResult r = Fennic("extract --full-download " + Quote(noRanges.Url("/big.zip")) +
                                       " last.txt -o " + Quote(saved),
                                   &err);
    EXPECT_EQ(r.status, 0) << err;
    EXPECT_EQ(VerifySaved(saved, files / "big.zip"), "");
    // Two refused runs, each asking by suffix and then by offsets (both answered 200 and cut
    // off after the head), and one whole download.
    const auto log = noRanges.WaitForAccessLog(5);
    ASSERT_EQ(log.size(), 5u);
    for (const auto& entry : log) EXPECT_EQ(entry.status, 200);
    EXPECT_EQ(log[0].range, "bytes=-65633");
    EXPECT_EQ(log[1].range.rfind("bytes=", 0), 0u);
    EXPECT_NE(log[1].range, "bytes=-65633");
    EXPECT_EQ(Fennic("list --full-download " + Quote(noRanges.Url("/big.zip")), &err).status, 0)
        << err;
    // Where ranges work the entry past the tail takes one more range of its own.
    ASSERT_EQ(
        Fennic("extract " + Quote(nginx.Url("/big.zip")) + " first.txt -o " + Quote(saved), &err)
            .status,
        0)
        << err;
    EXPECT_EQ(VerifySaved(saved, files / "big.zip"), "");
    const auto direct = nginx.WaitForAccessLog(4);
    ASSERT_EQ(direct.size(), 4u);  // the two 404s above, the tail, the entry
    EXPECT_EQ(direct[2].range, "bytes=-65633");
    EXPECT_EQ(direct[3].range.compare(0, 8, "bytes=0-"), 0) << direct[3].range;
}

TEST_F(CliTrust, FtpFailuresQuoteTheReplyThatRefusedAndNameTheDataPort) {
    const uint16_t dead = FreePort();  // nobody listens there
    const std::string refused = "fennic: The server refused the request (127.0.0.1): ";
    const struct {
        const char* verb;
        std::string reply;
        std::string says;
        Strings last;  // the commands after EPSV
    } cases[] = {
        {"REST",
         "504 REST not allowed here",
         refused + "504 REST not allowed here\n",
         {"REST 34367", "QUIT"}},
        {"RETR",
         "550 Permission denied",
         refused + "550 Permission denied\n",
         {"REST 34367", "RETR /a.zip", "QUIT"}},
        {"EPSV",
         "229 Entering Extended Passive Mode (|||" + std::to_string(dead) + "|)",
         "fennic: The connection to the server could not be made: the data connection to port " +
             std::to_string(dead) + " failed: Connection refused (127.0.0.1)\n",
         {"QUIT"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.verb);
        ScriptFtpOptions options;
        options.files["/a.zip"] = PatternBytes(100000);  // the tail starts at 34367
        options.replies[c.verb] = c.reply;
        ScriptFtpServer server(options);
        std::string err;
        EXPECT_EQ(
            Fennic("list ftp://127.0.0.1:" + std::to_string(server.port()) + "/a.zip", &err).status,
            1);
        EXPECT_EQ(err, c.says);
        Strings want = {"USER anonymous", "PASS anonymous@", "TYPE I", "SIZE /a.zip", "EPSV"};
        want.insert(want.end(), c.last.begin(), c.last.end());
        EXPECT_EQ(server.Commands(), want);
    }
}

TEST_F(CliTrust, ARangeWhoseContentLengthIsNotItsOwnIsRefusedAtOnce) {
    Python(kBigZip);
    const std::string body = ReadFile(files / "big.zip");
    const auto number = [](size_t n) { return std::to_string(n); };
    // The Content-Length lines in place of the right one, and what is said about them; each
    // case answers the tail rightly but one.
    const struct {
        bool tail;
        std::function<std::string(size_t)> lines, says;
    } cases[] = {
        {false, [&](size_t n) { return "Content-Length: " + number(n + 1000) + "\r\n"; },
         [&](size_t n) {
             return "the server's Content-Length of " + number(n + 1000) +
                    " bytes is not the length of the range asked for (" + number(n) + " bytes)";
         }},
        {false,
         [&](size_t n) {
             return "Content-Length: " + number(n) + "\r\nContent-Length: " + number(n + 1000) +
                    "\r\n";
         },
         [&](size_t n) {
             return "the server sent Content-Length headers that differ (" + number(n) + " and " +
                    number(n + 1000) + " bytes)";
         }},
        {true,
         [&](size_t n) {
             return "Content-Length: " + number(n + 1000) + "\r\nContent-Length: " + number(n) +
                    "\r\n";
         },
         [&](size_t n) {
             return "the server sent Content-Length headers that differ (" + number(n + 1000) +
                    " and " + number(n) + " bytes)";
         }},
    };
    for (const auto& c : cases) {
        std::mutex mutex;
        size_t asked = 0;
        ScriptHttpServer server([&](const RawHttpRequest& req, HttpPeer& peer) {
            std::string head, part;
            if (!RangeAnswer(body, req.Header("range"), head, part)) {
                peer.Respond(416, "");
                return;
            }
            if ((req.Header("range")[6] == '-') == c.tail) {
                const std::string right = "Content-Length: " + number(part.size()) + "\r\n";
                head.replace(head.find(right), right.size(), c.lines(part.size()));
                std::lock_guard<std::mutex> lock(mutex);
                asked = part.size();
            }
            peer.Send(head + part);  // and the connection stays open
        });
        const std::string saved = home / "first.zip";
        std::string err;
        const auto started = std::chrono::steady_clock::now();
        const CommandResult r = Fennic(
            "extract " + Quote(server.Url("/big.zip")) + " first.txt -o " + Quote(saved), &err);
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
                                 std::chrono::steady_clock::now() - started)
                                 .count();
        std::lock_guard<std::mutex> lock(mutex);
        SCOPED_TRACE(c.lines(asked));
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(err, "fennic: " + c.says(asked) + "\n");
        EXPECT_LT(seconds, 20) << "the refusal waited for the idle limit";
        EXPECT_EQ(server.Requests().size(), c.tail ? 1u : 2u);
        EXPECT_FALSE(Exists(saved));
    }
}

TEST_F(CliTrust, PasswordsNeverAppearInMessages) {
    NginxServer nginx(files.path());  // no archive there: every road fails
    const std::string closed = "127.0.0.1:" + std::to_string(FreePort());
    const std::string http = "127.0.0.1:" + std::to_string(nginx.port());
    for (const std::string& url :
         {"http://alice:S3cretPW@" + http + "/missing.zip",
          "http://alice:S3cretPW@" + closed + "/a.zip", "ftp://alice:S3cretPW@" + closed + "/a.zip",
          "http://alice:S3cretPW/x?y@" + closed + "/a.zip"}) {
        SCOPED_TRACE(url);
        std::string err;
        EXPECT_EQ(Fennic("list " + Quote(url), &err).status, 1);
        EXPECT_FALSE(err.empty());
        EXPECT_EQ(err.find("S3cretPW"), std::string::npos) << err;
        EXPECT_EQ(Fennic("list --json " + Quote(url), &err).status, 1);
        EXPECT_EQ(err.find("S3cretPW"), std::string::npos) << err;
        EXPECT_EQ(
            Fennic("extract " + Quote(url) + " a.txt -o " + Quote(home / "a.zip"), &err).status, 1);
        EXPECT_EQ(err.find("S3cretPW"), std::string::npos) << err;
        // An address that does not split is a usage error for fetch.
        EXPECT_NE(Fennic("fetch " + Quote(url) + " " + Quote(home / "f"), &err).status, 0);
        EXPECT_EQ(err.find("S3cretPW"), std::string::npos) << err;
    }
}

}  // namespace
}  // namespace fennic::test
