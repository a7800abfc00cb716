#ifndef SENTORY_TESTS_SUPPORT_MESSAGE_FILES_H_
#define SENTORY_TESTS_SUPPORT_MESSAGE_FILES_H_

#include <string>

namespace sentory {

/// The folder where the test build put the message files it made from
/// tests/messages, and the peer program; "" when it made none.
std::string MessageFilesFolder();

/// The bytes of the test message file NAME.dll; "" without one.
std::string ReadMessageFile(const std::string& name);

}  // namespace sentory

#endif  // SENTORY_TESTS_SUPPORT_MESSAGE_FILES_H_
