// A Windows program formatting messages with the real FormatMessageA, the
// peer of the portable formatter under Wine:
//   format_peer.exe MESSAGE-FILE CASES OUTPUT
// CASES holds a case a line: the message identifier in decimal, then each
// insert after a tab in hexadecimal. OUTPUT gets a line a case: "ok " and the
// text in hexadecimal, or "fail " and the error code. The file is loaded as the
// program loads message files; one of the other word size as a data file.

#include <windows.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

static LONG WINAPI EndOnCrash(EXCEPTION_POINTERS*) {
  ExitProcess(3);
  return EXCEPTION_EXECUTE_HANDLER;
}

int main(int argc, char** argv) {
  SetUnhandledExceptionFilter(EndOnCrash);
  if (argc != 4) return 2;
  HMODULE module =
      LoadLibraryExA(argv[1], nullptr, DONT_RESOLVE_DLL_REFERENCES);
  if (module == nullptr && GetLastError() == ERROR_BAD_EXE_FORMAT) {
    module = LoadLibraryExA(argv[1], nullptr, LOAD_LIBRARY_AS_DATAFILE);
  }
  FILE* cases = std::fopen(argv[2], "rb");
  FILE* output = std::fopen(argv[3], "wb");
  if (module == nullptr || cases == nullptr || output == nullptr) return 1;
  std::string pads[99];  // the inserts not given stay as they are written
  for (int i = 0; i < 99; ++i) pads[i] = "%" + std::to_string(i + 1);
  char line[8192];
  while (std::fgets(line, sizeof line, cases) != nullptr) {
    char* at = line;
    DWORD id = std::strtoul(line, &at, 10);
    std::vector<std::string> given;
    for (; *at == '\t' || std::isxdigit(static_cast<unsigned char>(*at));
         ++at) {
      if (*at == '\t') {
        given.emplace_back();
        continue;
      }
      char pair[3] = {at[0], at[1], '\0'};
      given.back() += static_cast<char>(std::strtoul(pair, nullptr, 16));
      ++at;
    }
    const char* inserts[99];
    for (std::size_t i = 0; i < 99; ++i) {
      inserts[i] = i < given.size() ? given[i].c_str() : pads[i].c_str();
    }
    char* buffer = nullptr;
    DWORD length = FormatMessageA(
        0x29FF, module, id, 0, reinterpret_cast<LPSTR>(&buffer), 0,
        reinterpret_cast<va_list*>(const_cast<char**>(inserts)));
    if (length == 0) {
      std::fprintf(output, "fail %lu\n", GetLastError());
      continue;
    }
    std::fprintf(output, "ok ");
    for (DWORD i = 0; i < length; ++i) {
      std::fprintf(output, "%02x", static_cast<unsigned char>(buffer[i]));
    }
    std::fprintf(output, "\n");
    LocalFree(buffer);
  }
  std::fclose(output);
  return 0;
}
