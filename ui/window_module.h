#pragma once
// What the program and the window module agree on. No toolkit header here: the command line
// includes it and looks the entry up by name, never linking it.

extern "C" int fennic_window_main(int argc, char** argv);

namespace fennic {
inline constexpr char kWindowEntryName[] = "fennic_window_main";
}
