// A Windows program that formats messages with the real FormatMessageA, as
// the peer of the portable formatter: run under Wine, it gives the text the
// Linux build must give byte for byte.
//
//   format_peer.exe MESSAGE-FILE CASES OUTPUT
//
// CASES holds one case a line: the message identifier in hexadecimal, then
// the insert texts, each after a tab, with \r \n \t \\ escaped. OUTPUT gets
// one line a case: "ok " and the text in hexadecimal, or "fail " and the
// error code. The file is loaded as the program loads message files; a file
// of the other word size, which cannot be, is loaded as a data file.

#include <windows.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr DWORD kFlags = 0x29FF;
constexpr int kMaxInserts = 99;

std::string Unescape(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out.push_back(text[i]);
      continue;
    }
    char c = text[++i];
    out.push_back(c == 'r' ? '\r' : c == 'n' ? '\n' : c == 't' ? '\t' : c);
  }
  return out;
}

LONG WINAPI EndOnCrash(EXCEPTION_POINTERS*) {
  ExitProcess(3);
  return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

int main(int argc, char** argv) {
  SetUnhandledExceptionFilter(EndOnCrash);
  if (argc != 4) return 2;
  HMODULE module =
      LoadLibraryExA(argv[1], nullptr, DONT_RESOLVE_DLL_REFERENCES);
  if (module == nullptr && GetLastError() == ERROR_BAD_EXE_FORMAT) {
    module = LoadLibraryExA(argv[1], nullptr, LOAD_LIBRARY_AS_DATAFILE);
  }
  if (module == nullptr) return 1;
  FILE* cases = std::fopen(argv[2], "rb");
  FILE* output = std::fopen(argv[3], "wb");
  if (cases == nullptr || output == nullptr) return 1;
  std::array<std::string, kMaxInserts> pads;
  for (int i = 0; i < kMaxInserts; ++i) pads[i] = "%" + std::to_string(i + 1);
  char line[4096];
  while (std::fgets(line, sizeof line, cases) != nullptr) {
    std::string text = line;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
      text.pop_back();
    }
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
      std::size_t tab = text.find('\t', start);
      fields.push_back(Unescape(text.substr(start, tab - start)));
      if (tab == std::string::npos) break;
      start = tab + 1;
    }
    DWORD id = std::strtoul(fields[0].c_str(), nullptr, 16);
    std::array<const char*, kMaxInserts> inserts;
    for (int i = 0; i < kMaxInserts; ++i) {
      std::size_t field = static_cast<std::size_t>(i) + 1;
      inserts[i] =
          field < fields.size() ? fields[field].c_str() : pads[i].c_str();
    }
    char* buffer = nullptr;
    DWORD length = FormatMessageA(
        kFlags, module, id, 0, reinterpret_cast<LPSTR>(&buffer), 0,
        reinterpret_cast<va_list*>(const_cast<char**>(inserts.data())));
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
  std::fclose(cases);
  FreeLibrary(module);
  return 0;
}
