// Holds a read-only mapping of the file argv[1] named argv[2], as another
// process does while it loads a file, prints "holding", and waits to be ended.

#include <windows.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  HANDLE file = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 3;
  HANDLE mapping =
      CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, argv[2]);
  if (mapping == nullptr) return 4;
  std::printf("holding\n");
  std::fflush(stdout);
  for (;;) Sleep(INFINITE);
}
