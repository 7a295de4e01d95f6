// SPDX-License-Identifier: GPL-3.0-or-later
// Commands of ordika-cli that read or write files, and the detail text.
#pragma once

int cmd_show(int argc, char** argv);
int cmd_import(int argc, char** argv);
int cmd_export(int argc, char** argv);
