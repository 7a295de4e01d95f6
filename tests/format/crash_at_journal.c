/* Preloaded into ordika-cli by check_formats.py: ends the process when
   SQLite is about to delete a repository's rollback journal, i.e. right after
   a commit has written the database file, as a crash at that moment would. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <string.h>
#include <unistd.h>

int unlink(const char *path)
{
    static const char suffix[] = "/data-journal";
    size_t n = strlen(path), s = sizeof suffix - 1;
    if (n >= s && strcmp(path + n - s, suffix) == 0)
        _exit(70);
    int (*real)(const char *) = (int (*)(const char *))dlsym(RTLD_NEXT, "unlink");
    return real(path);
}
