#pragma once
// The window lives in a module of its own so that subcommands never load the toolkit.

namespace fennic::cli {

// Loads the window module from beside the program (the build tree) or from the library folder
// next to its bin/ folder (installed), and runs the window. A missing or broken module is
// reported on stderr and gives 1.
int RunWindowModule(int argc, char** argv);

}  // namespace fennic::cli
