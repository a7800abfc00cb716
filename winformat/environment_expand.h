#ifndef SENTORY_WINFORMAT_ENVIRONMENT_EXPAND_H_
#define SENTORY_WINFORMAT_ENVIRONMENT_EXPAND_H_

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace sentory {

/// Gives the value of environment variable |name| in *value; false when it
/// is not set.
using EnvironmentLookup =
    std::function<bool(std::string_view name, std::string* value)>;

/// Expands %NAME% references in |source| as ExpandEnvironmentStringsA does:
/// a reference to a variable |lookup| knows is replaced with its value; any
/// other (unknown, empty "%%") stays as written, and a "%" without a closing
/// one is kept with the rest of the text. A variable |lookup| does not know
/// but every Windows machine has (SystemRoot, windir, SystemDrive,
/// ProgramFiles, CommonProgramFiles, in any case) takes its value on a
/// standard installation, so that the message files a registry export names
/// are found on drive C. Returns the size the result needs, terminator
/// included; when that is more than |size|, the first |size| - 1 bytes and a
/// terminator are written. 0 when |source| is null.
std::uint32_t ExpandEnvironment(const char* source,
                                const EnvironmentLookup& lookup,
                                char* destination, std::uint32_t size);

}  // namespace sentory

#endif  // SENTORY_WINFORMAT_ENVIRONMENT_EXPAND_H_
