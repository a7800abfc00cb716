// A stand-in alert program: adds the number of its arguments, then each, one
// a line, to the file SENTORY_RECORD_ARGS names, after waiting
// SENTORY_RECORD_ARGS_DELAY_MS milliseconds when set.

#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  const char* path = std::getenv("SENTORY_RECORD_ARGS");
  if (path == nullptr) return 2;
  if (const char* delay = std::getenv("SENTORY_RECORD_ARGS_DELAY_MS")) {
    Sleep(std::atoi(delay));
  }
  std::FILE* file = std::fopen(path, "ab");
  if (file == nullptr) return 3;
  std::fprintf(file, "%d\n", argc - 1);
  for (int i = 1; i < argc; ++i) std::fprintf(file, "%s\n", argv[i]);
  return std::fclose(file) == 0 ? 0 : 4;
}
