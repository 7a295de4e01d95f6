// SPDX-License-Identifier: GPL-3.0-or-later
// The about box.
#pragma once

// The GTK about dialog with the program's name, version and a comment that
// depends on whether a sync account is known.
void about_box();
