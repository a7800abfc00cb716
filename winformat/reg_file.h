#ifndef SENTORY_WINFORMAT_REG_FILE_H_
#define SENTORY_WINFORMAT_REG_FILE_H_

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace sentory {

/// Orders names as the registry compares them: without regard to the case of
/// ASCII letters.
struct NoCaseLess {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const;
};

/// One value as the registry stores it: text values (types 1, 2 and 7) in
/// UTF-16LE, whatever the encoding of the export they came from.
struct RegistryValue {
  std::uint32_t type = 0;
  std::vector<unsigned char> data;
};

/// One key: its subkeys and values, named in Windows-1252.
struct RegistryKey {
  std::map<std::string, std::unique_ptr<RegistryKey>, NoCaseLess> subkeys;
  std::map<std::string, RegistryValue, NoCaseLess> values;
};

/// The deepest a key may lie below the top of the tree, as on Windows.
constexpr std::size_t kMaxKeyDepth = 512;

/// A registry held in a registry export (a ".reg" file as the registry
/// editor writes it): "REGEDIT4" or "Windows Registry Editor Version 5.00",
/// in UTF-16LE with a byte-order mark, UTF-8 with or without one, or
/// Windows-1252. Keys, "name"="text", @= (the default value), dword:, hex:,
/// hex(N): values, lines continued with a backslash, ";" comments, [-KEY]
/// and "name"=- deletions. Lines it cannot read are skipped, as the registry
/// editor skips them on import.
class RegistryFile {
 public:
  /// Reads export |bytes|. Returns false when they do not begin with one of
  /// the two header lines; the tree is then empty.
  bool Parse(std::string_view bytes);

  /// The top of the tree: its subkeys are the root keys named in the export
  /// ("HKEY_LOCAL_MACHINE" ...).
  const RegistryKey& Top() const { return top_; }

  /// The key at |path| below |from|, its parts separated by backslashes and
  /// matched without regard to case; empty parts are skipped. nullptr when
  /// there is none.
  static const RegistryKey* Find(const RegistryKey& from,
                                 std::string_view path);

  /// RegQueryValueExA on |key|: 0 with the value's type in *type (when not
  /// null), its data in |data| and its size in *size; text values come as
  /// Windows-1252. With |data| null, 0 and the size alone. 234 when the data
  /// does not fit *size bytes (then *size is the size needed), 2 when there
  /// is no such value.
  static long QueryValue(const RegistryKey& key, std::string_view name,
                         std::uint32_t* type, unsigned char* data,
                         std::uint32_t* size);

 private:
  void ParseLine(std::u16string_view line);
  RegistryKey top_;
  RegistryKey* current_ = nullptr;
  int version_ = 0;
};

}  // namespace sentory

#endif  // SENTORY_WINFORMAT_REG_FILE_H_
