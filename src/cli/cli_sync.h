// SPDX-License-Identifier: GPL-3.0-or-later
// The account, server and sync commands of ordika-cli.
#pragma once

// argv starts at the command name ("account", "server" or "sync").
int cli_sync_command(int argc, char** argv);
