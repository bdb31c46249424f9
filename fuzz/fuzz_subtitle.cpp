// Subtitle reader over a whole file of records: every record it accepts must
// write back (or be refused by the writer) and read back as the same record,
// up to the documented changes: the confidence rounded to one decimal and one
// more leading blank in the text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iomanip>
#include <sstream>
#include <string>

#include "trel_tools/Subtitle.h"
#include "trel_tools/exception_l.h"

namespace {

bool same_time(const trel::Timestamp& a, const trel::Timestamp& b) {
  return a.hours == b.hours && a.minutes == b.minutes && a.seconds == b.seconds && a.milliseconds == b.milliseconds;
}

// The confidence as the writer's one-decimal text gives it back.
double written_confidence(double confidence) {
  std::ostringstream text;
  text << std::fixed << std::setprecision(1) << confidence;
  std::istringstream in(text.str());
  double value = 0.0;
  in >> value;
  return value;
}

void check_round_trip(const trel::Subtitle& record) {
  try {
    record.start_frame();
    record.end_frame();
  } catch (const trel::exception_l&) {
  }
  std::ostringstream out;
  try {
    out << record;
  } catch (const trel::exception_l&) {
    return;  // a time that does not fit the timestamp form
  }
  std::istringstream back_in(out.str());
  trel::Subtitle back(record.frame_rate);
  back_in >> back;
  back_in >> std::ws;
  if (back.number != record.number || !same_time(back.start, record.start) || !same_time(back.end, record.end) ||
      back.confidence != written_confidence(record.confidence) || back.text != " " + record.text ||
      !back_in.eof())
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
  trel::Subtitle record(25.0);
  for (int count = 0; count < 64 && in >> std::ws && !in.eof(); ++count) {
    try {
      in >> record;
    } catch (const trel::exception_l&) {
      return 0;
    }
    check_round_trip(record);
  }
  return 0;
}
