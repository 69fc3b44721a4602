#include "cli/window_loader.h"

#include <dlfcn.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/settings.h"
#include "ui/window_module.h"

#ifdef FENNIC_HAVE_UI
namespace fennic::cli {

namespace {

struct ModuleCloser {
    void operator()(void* handle) const { dlclose(handle); }
};
using ModuleHandle = std::unique_ptr<void, ModuleCloser>;

std::vector<std::string> ModuleCandidates() {
    const std::string dir = CSettings::GetProgramDir();
    const std::string installed = CSettings::FromProgramDir(dir, FENNIC_LIBDIR_FROM_BINDIR);
    return {dir + "/" FENNIC_WINDOW_MODULE, installed + "/" FENNIC_WINDOW_MODULE};
}

}  // namespace

int RunWindowModule(int argc, char** argv) {
    std::string errors;
    for (const std::string& path : ModuleCandidates()) {
        // GTK leaves exit handlers and threads behind: the module stays mapped (NODELETE)
        // after our handle goes.
        ModuleHandle module(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE));
        if (!module) {
            errors += std::string("\n  ") + dlerror();
            continue;
        }
        auto entry =
            reinterpret_cast<decltype(&fennic_window_main)>(dlsym(module.get(), kWindowEntryName));
        if (!entry) {
            std::fprintf(stderr, "fennic: %s is not the window module: %s\n", path.c_str(),
                         dlerror());
            return 1;
        }
        return entry(argc, argv);
    }
    std::fprintf(stderr,
                 "fennic: the window is not installed (%s not found beside the program "
                 "or in its library folder):%s\n",
                 FENNIC_WINDOW_MODULE, errors.c_str());
    return 1;
}

}  // namespace fennic::cli
#endif
