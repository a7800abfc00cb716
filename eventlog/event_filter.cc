#include "eventlog/event_filter.h"

namespace sentory {

void ParseSeverities(const char* text, SeveritySlots* slots) {
  for (int i = 0; i < SeveritySlots::kCount && text[i] != '\0'; ++i) {
    char c = text[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    switch (c) {
      case 'E':
        slots->slot[i] = 1;
        break;
      case 'W':
        slots->slot[i] = 2;
        break;
      case 'I':
        slots->slot[i] = 4;
        break;
      case 'S':
        slots->slot[i] = 8;
        break;
      case 'F':
        slots->slot[i] = 16;
        break;
      default:
        break;
    }
  }
}

}  // namespace sentory
