#ifndef SENTORY_APP_INT_PAIR_H_
#define SENTORY_APP_INT_PAIR_H_

namespace sentory {

/// Reads two integers from |text| the way a formatted scan reads the pattern
/// "%d<separator>%d": blanks before each number and a sign are accepted, the
/// separator must follow the first number directly, and characters after
/// the second number are ignored. A number that does not fit an int fails
/// the scan. Returns the count of integers read (0, 1 or 2); |first| and
/// |second| are written only when read.
int ScanIntPair(const char* text, char separator, int* first, int* second);

}  // namespace sentory

#endif  // SENTORY_APP_INT_PAIR_H_
