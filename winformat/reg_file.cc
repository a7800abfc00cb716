#include "winformat/reg_file.h"

#include <cstring>

#include "winformat/windows_1252.h"

namespace sentory {
namespace {

constexpr std::u16string_view kHeader4 = u"REGEDIT4";
constexpr std::u16string_view kHeader5 =
    u"Windows Registry Editor Version 5.00";

char Fold(char c) { return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c; }

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

std::u16string_view Trim(std::u16string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// The text of the whole file as UTF-16, by its byte-order mark or, without
// one, as UTF-8 when it is valid UTF-8 and as Windows-1252 otherwise.
std::u16string Decode(std::string_view bytes) {
  std::u16string text;
  if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') {
    text.reserve(bytes.size() / 2);
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
      text.push_back(
          static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                static_cast<unsigned char>(bytes[i + 1]) << 8));
    }
    return text;
  }
  if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") {
    bytes.remove_prefix(3);
  }
  if (DecodeUtf8(bytes, &text)) return text;
  text.clear();
  for (char c : bytes) {
    text.push_back(FromWindows1252(static_cast<unsigned char>(c)));
  }
  return text;
}

std::string Name(std::u16string_view text) { return ToWindows1252(text); }

// Reads the quoted text that begins at s[*pos] ("\\" and "\"" escaped) and
// moves *pos past its closing quote. False when it is not closed.
bool ReadQuoted(std::u16string_view s, std::size_t* pos, std::u16string* out) {
  std::size_t i = *pos + 1;
  while (i < s.size() && s[i] != u'"') {
    if (s[i] == u'\\' && i + 1 < s.size() &&
        (s[i + 1] == u'\\' || s[i + 1] == u'"')) {
      ++i;
    }
    out->push_back(s[i++]);
  }
  if (i >= s.size()) return false;
  *pos = i + 1;
  return true;
}

int HexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// A hexadecimal number of up to |max_digits| digits that fills |s|.
bool ReadHexNumber(std::u16string_view s, int max_digits,
                   std::uint32_t* value) {
  s = Trim(s);
  if (s.empty() || s.size() > static_cast<std::size_t>(max_digits)) {
    return false;
  }
  std::uint32_t v = 0;
  for (char16_t c : s) {
    int d = HexDigit(c);
    if (d < 0) return false;
    v = v << 4 | static_cast<std::uint32_t>(d);
  }
  *value = v;
  return true;
}

// "aa,bb,cc": bytes of one or two hex digits, separated by commas, blanks
// allowed around them, a comma allowed at the end.
bool ReadHexBytes(std::u16string_view s, std::vector<unsigned char>* out) {
  s = Trim(s);
  while (!s.empty()) {
    std::size_t comma = s.find(u',');
    std::u16string_view item = s.substr(0, comma);
    std::uint32_t byte = 0;
    if (!ReadHexNumber(item, 2, &byte)) return false;
    out->push_back(static_cast<unsigned char>(byte));
    if (comma == std::u16string_view::npos) break;
    s = Trim(s.substr(comma + 1));
  }
  return true;
}

void AppendUtf16(std::u16string_view text, std::vector<unsigned char>* out) {
  for (char16_t c : text) {
    out->push_back(static_cast<unsigned char>(c & 0xFF));
    out->push_back(static_cast<unsigned char>(c >> 8));
  }
}

bool IsTextType(std::uint32_t type) {
  return type == 1 || type == 2 || type == 7;
}

// The parts of key path |path| (no empty ones).
std::vector<std::string> SplitPath(std::string_view path) {
  std::vector<std::string> parts;
  while (!path.empty()) {
    std::size_t slash = path.find('\\');
    std::string_view part = path.substr(0, slash);
    if (!part.empty()) parts.emplace_back(part);
    if (slash == std::string_view::npos) break;
    path.remove_prefix(slash + 1);
  }
  return parts;
}

}  // namespace

bool NoCaseLess::operator()(std::string_view a, std::string_view b) const {
  std::size_t n = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < n; ++i) {
    auto x = static_cast<unsigned char>(Fold(a[i]));
    auto y = static_cast<unsigned char>(Fold(b[i]));
    if (x != y) return x < y;
  }
  return a.size() < b.size();
}

bool RegistryFile::Parse(std::string_view bytes) {
  top_ = RegistryKey();
  current_ = nullptr;
  version_ = 0;
  std::u16string text = Decode(bytes);
  std::u16string_view rest = text;
  std::u16string logical;
  bool continued = false;
  while (!rest.empty()) {
    std::size_t end = rest.find_first_of(u"\r\n");
    std::u16string_view line = rest.substr(0, end);
    if (end == std::u16string_view::npos) {
      rest = {};
    } else {
      std::size_t skip =
          rest[end] == u'\r' && end + 1 < rest.size() && rest[end + 1] == u'\n'
              ? 2
              : 1;
      rest.remove_prefix(end + skip);
    }
    if (version_ == 0) {
      line = Trim(line);
      if (line.empty()) continue;
      if (line == kHeader4) {
        version_ = 4;
      } else if (line == kHeader5) {
        version_ = 5;
      } else {
        return false;
      }
      continue;
    }
    // A value line that ends with a backslash goes on in the next line,
    // whose leading blanks are not part of it.
    std::u16string_view piece = Trim(line);
    std::u16string_view first = continued ? Trim(logical) : piece;
    bool continues = !piece.empty() && piece.back() == u'\\' &&
                     !first.empty() &&
                     (first.front() == u'"' || first.front() == u'@');
    if (!continued && !continues) {
      ParseLine(line);
      continue;
    }
    if (continues) piece.remove_suffix(1);
    logical.append(piece.data(), piece.size());
    continued = continues;
    if (continued) continue;
    ParseLine(logical);
    logical.clear();
  }
  if (!logical.empty()) ParseLine(logical);
  return version_ != 0;
}

void RegistryFile::ParseLine(std::u16string_view line) {
  line = Trim(line);
  if (line.empty() || line.front() == u';') return;
  if (line.front() == u'[') {
    std::size_t close = line.find_last_of(u']');
    current_ = nullptr;
    if (close == std::u16string_view::npos) return;
    std::u16string_view path = line.substr(1, close - 1);
    bool remove = !path.empty() && path.front() == u'-';
    if (remove) path.remove_prefix(1);
    std::vector<std::string> parts = SplitPath(Name(path));
    if (parts.empty() || parts.size() > kMaxKeyDepth) return;
    // A deletion walks to the parent and takes the last part away; a key
    // line walks to the key, making the parts that are missing.
    std::size_t walk = remove ? parts.size() - 1 : parts.size();
    RegistryKey* key = &top_;
    for (std::size_t i = 0; i < walk; ++i) {
      auto found = key->subkeys.find(parts[i]);
      if (found == key->subkeys.end()) {
        if (remove) return;
        found = key->subkeys.emplace(parts[i], std::make_unique<RegistryKey>())
                    .first;
      }
      key = found->second.get();
    }
    if (remove) {
      auto found = key->subkeys.find(parts.back());
      if (found != key->subkeys.end()) key->subkeys.erase(found);
      return;
    }
    current_ = key;
    return;
  }
  if (current_ == nullptr) return;
  // The value's name: @ for the default value, or quoted text.
  std::size_t pos = 0;
  std::u16string name;
  if (line.front() == u'@') {
    pos = 1;
  } else if (line.front() != u'"' || !ReadQuoted(line, &pos, &name)) {
    return;
  }
  std::u16string_view rest = Trim(line.substr(pos));
  if (rest.empty() || rest.front() != u'=') return;
  rest = Trim(rest.substr(1));
  std::string key_name = Name(name);
  RegistryValue value;
  if (rest == u"-") {
    current_->values.erase(key_name);
    return;
  }
  if (!rest.empty() && rest.front() == u'"') {
    std::u16string text;
    pos = 0;
    if (!ReadQuoted(rest, &pos, &text) || !Trim(rest.substr(pos)).empty()) {
      return;
    }
    value.type = 1;
    AppendUtf16(text, &value.data);
    AppendUtf16(std::u16string_view(u"\0", 1), &value.data);
  } else if (rest.substr(0, 6) == u"dword:") {
    std::uint32_t number = 0;
    if (!ReadHexNumber(rest.substr(6), 8, &number)) return;
    value.type = 4;
    for (int i = 0; i < 4; ++i) {
      value.data.push_back(static_cast<unsigned char>(number >> (8 * i)));
    }
  } else if (rest.substr(0, 4) == u"hex:") {
    value.type = 3;
    if (!ReadHexBytes(rest.substr(4), &value.data)) return;
  } else if (rest.substr(0, 4) == u"hex(") {
    std::size_t close = rest.find(u"):");
    if (close == std::u16string_view::npos ||
        !ReadHexNumber(rest.substr(4, close - 4), 8, &value.type) ||
        !ReadHexBytes(rest.substr(close + 2), &value.data)) {
      return;
    }
    // The registry editor of version 4 writes text values as single-byte
    // text; the registry holds them in UTF-16.
    if (version_ == 4 && IsTextType(value.type)) {
      std::vector<unsigned char> wide;
      for (unsigned char c : value.data) {
        char16_t unit = FromWindows1252(c);
        AppendUtf16(std::u16string_view(&unit, 1), &wide);
      }
      value.data.swap(wide);
    }
  } else {
    return;
  }
  current_->values[key_name] = std::move(value);
}

const RegistryKey* RegistryFile::Find(const RegistryKey& from,
                                      std::string_view path) {
  const RegistryKey* key = &from;
  for (const std::string& part : SplitPath(path)) {
    auto found = key->subkeys.find(part);
    if (found == key->subkeys.end()) return nullptr;
    key = found->second.get();
  }
  return key;
}

long RegistryFile::QueryValue(const RegistryKey& key, std::string_view name,
                              std::uint32_t* type, unsigned char* data,
                              std::uint32_t* size) {
  auto found = key.values.find(name);
  if (found == key.values.end()) return 2;
  const RegistryValue& value = found->second;
  std::string text;
  const unsigned char* bytes = value.data.data();
  std::size_t length = value.data.size();
  if (IsTextType(value.type)) {
    std::u16string wide;
    for (std::size_t i = 0; i + 1 < length; i += 2) {
      wide.push_back(static_cast<char16_t>(bytes[i] | bytes[i + 1] << 8));
    }
    text = ToWindows1252(wide);
    bytes = reinterpret_cast<const unsigned char*>(text.data());
    length = text.size();
  }
  if (type != nullptr) *type = value.type;
  if (size == nullptr) return data == nullptr ? 0 : 87;
  std::uint32_t capacity = *size;
  *size = static_cast<std::uint32_t>(length);
  if (data == nullptr) return 0;
  if (length > capacity) return 234;
  if (length > 0) std::memcpy(data, bytes, length);
  return 0;
}

}  // namespace sentory
