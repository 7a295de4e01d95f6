// ordika-cli: the command-line companion of the Ordika window.
#include <cstdio>
#include <cstring>

static void usage(FILE* out) {
  std::fputs(
      "Usage: ordika-cli [--profile NAME] COMMAND [ARGUMENTS]\n"
      "\n"
      "The command-line companion of Ordika, working on the same profile and\n"
      "repositories as the window.\n",
      out);
}

int main(int argc, char** argv) {
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    usage(stdout);
    return argc < 2 ? 2 : 0;
  }
  std::fprintf(stderr, "ordika-cli: unknown command '%s'\n", argv[1]);
  return 2;
}
