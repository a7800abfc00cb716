#ifndef SENTORY_WINFORMAT_COMMAND_LINE_H_
#define SENTORY_WINFORMAT_COMMAND_LINE_H_

#include <string>
#include <string_view>
#include <vector>

namespace sentory {

/// Splits a command line into arguments by the rules of the Windows C
/// runtime: blanks and tabs separate arguments; double quotes group, and a
/// doubled quote inside a quoted part is one quote; 2n backslashes before a
/// quote are n backslashes and the quote takes effect, 2n+1 backslashes are
/// n backslashes and a literal quote; other backslashes are literal.
/// The first argument (the program) is taken as Windows takes it: up to the
/// next blank, or the whole of a quoted part, with no escapes.
std::vector<std::string> SplitCommandLine(std::string_view line);

}  // namespace sentory

#endif  // SENTORY_WINFORMAT_COMMAND_LINE_H_
