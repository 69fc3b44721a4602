#pragma once
// One version of a file on a server, as the answers about it show it: what ties the requests
// of one run to one archive.

#include <cstdint>
#include <string>

namespace fennic::inet {

class HttpRequest;

struct ResourceVersion {
    uint64_t size = 0;
    std::string etag;          // a strong ETag as sent, quotes included; empty: none or weak
    std::string lastModified;  // HTTP: the Last-Modified text; FTP: MDTM's time
};

// The answer's ETag (only a strong one) and Last-Modified into version, each only when it can
// go back on the wire in a request: printable, one line, at most 200 bytes. Others are left
// empty.
void ReadValidators(HttpRequest& request, ResourceVersion& version);

// Whether `now` can be the file `first` was: the same size when both know one (size 0: not
// known), and each validator the same where both have it.
bool SameVersion(const ResourceVersion& first, const ResourceVersion& now);

}  // namespace fennic::inet
