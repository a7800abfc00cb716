#include "app/int_pair.h"

#include <climits>

namespace sentory {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' ||
         c == '\r';
}

// Reads one "%d" conversion at |*p| and moves |*p| behind it.
bool ScanInt(const char** p, int* out) {
  const char* s = *p;
  while (IsBlank(*s)) ++s;
  bool negative = false;
  if (*s == '+' || *s == '-') negative = *s++ == '-';
  if (*s < '0' || *s > '9') return false;
  long long value = 0;
  for (; *s >= '0' && *s <= '9'; ++s) {
    value = value * 10 + (*s - '0');
    if (value > static_cast<long long>(INT_MAX) + 1) return false;
  }
  if (negative) value = -value;
  if (value > INT_MAX) return false;
  *out = static_cast<int>(value);
  *p = s;
  return true;
}

}  // namespace

int ScanIntPair(const char* text, char separator, int* first, int* second) {
  const char* p = text;
  int a = 0;
  if (!ScanInt(&p, &a)) return 0;
  *first = a;
  if (*p != separator) return 1;
  ++p;
  int b = 0;
  if (!ScanInt(&p, &b)) return 1;
  *second = b;
  return 2;
}

}  // namespace sentory
