#include "tools/cli/local_time.h"

#include <ctime>

#include "ui/number_text.h"

namespace {

using namespace std::chrono;

// The local clock's reading as a time point of its own: its distance from the true time
// point is the offset from UTC. UTC itself when the system knows no local time for it.
// (std::localtime's shared result is safe here: the command line stamps on one thread.)
sys_seconds LocalReading(sys_seconds at) {
  const std::time_t t = system_clock::to_time_t(at);
  const std::tm* local = std::localtime(&t);
  if (!local) return at;
  const year_month_day date{year(local->tm_year + 1900),
                            month(static_cast<unsigned>(local->tm_mon + 1)),
                            day(static_cast<unsigned>(local->tm_mday))};
  return sys_days(date) + hours(local->tm_hour) + minutes(local->tm_min) + seconds(local->tm_sec);
}

}  // namespace

std::string LocalIsoTime(system_clock::time_point at) {
  const auto second = floor<seconds>(at);
  const auto millis = duration_cast<milliseconds>(at - second).count();
  const sys_seconds local = LocalReading(second);
  const auto offset = duration_cast<minutes>(local - second).count();
  const auto date = floor<days>(local);
  const year_month_day ymd(date);
  const hh_mm_ss clock(local - date);
  const long long offsetMinutes = offset < 0 ? -offset : offset;
  return FormatText("%04d-%02u-%02uT%02lld:%02lld:%02lld.%03lld%c%02lld:%02lld", int{ymd.year()},
                    unsigned{ymd.month()}, unsigned{ymd.day()},
                    static_cast<long long>(clock.hours().count()),
                    static_cast<long long>(clock.minutes().count()),
                    static_cast<long long>(clock.seconds().count()), static_cast<long long>(millis),
                    offset < 0 ? '-' : '+', offsetMinutes / 60, offsetMinutes % 60);
}
