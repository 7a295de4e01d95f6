// Program commands.
#include "app/handlers.h"
#include "app/main_window.h"

void on_quit(MainWindow* w, int) { main_window_quit(w); }
