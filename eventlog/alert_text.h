#ifndef SENTORY_EVENTLOG_ALERT_TEXT_H_
#define SENTORY_EVENTLOG_ALERT_TEXT_H_

#include <cstdint>
#include <string>

#include "eventlog/event_record.h"
#include "platform/message_module.h"
#include "platform/registry.h"

namespace sentory {

/// Size of the key path, subkey and registry value buffers, terminator
/// included.
constexpr std::uint32_t kRegistryTextSize = 260;

/// Turns |record| from the log |log_name| into its alert text: the header
/// "computer*Log*TYPE*source*id*" and the event's message from the source's
/// message files, or its insertion strings joined with "|". Every byte of
/// the result lies in 0x20 to 0x7E. Never fails.
std::string RenderAlert(RegistryService& registry, MessageModules& messages,
                        const EventRecord& record, const char* log_name);

/// The type word of an event type: ERR, WARN, INFO, SCSS, FAIL or "".
const char* TypeWord(std::uint16_t event_type);

/// Splits |key_path| into its root ("HKEY_LOCAL_MACHINE" and the like, in
/// any case) and the rest, upper-cased, in |sub_key| (kRegistryTextSize
/// bytes). Returns 0, or 1 when no known root begins the path or the path
/// does not fit the buffer.
int ParseRegistryRoot(const char* key_path, RegistryService::Root* root,
                      char* sub_key);

/// Reads the value |value_name| of |key_path| in the registry of |machine|
/// (the local one when null) into |value| as text, expanding environment
/// references in an expandable value. On entry *size is the capacity of
/// |value| less its terminator; on success it is the data length the
/// registry reported. Returns 0, or 1 on any failure.
int ReadRegistryValue(RegistryService& registry, const char* machine,
                      const char* key_path, const char* value_name, char* value,
                      std::uint32_t* size);

}  // namespace sentory

#endif  // SENTORY_EVENTLOG_ALERT_TEXT_H_
