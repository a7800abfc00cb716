#include "winformat/command_line.h"

namespace sentory {
namespace {

bool IsSeparator(char c) { return c == ' ' || c == '\t'; }

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view line) {
  std::vector<std::string> args;
  std::size_t i = 0;
  const std::size_t n = line.size();

  // The program name: backslashes are path separators there, never escapes.
  while (i < n && IsSeparator(line[i])) ++i;
  if (i == n) return args;
  std::string program;
  bool quoted = false;
  for (; i < n; ++i) {
    char c = line[i];
    if (c == '"') {
      quoted = !quoted;
    } else if (!quoted && IsSeparator(c)) {
      break;
    } else {
      program += c;
    }
  }
  args.push_back(std::move(program));

  for (;;) {
    while (i < n && IsSeparator(line[i])) ++i;
    if (i == n) break;
    std::string arg;
    bool in_quotes = false;
    while (i < n && (in_quotes || !IsSeparator(line[i]))) {
      std::size_t backslashes = 0;
      while (i < n && line[i] == '\\') {
        ++backslashes;
        ++i;
      }
      if (i < n && line[i] == '"') {
        arg.append(backslashes / 2, '\\');
        if (backslashes % 2 == 1) {
          arg += '"';
          ++i;
        } else if (in_quotes && i + 1 < n && line[i + 1] == '"') {
          arg += '"';  // "" inside quotes is a literal quote
          i += 2;
        } else {
          in_quotes = !in_quotes;
          ++i;
        }
      } else {
        arg.append(backslashes, '\\');
        if (i < n && (in_quotes || !IsSeparator(line[i]))) arg += line[i++];
      }
    }
    args.push_back(std::move(arg));
  }
  return args;
}

}  // namespace sentory
