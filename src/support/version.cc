// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/version.h"

#include "ordika_version.h"

const char* program_version() { return ORDIKA_VERSION; }
int program_build_number() { return ORDIKA_BUILD_NUMBER; }
