#pragma once
// The kinds of source OpenRangeSource chooses from, each in its own file.

#include <memory>
#include <string>

#include "inet/url.h"
#include "remote/direct/range_source.h"

namespace fennic::remote {

// A local file or block device, read in place.
std::unique_ptr<IRangeSource> OpenLocal(const std::string& path, Error& error);
// name: the address without its password, for messages.
std::unique_ptr<IRangeSource> OpenHttpSource(const inet::UrlParts& parts, const std::string& name,
                                             const SourceOptions& options, Error& error);
std::unique_ptr<IRangeSource> OpenFtpSource(const inet::UrlParts& parts, const std::string& name,
                                            const SourceOptions& options, Error& error);

}  // namespace fennic::remote
