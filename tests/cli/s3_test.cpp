// Archives in S3-protocol buckets: s3:// addresses signed with AWS Signature Version 4 from the
// environment or the ~/.aws files, and presigned https addresses, against a server of our own
// that checks every signature.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/cli/cli_support.h"
#include "tests/fixtures/fixtures.h"

namespace fennic::test {
namespace {

class S3 : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(root.path() + "/bkt/some dir");
        const CommandResult made =
            RunCommand(std::string(FENNIC_PYTHON) +
                       " -c \"import os, sys, zipfile\n"
                       "with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:\n"
                       "  z.writestr('big.txt', 'line\\n' * 100000)\n"
                       "  z.writestr('small.txt', 'small')\n\" " +
                       Quote(root / "bkt/some dir/a b.zip"));
        ASSERT_EQ(made.status, 0) << made.output;
        local = Quote(root / "bkt/some dir/a b.zip");
        listing = RunFennic(home, "list --tsv " + local).output;
        ASSERT_FALSE(listing.empty());
    }
    Environment Keys(const std::string& secret = "s3cr3t/Key") const {
        return {{"AWS_ACCESS_KEY_ID", "AKIDTEST"},
                {"AWS_SECRET_ACCESS_KEY", secret},
                {"AWS_ENDPOINT_URL", server.Url("")},
                {"AWS_REGION", "eu-west-3"}};
    }
    // Each logged request's "field": value.
    std::vector<std::string> Logged(const std::string& field) const {
        std::vector<std::string> out;
        for (const std::string& line : server.Log()) {
            const std::string key = "\"" + field + "\": ";
            const size_t at = line.find(key);
            if (at == std::string::npos) continue;
            const size_t from = at + key.size();
            out.push_back(line.substr(from, line.find_first_of(",}", from) - from));
        }
        return out;
    }
    TempDir home, root;
    S3Server server{root.path(), "AKIDTEST", "s3cr3t/Key", "eu-west-3"};
    std::string local, listing;
};

TEST_F(S3, SignedRequestsListCatAndGet) {
    const std::string address = Quote("s3://bkt/some dir/a b.zip");
    std::string err;
    const CommandResult listed = RunFennic(home, "list --tsv " + address, &err, Keys());
    EXPECT_EQ(listed.status, 0) << err;
    EXPECT_EQ(listed.output, listing);
    const CommandResult cat = RunFennic(home, "cat " + address + " big.txt", &err, Keys());
    EXPECT_EQ(cat.status, 0) << err;
    EXPECT_EQ(cat.output, RunFennic(home, "cat " + local + " big.txt").output);
    const TempDir out;
    EXPECT_EQ(RunFennic(home, "get -d " + Quote(out.path()) + " " + address, &err, Keys()).status,
              0)
        << err;
    EXPECT_EQ(ReadFile(out / "small.txt"), "small");
    // Every request signed, and every one accepted.
    for (const std::string& auth : Logged("auth")) EXPECT_EQ(auth, "\"header\"");
    for (const std::string& status : Logged("status")) EXPECT_TRUE(status == "206") << status;
    EXPECT_GE(Logged("auth").size(), 3u);
}

TEST_F(S3, KeysComeFromTheProfilesFilesAndAWrongOneIsRefused) {
    home.Write(".aws/credentials",
               "[default]\naws_access_key_id = NOTTHISONE\naws_secret_access_key = x\n"
               "[work]\naws_access_key_id = AKIDTEST\naws_secret_access_key = s3cr3t/Key\n"
               "aws_session_token = tok3n\n");
    home.Write(".aws/config", "[profile work]\nregion = eu-west-3\n");
    const Environment profile = {{"HOME", home.path()}, {"AWS_PROFILE", "work"}};
    std::string err;
    const CommandResult r = RunFennic(
        home, "list --tsv --endpoint-url " + Quote(server.Url("")) + " s3://bkt/'some dir/a b.zip'",
        &err, profile);
    EXPECT_EQ(r.status, 0) << err;
    EXPECT_EQ(r.output, listing);
    EXPECT_EQ(Logged("token").back(), "\"tok3n\"");

    const CommandResult wrong =
        RunFennic(home, "list " + Quote("s3://bkt/some dir/a b.zip"), &err, Keys("not it"));
    EXPECT_EQ(wrong.status, 1);
    EXPECT_NE(err.find("403 Forbidden: SignatureDoesNotMatch"), std::string::npos) << err;
    EXPECT_EQ(Logged("status").back(), "403");
}

TEST_F(S3, PresignedAddressesWorkUntilTheyExpire) {
    const std::string url = server.Url("/bkt/some%20dir/a%20b.zip");
    std::string err;
    const CommandResult r = RunFennic(home, "list --tsv " + Quote(server.Presign(url, 300)), &err);
    EXPECT_EQ(r.status, 0) << err;
    EXPECT_EQ(r.output, listing);
    EXPECT_EQ(Logged("auth").back(), "\"query\"");
    const CommandResult expired =
        RunFennic(home, "list --tsv " + Quote(server.Presign(url, 60, 120)), &err);
    EXPECT_EQ(expired.status, 1);
    EXPECT_NE(err.find("AccessDenied: Request has expired"), std::string::npos) << err;
    // The signature stays between the user and the server.
    EXPECT_EQ(err.find("X-Amz-Signature="), err.find("X-Amz-Signature=***")) << err;
    EXPECT_EQ(Logged("status").back(), "403");
}

TEST_F(S3, MalformedAddressesAreRefusedBeforeAnythingIsSent) {
    for (const char* bad : {"s3://bkt", "s3://bkt/", "s3://B_k/a.zip", "s3://bkt/a\x01.zip"}) {
        SCOPED_TRACE(bad);
        std::string err;
        EXPECT_EQ(RunFennic(home, std::string("list ") + Quote(bad), &err, Keys()).status, 1);
        EXPECT_FALSE(err.empty());
    }
    EXPECT_TRUE(server.Log().empty());
}

}  // namespace
}  // namespace fennic::test
