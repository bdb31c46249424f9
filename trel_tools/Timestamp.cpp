#include "trel_tools/Timestamp.h"

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <string>

#include "trel_tools/IO_helpers.h"
#include "trel_tools/exception_l.h"

namespace trel {

Timestamp::Timestamp() : hours(0), minutes(0), seconds(0), milliseconds(0) {}

Timestamp::Timestamp(const Timestamp& other) = default;

Timestamp& Timestamp::operator=(const Timestamp& other) = default;

Timestamp::~Timestamp() = default;

double Timestamp::total_seconds() const {
  return ((hours * 60.0) + minutes) * 60.0 + seconds + milliseconds / 1000.0;
}

void Timestamp::input_seconds(double s) {
  // Hours of an int need |s| below about 7.8e12; the bound keeps the count of
  // milliseconds exact in a long long.
  constexpr double limit = 3600.0 * 2147483648.0;
  if (!(std::abs(s) < limit))
    TREL_THROW("Timestamp::input_seconds() : " << s << " seconds cannot be held, the hours must fit an int");
  // Splitting s field by field loses a millisecond for about half of all
  // timestamps (1.001 s is 1.00099999... after the subtractions); the whole
  // count of milliseconds only needs a tolerance for the rounding of s and of
  // s * 1000, a few units in the last place. Beyond 10^14 ms those units
  // approach a millisecond and the tolerance stops at half of one.
  const double total = s * 1000.0;
  const double tolerance = std::min(0.5, std::max(1e-6, std::abs(total) * 8 * DBL_EPSILON));
  const long long total_ms = static_cast<long long>(std::floor(total + tolerance));
  const long long ms_per_hour = 3600000;
  long long whole_hours = total_ms / ms_per_hour;
  if (total_ms % ms_per_hour < 0) --whole_hours;  // floor, also for negative times
  if (whole_hours < INT_MIN || whole_hours > INT_MAX)
    TREL_THROW("Timestamp::input_seconds() : " << s << " seconds cannot be held, the hours must fit an int");
  const long long rest = total_ms - whole_hours * ms_per_hour;
  hours = static_cast<int>(whole_hours);
  minutes = static_cast<int>(rest / 60000);
  seconds = static_cast<int>(rest % 60000 / 1000);
  milliseconds = static_cast<int>(rest % 1000);
}

int Timestamp::get_frame(double frames_per_second) const {
  const double frame = std::trunc(total_seconds() * frames_per_second);
  // Converting a double outside the int range is undefined: refuse it.
  if (!(frame >= static_cast<double>(INT_MIN) && frame <= static_cast<double>(INT_MAX)))
    TREL_THROW("Timestamp::get_frame() : the frame of " << hours << " h " << minutes << " min " << seconds << " s "
                                                        << milliseconds << " ms at " << frames_per_second
                                                        << " frames per second does not fit an int");
  return static_cast<int>(frame);
}

bool Timestamp::operator<(const Timestamp& other) const { return total_seconds() < other.total_seconds(); }

std::istream& operator>>(std::istream& in, Timestamp& t) {
  if (!in.good()) TREL_THROW("Timestamp >> operator : passed stream was not good");
  std::string word;
  in >> std::ws >> word;
  // A word that ends the stream leaves only eofbit set; skipping blanks from
  // there would add failbit and turn the successful read into a failed one.
  if (!in.eof()) in >> std::ws;
  const std::string::size_type first_colon = word.find(':');
  if (first_colon == std::string::npos)
    TREL_THROW("Timestamp >> operator : first_colon not found in text block \"" << word << "\"");
  const std::string::size_type second_colon = word.find(':', first_colon + 1);
  if (second_colon == std::string::npos)
    TREL_THROW("Timestamp >> operator : second_colon not found in text block \"" << word << "\"");
  const std::string::size_type comma = word.find(',', second_colon + 1);
  if (comma == std::string::npos)
    TREL_THROW("Timestamp >> operator : comma not found in text block \"" << word << "\"");
  i_helper(word.substr(0, first_colon), t.hours);
  i_helper(word.substr(first_colon + 1, second_colon - first_colon - 1), t.minutes);
  i_helper(word.substr(second_colon + 1, comma - second_colon - 1), t.seconds);
  i_helper(word.substr(comma + 1), t.milliseconds);
  return in;
}

std::ostream& operator<<(std::ostream& out, const Timestamp& t) {
  if (!out.good()) TREL_THROW("Timestamp << operator : passed stream was not good");
  if (t.hours > 99)
    TREL_THROW("Timestamp::operator<< : hours must be 2 digits long, the specified timestamp has "
               << t.hours << " hours, which is too large.");
  // int_to_str refuses any field that does not fit its width, negative ones
  // included, before anything is written.
  const std::string milliseconds = int_to_str(t.milliseconds, 3);
  const std::string seconds = int_to_str(t.seconds, 2);
  const std::string minutes = int_to_str(t.minutes, 2);
  const std::string hours = int_to_str(t.hours, 2);
  return out << hours + ":" + minutes + ":" + seconds + "," + milliseconds;
}

}  // namespace trel
