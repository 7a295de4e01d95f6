// SPDX-License-Identifier: GPL-3.0-or-later
// The program's version, in one place: the project version of the build
// (CMakeLists.txt). The about box shows it, the update check compares it and
// sends the build number.
#pragma once

// "1.3.3"
const char* program_version();
// The build number sent with the version request.
int program_build_number();
