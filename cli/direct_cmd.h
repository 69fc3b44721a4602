#pragma once
// `fennic list` and `fennic extract` on the direct road: an address (http, https, ftp) or a
// local path, read by ranges.

#include "cli/commands.h"

namespace fennic::cli {

// Whether the arguments ask for the design's three-transfer road (--classic); the switch is
// taken out of args.
bool TakeClassic(Args& args);

int DirectList(const Args& args);
int DirectExtract(const Args& args);

}  // namespace fennic::cli
