#pragma once
// OrvexUpdate as the executable runs it: the program's own unit-control paths,
// or, with -simulate[=SCENARIO], the same paths against an emulated studio.
#include <string>
#include <vector>

#include "updater/OrvexUpdateApp.h"

// -simulate runs the built-in default studio; -simulate=NAME a built-in
// scenario by name, or a scenario file by path.
inline constexpr const char* kSimulateFlag = "-simulate";

// The unit-control paths the program tries, in order.
UnitControlFactories ProgramFactories();
// The process: start-up checks, the window through `runner`, the exit line.
// A scenario that cannot be read is reported (a box, unless -autoanswer is
// given, and the standard error) and the program ends with 2 before it
// touches anything.
int RunOrvexUpdate(const std::vector<std::string>& args, const COrvexUpdateApp::WindowRunner& runner);
