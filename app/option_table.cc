#include "app/option_table.h"

namespace sentory {

void OptionTable::ParseCommandLine(int count, const char* const* words) {
  for (int i = 1; i < count; ++i) {
    const char* word = words[i];
    if (word[0] != '/') continue;  // a value already taken, or a stray word
    std::string key(word);
    for (char& c : key) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    const char* value = nullptr;
    if (i + 1 < count && words[i + 1][0] != '/') value = words[i + 1];
    entries_[std::move(key)] = value;
  }
}

const char* OptionTable::OptionValue(std::string_view key) const {
  auto it = entries_.find(key);
  return it == entries_.end() ? nullptr : it->second;
}

bool OptionTable::HasOption(std::string_view key) const {
  return entries_.find(key) != entries_.end();
}

std::string OptionTable::NumberedKey(std::string_view letters, int index) {
  std::string key(letters);
  key += std::to_string(index);
  return key;
}

}  // namespace sentory
