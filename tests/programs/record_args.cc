// A stand-in alert program for the tests of the process backends: it writes
// the number of arguments it received, then each argument, one a line, at
// the end of the file named by SENTORY_RECORD_ARGS. When
// SENTORY_RECORD_ARGS_DELAY_MS is set it first waits that many milliseconds, so
// a test can tell whether its starter waited for it.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

int main(int argc, char** argv) {
  const char* path = std::getenv("SENTORY_RECORD_ARGS");
  if (path == nullptr) return 2;
  const char* delay = std::getenv("SENTORY_RECORD_ARGS_DELAY_MS");
  if (delay != nullptr) {
    std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(delay)));
  }
  std::FILE* file = std::fopen(path, "ab");
  if (file == nullptr) return 3;
  std::fprintf(file, "%d\n", argc - 1);
  for (int i = 1; i < argc; ++i) std::fprintf(file, "%s\n", argv[i]);
  return std::fclose(file) == 0 ? 0 : 4;
}
