// Timestamp reader: whatever it accepts must write back (or be refused by the
// writer) and read back as the same four fields; the seconds of what it read
// must give the same total of milliseconds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "trel_tools/Timestamp.h"
#include "trel_tools/exception_l.h"

namespace {

long long total_milliseconds(const trel::Timestamp& t) {
  return ((t.hours * 60LL + t.minutes) * 60LL + t.seconds) * 1000LL + t.milliseconds;
}

bool same_fields(const trel::Timestamp& a, const trel::Timestamp& b) {
  return a.hours == b.hours && a.minutes == b.minutes && a.seconds == b.seconds && a.milliseconds == b.milliseconds;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
  trel::Timestamp t;
  try {
    in >> t;
  } catch (const trel::exception_l&) {
    return 0;
  }
  try {
    t.get_frame(25.0);
  } catch (const trel::exception_l&) {
  }
  // Below 2^47 ms (39 million hours) the seconds in a double keep every millisecond.
  const long long total_ms = total_milliseconds(t);
  if (total_ms < (1LL << 47) && total_ms > -(1LL << 47)) {
    trel::Timestamp from_seconds;
    from_seconds.input_seconds(t.total_seconds());
    if (total_milliseconds(from_seconds) != total_ms) std::abort();
  }
  std::ostringstream out;
  try {
    out << t;
  } catch (const trel::exception_l&) {
    return 0;  // a field that does not fit its width
  }
  std::istringstream back_in(out.str());
  trel::Timestamp back;
  back_in >> back;
  if (!same_fields(back, t) || !back_in.eof()) std::abort();
  return 0;
}
