#include "app/strings.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace fennic {
namespace {

struct Entry {
    unsigned id;
    const char* text;
};

// The HTTP engine's texts (102 to 134) and the FTP engine's (202 to 240) share wording.
constexpr Entry kTable[] = {
    {101, "&About Fennic..."},
    {102, "%1 from %2"},
    {103, "Connected to %1"},
    {104, "Resolving name: %1"},
    {105, "Resolved name to %1"},
    {106, "Connecting to %1"},
    {107, "Redirecting to %1"},
    {108, "Getting file information"},
    {110, "An error occurred while attempting to download the file, Error:%1"},
    {111, "An error occurred connecting to the server, Error:%1"},
    {112, "Failed to receive a valid response from the server"},
    {113, "Failed to receive a valid HTTP response from the server"},
    {114, "An error occurred while downloading the file, Error:%1"},
    {115, "%1% of %2 Completed"},
    {116, "Retrieving the file"},
    {117, "%1 of %2"},
    {118, "%1 sec"},
    {119, "%1 min"},
    {120, "%1 min %2 sec"},
    {121, "%1 Bytes"},
    {123, "%1 KB"},
    {125, "%1 MB"},
    {127, "%1 (%2 copied)"},
    {128, "%1 Bytes/Sec"},
    {129, "%1 KB/Sec"},
    {131, "An error occured while opening the file to be downloaded, Error:%1"},
    {132, "Aborting transfer"},
    {133, "An error occurred while seeking to the end of the file to be downloaded, Error:%1"},
    {134, "Server can't support HTTP_QUERY_CONTENT_LENGTH method, Error:%1"},
    {202, "%1 from %2"},
    {203, "Connected to %1"},
    {204, "Resolving name: %1"},
    {205, "Resolved name to %1"},
    {206, "Connecting to %1"},
    {207, "An error occurred while attempting to open the specified remote file, Error:%1"},
    {208, "Getting file information"},
    {210, "An error occurred while attempting to transfer the file, Error:%1"},
    {211, "An error occurred connecting to the server, Error:%1"},
    {214, "An error occurred while downloading the file, Error:%1"},
    {215, "%1% of %2 Completed"},
    {216, "Retrieving the file"},
    {217, "%1 of %2"},
    {218, "%1 sec"},
    {219, "%1 min"},
    {220, "%1 min %2 sec"},
    {221, "%1 Bytes"},
    {223, "%1 KB"},
    {225, "%1 MB"},
    {226,
     "FtpCommand method (which is required to support FTP resumes) is not available on this "
     "machine. Please upgrade to Internet Explorer 5 or later."},
    {227, "%1 (%2 copied)"},
    {228, "%1 Bytes/Sec"},
    {229, "%1 KB/Sec"},
    {230, "The file '%1' already exists.\nDo you want to replace it?"},
    {231, "An error occured while opening the file to be downloaded, Error:%1"},
    {232, "Aborting transfer"},
    {236, "An error occurred while resuming the transfer, Error:%1"},
    {238, "The server reports that resume is not supported, Error:%1"},
    {239, "An error occurred while seeking to the end of the file to be downloaded, Error:%1"},
    {240, "Failed to create the connection thread, Error:%1"},
    {57345, "File Name"},
    {57346, "Dir"},
    {57347, "Size"},
    {57348, "Time"},
    {57349, "Attr"},
    {57350, "Ratio"},
    {57351, "CRC"},
    {57352, "Comment"},
};

}  // namespace

const std::string& LoadString(unsigned id) {
    static const std::string kEmpty;
    static const auto* texts = [] {
        auto* v = new std::pair<unsigned, std::string>[std::size(kTable)];
        std::transform(std::begin(kTable), std::end(kTable), v,
                       [](const Entry& e) { return std::make_pair(e.id, std::string(e.text)); });
        return v;
    }();
    const auto* end = texts + std::size(kTable);
    const auto* it =
        std::lower_bound(texts, end, id, [](const auto& e, unsigned key) { return e.first < key; });
    return (it != end && it->first == id) ? it->second : kEmpty;
}

std::string FillMessage(const std::string& text, const std::string& arg1, const std::string& arg2) {
    std::string out;
    out.reserve(text.size() + arg1.size() + arg2.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 1 < text.size() && (text[i + 1] == '1' || text[i + 1] == '2')) {
            out += text[i + 1] == '1' ? arg1 : arg2;
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string FormatMessageId(unsigned id, const std::string& arg1, const std::string& arg2) {
    return FillMessage(LoadString(id), arg1, arg2);
}

}  // namespace fennic
