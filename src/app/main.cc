// SPDX-License-Identifier: GPL-3.0-or-later
// ordika: the desktop organizer.
#include "app/startup.h"

int main(int argc, char** argv) { return app_main(argc, argv); }
