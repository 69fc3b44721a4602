// The one symbol the window module exports.

#include "ui/window_module.h"

namespace fennic::ui {
int RunWindowFrontEnd(int argc, char** argv);
}

extern "C" __attribute__((visibility("default"))) int fennic_window_main(int argc, char** argv) {
    return fennic::ui::RunWindowFrontEnd(argc, argv);
}
