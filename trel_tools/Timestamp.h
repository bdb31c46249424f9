#ifndef TREL_TOOLS_TIMESTAMP_H
#define TREL_TOOLS_TIMESTAMP_H

// Time of video with millisecond resolution, as used by subtitle records.

#include <istream>
#include <ostream>

#include "trel_tools/export.h"

namespace trel {

// A clock time of four independent integer fields. Nothing normalises them
// (75 minutes stays 75 minutes); every computation goes through the total in
// seconds. Text form: HH:MM:SS,mmm, each field zero-padded (01:02:03,045).
class TREL_TOOLS_EXPORT Timestamp {
public:
  // 00:00:00,000.
  Timestamp();
  Timestamp(const Timestamp& other);
  Timestamp& operator=(const Timestamp& other);
  virtual ~Timestamp();

  // ((hours * 60) + minutes) * 60 + seconds + milliseconds / 1000.0.
  double total_seconds() const;

  // Sets the fields from a number of seconds: whole hours, then whole minutes
  // and seconds of the rest, then the milliseconds truncated toward zero
  // (1.9996 s gives 1 s 999 ms). The count of milliseconds is taken from
  // s * 1000 as a whole, with values a few rounding units below a whole
  // number counted as that number, so that total_seconds() of a timestamp
  // gives the same total of milliseconds back (up to about 10^14 ms, over
  // 27 million hours).
  // A negative s gives negative hours and non-negative other fields (-1 s is
  // -1 h 59 min 59 s). Throws exception_l, changing nothing, when s is not
  // finite or its hours do not fit an int.
  void input_seconds(double s);

  // The frame shown at this time: total_seconds() * frames_per_second,
  // truncated toward zero. Throws exception_l when that is not finite or does
  // not fit an int (a huge hour count read from text).
  int get_frame(double frames_per_second) const;

  // True when this total_seconds() is strictly less than the other's.
  bool operator<(const Timestamp& other) const;

  int hours;
  int minutes;
  int seconds;
  int milliseconds;
};

// Reads one timestamp. Throws exception_l when `in` is not good. Reads one
// whitespace-delimited word and skips the whitespace after it (the stream is
// left at the next non-blank character, or at its end). After a successful
// read the stream is good, or has only eofbit set when the timestamp and its
// trailing blanks ended it, so `if (in >> t)` holds; the next read from a
// stream at its end throws, so a loop over a stream of timestamps tests for
// the end first:
//
//   while (in >> std::ws && !in.eof()) {
//     in >> t;
//     use(t);
//   }
//
// The word must hold a ':', a second ':' after it and a ',' after that, else
// exception_l is thrown before any field changes. The four texts between them are read as ints in
// the order hours, minutes, seconds, milliseconds, each taking its leading
// integer ("1:2:3,4" is 1 h 2 min 3 s 4 ms; digits are not counted); a text
// without one throws exception_l and keeps the fields assigned before it.
TREL_TOOLS_EXPORT std::istream& operator>>(std::istream& in, Timestamp& t);

// Writes the text form, nothing else (no end of line). Throws exception_l,
// writing nothing, when `out` is not good or a field does not fit its width:
// hours 0-99, minutes and seconds 0-99, milliseconds 0-999.
TREL_TOOLS_EXPORT std::ostream& operator<<(std::ostream& out, const Timestamp& t);

}  // namespace trel

#endif
