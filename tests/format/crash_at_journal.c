// SPDX-License-Identifier: GPL-3.0-or-later
/* Preloaded into ordika-cli by check_formats.py: ends the process when
   SQLite is about to delete the rollback journal whose path ends with
   $ORDIKA_CRASH_JOURNAL, i.e. right after a commit has written the database
   file, as a crash at that moment would. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

int unlink(const char *path)
{
    const char *suffix = getenv("ORDIKA_CRASH_JOURNAL");
    if (suffix && *suffix) {
        size_t n = strlen(path), s = strlen(suffix);
        if (n >= s && strcmp(path + n - s, suffix) == 0)
            _exit(70);
    }
    int (*real)(const char *) = (int (*)(const char *))dlsym(RTLD_NEXT, "unlink");
    return real(path);
}
