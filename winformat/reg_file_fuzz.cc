// Any bytes as a registry export; every value read into several sizes.
#include <cstdint>
#include <string_view>

#include "winformat/reg_file.h"

static void ReadAll(const sentory::RegistryKey& key) {
  unsigned char buffer[260];
  for (const auto& [name, value] : key.values) {
    for (std::uint32_t size : {0u, 1u, 260u}) {
      std::uint32_t type = 0;
      sentory::RegistryFile::QueryValue(key, name, &type, buffer, &size);
    }
  }
  for (const auto& [name, sub] : key.subkeys) {
    sentory::RegistryFile::Find(key, name);
    ReadAll(*sub);
  }
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  sentory::RegistryFile file;
  file.Parse(std::string_view(reinterpret_cast<const char*>(data), size));
  ReadAll(file.Top());
  return 0;
}
