#include "app/output_stream.h"

namespace sentory {

void OutputStream::Line(std::initializer_list<std::string_view> pieces) {
  if (closed_) return;
  for (std::string_view piece : pieces) console_.Write(piece);
  console_.Write("\n");
  console_.Flush();
}

void OutputStream::Write(std::string_view text) {
  if (closed_) return;
  console_.Write(text);
  console_.Flush();
}

bool OutputStream::OpenLogFile(const char* path) {
  if (closed_ || !console_.ReopenOutput(path)) return false;
  log_file_open_ = true;
  return true;
}

void OutputStream::Close() {
  if (closed_) return;
  closed_ = true;
  console_.Flush();
  if (log_file_open_) console_.CloseOutput();
}

}  // namespace sentory
