#include "inet/resource_version.h"

#include "inet/http.h"

namespace fennic::inet {
namespace {

std::string Validator(HttpRequest& request, const char* name, bool strong) {
    std::string value;
    if (!request.QueryHeader(name, value) || value.empty() || value.size() > 200) return "";
    for (const char c : value)
        if (c < 0x20 || c > 0x7e) return "";
    // A weak ETag cannot be asked for with a range.
    if (strong && (value.size() < 2 || value.front() != '"' || value.back() != '"')) return "";
    return value;
}

bool SameWhereBoth(const std::string& a, const std::string& b) {
    return a.empty() || b.empty() || a == b;
}

}  // namespace

void ReadValidators(HttpRequest& request, ResourceVersion& version) {
    version.etag = Validator(request, "ETag", true);
    version.lastModified = Validator(request, "Last-Modified", false);
}

bool SameVersion(const ResourceVersion& first, const ResourceVersion& now) {
    return (first.size == 0 || now.size == 0 || first.size == now.size) &&
           SameWhereBoth(first.etag, now.etag) &&
           SameWhereBoth(first.lastModified, now.lastModified);
}

}  // namespace fennic::inet
