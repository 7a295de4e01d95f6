// SPDX-License-Identifier: GPL-3.0-or-later
// The calendar and contacts account commands of ordika-cli.
#pragma once

// argv starts at "dav".
int cli_dav_command(int argc, char** argv);
