// Command handlers, grouped by subject in handlers_*.cc. Each takes the
// window and the argument bound when its menu item was made.
#pragma once

struct MainWindow;

// Program (handlers_program.cc)
void on_quit(MainWindow* w, int);

// View (handlers_view.cc)
void on_back(MainWindow* w, int);
void on_forward(MainWindow* w, int);
void on_list_type(MainWindow* w, int type);
void on_completed(MainWindow* w, int);
void on_show_hide(MainWindow* w, int);
