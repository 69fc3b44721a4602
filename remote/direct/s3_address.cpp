#include "remote/direct/s3_address.h"

#include <cstdlib>

#include "fs/file_io.h"

namespace fennic::remote {
namespace {

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

std::string Trim(const std::string& s) {
    const size_t a = s.find_first_not_of(" \t\r");
    if (a == std::string::npos) return "";
    return s.substr(a, s.find_last_not_of(" \t\r") + 1 - a);
}

// The keys of one section of an INI file of the user's; an unreadable or oversized file gives
// none.
std::string IniValue(const std::string& path, const std::string& section, const std::string& key) {
    std::string text;
    if (path.empty() || fs::ReadWholeFile(path, 1 << 20, text) != 0) return "";
    std::string current, found;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        const std::string line = Trim(text.substr(at, end - at));
        at = end + 1;
        if (line.empty() || line[0] == '#' || line[0] == ';') continue;
        if (line.front() == '[' && line.back() == ']') {
            current = Trim(line.substr(1, line.size() - 2));
            continue;
        }
        const size_t eq = line.find('=');
        if (current == section && eq != std::string::npos && Trim(line.substr(0, eq)) == key)
            found = Trim(line.substr(eq + 1));
    }
    return found;
}

std::string AwsFile(const char* variable, const char* name) {
    const std::string given = Env(variable);
    if (!given.empty()) return given;
    const std::string home = Env("HOME");
    return home.empty() ? "" : home + "/.aws/" + name;
}

bool ValidBucket(const std::string& b) {
    if (b.size() < 3 || b.size() > 63) return false;
    for (const char c : b)
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '-'))
            return false;
    return b.front() != '.' && b.front() != '-' && b.back() != '.' && b.back() != '-';
}

std::string EncodeKey(const std::string& key) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char ch : key) {
        const unsigned char c = static_cast<unsigned char>(ch);
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                           (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.' || c == '~' ||
                           c == '/';
        if (plain) {
            out += ch;
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

bool Printable(const std::string& s) {
    for (const char c : s)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return false;
    return true;
}

}  // namespace

bool IsS3Address(const std::string& location) {
    return location.compare(0, 5, "s3://") == 0;
}

bool ReadS3Settings(S3Settings& s, std::string& why) {
    std::string profile = Env("AWS_PROFILE");
    if (profile.empty()) profile = "default";
    s.accessKey = Env("AWS_ACCESS_KEY_ID");
    s.secretKey = Env("AWS_SECRET_ACCESS_KEY");
    s.sessionToken = Env("AWS_SESSION_TOKEN");
    if (s.accessKey.empty()) {
        const std::string file = AwsFile("AWS_SHARED_CREDENTIALS_FILE", "credentials");
        s.accessKey = IniValue(file, profile, "aws_access_key_id");
        s.secretKey = IniValue(file, profile, "aws_secret_access_key");
        s.sessionToken = IniValue(file, profile, "aws_session_token");
    }
    // The config file names profiles other than the default "profile NAME".
    const std::string config = AwsFile("AWS_CONFIG_FILE", "config");
    const std::string section = profile == "default" ? profile : "profile " + profile;
    std::string region = Env("AWS_REGION");
    if (region.empty()) region = Env("AWS_DEFAULT_REGION");
    if (region.empty()) region = IniValue(config, section, "region");
    if (!region.empty()) s.region = region;
    s.endpoint = Env("AWS_ENDPOINT_URL");
    if (s.endpoint.empty()) s.endpoint = IniValue(config, section, "endpoint_url");
    if (!s.accessKey.empty() && s.secretKey.empty()) {
        why = "the AWS access key " + s.accessKey + " has no secret key (AWS_SECRET_ACCESS_KEY)";
        return false;
    }
    return true;
}

bool ResolveS3Address(const std::string& location, const S3Settings& settings, std::string& url,
                      SourceOptions& options, Error& error) {
    const std::string rest = location.substr(5);
    const size_t slash = rest.find('/');
    const std::string bucket = rest.substr(0, slash);
    const std::string key = slash == std::string::npos ? "" : rest.substr(slash + 1);
    if (key.empty())
        return Fail(error, ErrorCode::kAddress,
                    "'" + location + "' names no key (s3://BUCKET/KEY)");
    if (!ValidBucket(bucket))
        return Fail(error, ErrorCode::kAddress,
                    "'" + bucket + "' is not a bucket name (3 to 63 of a-z, 0-9, '.' and '-')");
    // The region goes into the signature and the host name: one plain word.
    for (const char c : settings.region)
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-'))
            return Fail(error, ErrorCode::kAddress, "the AWS region is not a region's name");
    const std::string* fields[] = {&key, &settings.accessKey, &settings.secretKey,
                                   &settings.sessionToken, &settings.endpoint};
    for (const std::string* f : fields)
        if (!Printable(*f))
            return Fail(error, ErrorCode::kAddress,
                        "the S3 address or settings hold a control character; nothing was sent");
    if (settings.endpoint.empty()) {
        url = "https://" + bucket + ".s3." + settings.region + ".amazonaws.com/" + EncodeKey(key);
    } else {
        std::string base = settings.endpoint;
        while (!base.empty() && base.back() == '/') base.pop_back();
        url = base + "/" + bucket + "/" + EncodeKey(key);
    }
    if (!settings.accessKey.empty()) {
        options.awsSigV4 = "aws:amz:" + settings.region + ":s3";
        options.awsKey = settings.accessKey;
        options.awsSecret = settings.secretKey;
        options.awsToken = settings.sessionToken;
    }
    return true;
}

}  // namespace fennic::remote
