#include "remote/direct/entry_select.h"

#include <fnmatch.h>

#include <algorithm>

#include "app/entry_columns.h"

namespace fennic::remote {

std::string EntryPathName(const CZipEntryHeader& header) {
    std::string name = EntryNameUtf8(header);
    std::replace(name.begin(), name.end(), '\\', '/');
    return name;
}

std::vector<size_t> SelectEntries(const CZipDirectory& dir,
                                  const std::vector<std::string>& patterns,
                                  std::vector<std::string>& unmatched) {
    std::vector<size_t> out;
    if (patterns.empty()) {
        out.reserve(dir.GetCount());
        for (size_t i = 0; i < dir.GetCount(); ++i) out.push_back(i);
        return out;
    }
    struct Pattern {
        std::string text;    // with '/' for '\'
        std::string folder;  // the text as a folder, ending in '/'
        bool glob = false;
        bool used = false;
    };
    std::vector<Pattern> list;
    for (const std::string& p : patterns) {
        Pattern q;
        q.text = p;
        std::replace(q.text.begin(), q.text.end(), '\\', '/');
        q.folder = q.text;
        while (!q.folder.empty() && q.folder.back() == '/') q.folder.pop_back();
        q.folder += '/';
        q.glob = q.text.find_first_of("*?[") != std::string::npos;
        list.push_back(std::move(q));
    }
    for (size_t i = 0; i < dir.GetCount(); ++i) {
        const std::string name = EntryPathName(dir.GetHeader(i));
        bool taken = false;
        for (Pattern& p : list) {
            const bool hit = name == p.text || name.compare(0, p.folder.size(), p.folder) == 0 ||
                             (p.glob && ::fnmatch(p.text.c_str(), name.c_str(), 0) == 0);
            if (hit) {
                p.used = true;
                taken = true;
            }
        }
        if (taken) out.push_back(i);
    }
    for (const Pattern& p : list) {
        if (!p.used) unmatched.push_back(p.text);
    }
    return out;
}

}  // namespace fennic::remote
