#include "tools/cli/local_time.h"

bool LocalCalendarTime(std::time_t t, std::tm* local) {
  return ::localtime_s(local, &t) == 0;
}
