#pragma once
// s3://BUCKET/KEY: the HTTPS address of the object and how its requests are signed (AWS
// Signature Version 4), from the environment and the user's ~/.aws files as the usual tools
// read them.

#include <string>

#include "remote/direct/range_source.h"

namespace fennic::remote {

// What the environment and the files said.
struct S3Settings {
    std::string accessKey, secretKey, sessionToken;  // empty key: unsigned (a public bucket)
    std::string region = "us-east-1";
    std::string endpoint;  // e.g. "http://127.0.0.1:9000"; empty: the bucket's AWS address
};

// AWS_ACCESS_KEY_ID, AWS_SECRET_ACCESS_KEY and AWS_SESSION_TOKEN, else the profile
// (AWS_PROFILE, else "default") of AWS_SHARED_CREDENTIALS_FILE or ~/.aws/credentials; the
// region from AWS_REGION, AWS_DEFAULT_REGION or the profile in AWS_CONFIG_FILE or
// ~/.aws/config; the endpoint from AWS_ENDPOINT_URL or the profile's endpoint_url. A file that
// cannot be read is as good as none; false with `why` only for one that says too little (a
// key without its secret).
bool ReadS3Settings(S3Settings& settings, std::string& why);

// Whether `location` is an s3:// address.
bool IsS3Address(const std::string& location);

// The object's address: path-style below a custom endpoint ("ENDPOINT/BUCKET/KEY"), else
// "https://BUCKET.s3.REGION.amazonaws.com/KEY"; the key percent-encoded byte by byte but for
// '/'. The signing goes into options. False with the reason for a malformed address (no
// bucket or key, a bucket name S3 would refuse, a line break).
bool ResolveS3Address(const std::string& location, const S3Settings& settings, std::string& url,
                      SourceOptions& options, Error& error);

}  // namespace fennic::remote
