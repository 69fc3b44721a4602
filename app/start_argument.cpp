#include "app/start_argument.h"

#include <sys/stat.h>

#include "inet/url.h"

namespace fennic {

StartArgument ReadStartArgument(const std::string& argument, std::string& path) {
    std::string local = argument;
    const bool fileUrl = inet::LocalPathOfFileUrl(argument, local);
    struct stat st {};
    if (::stat(local.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) return StartArgument::kNone;
        path = local;
        return StartArgument::kLocalArchive;
    }
    return !fileUrl && argument.find("://") != std::string::npos ? StartArgument::kAddress
                                                                 : StartArgument::kNone;
}

}  // namespace fennic
