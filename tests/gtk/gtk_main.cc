// SPDX-License-Identifier: GPL-3.0-or-later
// GTK must be initialised once, with a display (CTest runs this under Xvfb).
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/log.h"
#include "support/strings.h"
#include "views/icons_gtk.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  // Neither an accessibility bus nor the user's settings take part.
  setenv("NO_AT_BRIDGE", "1", 1);
  setenv("GSETTINGS_BACKEND", "memory", 1);
  if (!gtk_init_check(&argc, &argv)) {
    fprintf(stderr, "no display: run under xvfb-run\n");
    return 1;
  }
  char dir[] = "/tmp/ordika-gtk-test-XXXXXX";
  if (!mkdtemp(dir)) return 1;
  std::string log = std::string(dir) + "/ordika.log";
  log_set_file(log.c_str());
  strings_set_language(0);
  if (icons_load(1) != 0) return 1;
  int rc = RUN_ALL_TESTS();
  log_stop();
  std::remove(log.c_str());
  rmdir(dir);
  return rc;
}
