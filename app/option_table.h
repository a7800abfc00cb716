#ifndef SENTORY_APP_OPTION_TABLE_H_
#define SENTORY_APP_OPTION_TABLE_H_

#include <map>
#include <string>
#include <string_view>

namespace sentory {

/// The command line after startup: option keys ("/SYS", "/M0", ...) in upper
/// case, each with the word that followed it as its value, if any.
class OptionTable {
 public:
  /// Fills the table from the words the process received; the first word,
  /// the program's own name, is not read. The words must outlive the table:
  /// values refer to them.
  void ParseCommandLine(int count, const char* const* words);

  /// The value stored for |key| (given in upper case), or nullptr when the
  /// key is absent or present without a value.
  const char* OptionValue(std::string_view key) const;

  /// True when |key| (given in upper case) is present, with or without a
  /// value.
  bool HasOption(std::string_view key) const;

  /// The key of a numbered option: |letters| followed by |index| in decimal
  /// ("/M" and 0 give "/M0").
  static std::string NumberedKey(std::string_view letters, int index);

 private:
  std::map<std::string, const char*, std::less<>> entries_;
};

}  // namespace sentory

#endif  // SENTORY_APP_OPTION_TABLE_H_
