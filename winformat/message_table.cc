#include "winformat/message_table.h"

#include <vector>

#include "winformat/windows_1252.h"

namespace sentory {
namespace {

constexpr std::uint32_t kResourceMessageTable = 11;
constexpr std::uint32_t kMessageTableName = 1;
constexpr std::uint32_t kResourceDirectoryIndex = 2;
constexpr std::uint16_t kMagicPe32 = 0x10B, kMagicPe32Plus = 0x20B;
constexpr std::uint32_t kSubdirectoryBit = 0x80000000u;
constexpr std::uint16_t kEntryUnicode = 1, kEntryUtf8 = 2;

struct Section {
  std::uint32_t address;
  std::uint32_t raw_size;
  std::uint32_t raw_offset;
};

// A PE file read with every access checked against its size.
class PeFile {
 public:
  explicit PeFile(std::string_view bytes) : bytes_(bytes) {}

  bool ReadHeaders() {
    std::uint16_t mz = 0, sections = 0, optional_size = 0, magic = 0;
    std::uint32_t pe_offset = 0, signature = 0, directories = 0;
    if (!U16(0, &mz) || mz != 0x5A4D || !U32(0x3C, &pe_offset) ||
        !U32(pe_offset, &signature) || signature != 0x00004550 ||
        !U16(std::uint64_t{pe_offset} + 6, &sections) ||
        !U16(std::uint64_t{pe_offset} + 20, &optional_size)) {
      return false;
    }
    std::uint64_t optional = std::uint64_t{pe_offset} + 24;
    if (!U16(optional, &magic)) return false;
    std::uint64_t count_at = magic == kMagicPe32       ? 92
                             : magic == kMagicPe32Plus ? 108
                                                       : 0;
    if (count_at == 0 || count_at + 4 > optional_size ||
        !U32(optional + count_at, &directories)) {
      return false;
    }
    std::uint64_t directory = optional + count_at + 4;
    if (directories > kResourceDirectoryIndex &&
        directory + 8 * (kResourceDirectoryIndex + 1) <=
            optional + optional_size) {
      std::uint64_t at = directory + 8 * kResourceDirectoryIndex;
      if (!U32(at, &resource_rva_) || !U32(at + 4, &resource_size_)) {
        return false;
      }
    }
    std::uint64_t table = optional + optional_size;
    if (table + std::uint64_t{sections} * 40 > bytes_.size()) return false;
    for (std::uint16_t i = 0; i < sections; ++i) {
      Section s;
      std::uint64_t at = table + std::uint64_t{i} * 40;
      U32(at + 12, &s.address);
      U32(at + 16, &s.raw_size);
      U32(at + 20, &s.raw_offset);
      sections_.push_back(s);
    }
    return true;
  }

  // The file offset of |length| bytes at |rva|, all inside one section's
  // data in the file.
  bool Map(std::uint64_t rva, std::uint64_t length,
           std::uint64_t* offset) const {
    for (const Section& s : sections_) {
      if (rva < s.address ||
          rva + length > std::uint64_t{s.address} + s.raw_size) {
        continue;
      }
      std::uint64_t at = s.raw_offset + (rva - s.address);
      if (at + length > bytes_.size()) return false;
      *offset = at;
      return true;
    }
    return false;
  }

  bool U16(std::uint64_t at, std::uint16_t* value) const {
    if (at + 2 > bytes_.size()) return false;
    *value = static_cast<std::uint16_t>(Byte(at) | Byte(at + 1) << 8);
    return true;
  }

  bool U32(std::uint64_t at, std::uint32_t* value) const {
    if (at + 4 > bytes_.size()) return false;
    *value = static_cast<std::uint32_t>(Byte(at)) |
             static_cast<std::uint32_t>(Byte(at + 1)) << 8 |
             static_cast<std::uint32_t>(Byte(at + 2)) << 16 |
             static_cast<std::uint32_t>(Byte(at + 3)) << 24;
    return true;
  }

  std::string_view Bytes(std::uint64_t at, std::uint64_t length) const {
    return bytes_.substr(at, length);
  }

  std::uint32_t resource_rva() const { return resource_rva_; }
  std::uint32_t resource_size() const { return resource_size_; }

 private:
  unsigned Byte(std::uint64_t at) const {
    return static_cast<unsigned char>(bytes_[at]);
  }

  std::string_view bytes_;
  std::vector<Section> sections_;
  std::uint32_t resource_rva_ = 0;
  std::uint32_t resource_size_ = 0;
};

struct DirectoryEntry {
  std::uint32_t id;
  std::uint32_t target;  // offset in the resource section, with its flag
};

// The entries named by number of the resource directory at |offset| in the
// resource section.
bool ReadDirectory(const PeFile& pe, std::uint32_t offset,
                   std::vector<DirectoryEntry>* entries) {
  std::uint64_t at = 0;
  if (!pe.Map(std::uint64_t{pe.resource_rva()} + offset, 16, &at)) {
    return false;
  }
  std::uint16_t named = 0, numbered = 0;
  pe.U16(at + 12, &named);
  pe.U16(at + 14, &numbered);
  std::uint64_t first = std::uint64_t{pe.resource_rva()} + offset + 16;
  std::uint64_t count = std::uint64_t{named} + numbered;
  if (!pe.Map(first, count * 8, &at)) return false;
  for (std::uint64_t i = 0; i < count; ++i) {
    DirectoryEntry entry;
    pe.U32(at + i * 8, &entry.id);
    pe.U32(at + i * 8 + 4, &entry.target);
    if ((entry.id & kSubdirectoryBit) == 0) entries->push_back(entry);
  }
  return true;
}

// The subdirectory of |id| in the directory at |offset|.
bool FindSubdirectory(const PeFile& pe, std::uint32_t offset, std::uint32_t id,
                      std::uint32_t* subdirectory) {
  std::vector<DirectoryEntry> entries;
  if (!ReadDirectory(pe, offset, &entries)) return false;
  for (const DirectoryEntry& e : entries) {
    if (e.id == id && (e.target & kSubdirectoryBit) != 0) {
      *subdirectory = e.target & ~kSubdirectoryBit;
      return true;
    }
  }
  return false;
}

// The data entry of the language chosen from |entries|.
bool ChooseLanguage(const std::vector<DirectoryEntry>& entries,
                    std::uint16_t language, std::uint32_t* data_entry) {
  std::vector<std::uint32_t> order;
  if (language == kLangNeutral) {
    order = {kLangNeutral, kLangEnglishUs, kLangEnglish};
  } else {
    order = {language, static_cast<std::uint32_t>(language & 0x3FF),
             kLangNeutral};
  }
  for (std::uint32_t wanted : order) {
    for (const DirectoryEntry& e : entries) {
      if (e.id == wanted && (e.target & kSubdirectoryBit) == 0) {
        *data_entry = e.target;
        return true;
      }
    }
  }
  if (language != kLangNeutral) return false;
  for (const DirectoryEntry& e : entries) {
    if ((e.target & kSubdirectoryBit) == 0) {
      *data_entry = e.target;
      return true;
    }
  }
  return false;
}

// The text of one message table entry: |flags| says its encoding.
std::string EntryText(std::string_view raw, std::uint16_t flags) {
  if ((flags & kEntryUnicode) != 0) {
    std::u16string wide;
    for (std::size_t i = 0; i + 1 < raw.size(); i += 2) {
      char16_t unit =
          static_cast<char16_t>(static_cast<unsigned char>(raw[i]) |
                                static_cast<unsigned char>(raw[i + 1]) << 8);
      if (unit == 0) break;
      wide.push_back(unit);
    }
    return ToWindows1252(wide);
  }
  raw = raw.substr(0, raw.find('\0'));
  if ((flags & kEntryUtf8) != 0) {
    std::u16string wide;
    if (DecodeUtf8(raw, &wide)) return ToWindows1252(wide);
  }
  return std::string(raw);
}

}  // namespace

bool IsPeImage(std::string_view image) {
  PeFile pe(image);
  return pe.ReadHeaders();
}

bool FindMessage(std::string_view image, std::uint32_t id,
                 std::uint16_t language, std::string* text) {
  PeFile pe(image);
  if (!pe.ReadHeaders() || pe.resource_rva() == 0) return false;
  constexpr std::uint32_t kRoot = 0;
  std::uint32_t names = 0, languages_at = 0, data_entry = 0;
  std::vector<DirectoryEntry> languages;
  if (!FindSubdirectory(pe, kRoot, kResourceMessageTable, &names) ||
      !FindSubdirectory(pe, names, kMessageTableName, &languages_at) ||
      !ReadDirectory(pe, languages_at, &languages) ||
      !ChooseLanguage(languages, language, &data_entry)) {
    return false;
  }
  std::uint64_t at = 0;
  std::uint32_t table_rva = 0, table_size = 0;
  if (!pe.Map(std::uint64_t{pe.resource_rva()} + data_entry, 8, &at) ||
      !pe.U32(at, &table_rva) || !pe.U32(at + 4, &table_size)) {
    return false;
  }
  std::uint64_t table = 0;
  std::uint32_t blocks = 0;
  if (!pe.Map(table_rva, table_size, &table) || table_size < 4) return false;
  pe.U32(table, &blocks);
  if (std::uint64_t{blocks} * 12 + 4 > table_size) return false;
  for (std::uint32_t b = 0; b < blocks; ++b) {
    std::uint32_t low = 0, high = 0, entries = 0;
    std::uint64_t block = table + 4 + std::uint64_t{b} * 12;
    pe.U32(block, &low);
    pe.U32(block + 4, &high);
    pe.U32(block + 8, &entries);
    if (id < low || id > high) continue;
    // Entries lie end to end; each step moves at least 4 bytes, so the
    // walk ends within the table whatever the identifier.
    std::uint64_t offset = entries;
    std::uint32_t steps = id - low;
    for (;;) {
      std::uint16_t length = 0, flags = 0;
      if (offset + 4 > table_size || !pe.U16(table + offset, &length) ||
          length < 4 || offset + length > table_size) {
        return false;
      }
      if (steps == 0) {
        pe.U16(table + offset + 2, &flags);
        *text = EntryText(pe.Bytes(table + offset + 4, length - 4u), flags);
        return true;
      }
      --steps;
      offset += length;
    }
  }
  return false;
}

}  // namespace sentory
