// SPDX-License-Identifier: GPL-3.0-or-later
// The program's start and end around the core's app_startup: GTK, signals,
// one instance per profile, the password prompts, the window, the main loop
// and the shutdown order.
#pragma once

struct MainWindow;

// Everything from the icons to the first navigation entry, once the core has
// started (mounted repositories): builds, fills and wires the window without
// showing it.
void window_start(MainWindow* w);
// Undoes window_start: notifications removed, window destroyed if it lives.
void window_stop(MainWindow* w);

// Quits as a quit signal does: a running dialog is cancelled first, then
// the window goes (geometry saved when visible) and the main loop ends.
void app_request_quit(MainWindow* w);

// The whole program; returns the exit status.
int app_main(int argc, char** argv);
