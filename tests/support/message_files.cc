#include "tests/support/message_files.h"

#include <fstream>
#include <sstream>

namespace sentory {

std::string MessageFilesFolder() {
#ifdef SENTORY_MESSAGE_FILES
  return SENTORY_MESSAGE_FILES;
#else
  return "";
#endif
}

std::string ReadMessageFile(const std::string& name) {
  std::string folder = MessageFilesFolder();
  if (folder.empty()) return "";
  std::ifstream in(folder + "/" + name + ".dll", std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

}  // namespace sentory
