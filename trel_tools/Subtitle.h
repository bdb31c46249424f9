#ifndef TREL_TOOLS_SUBTITLE_H
#define TREL_TOOLS_SUBTITLE_H

// Timed, confidence-scored subtitle records and their three-line text form.

#include <istream>
#include <ostream>
#include <string>

#include "trel_tools/Timestamp.h"
#include "trel_tools/export.h"

namespace trel {

// One subtitle record: a sequence number, start and end times, a confidence
// and one line of text, plus the frame rate that turns the times into video
// frame numbers. Text form, three lines each ended by a line feed:
//
//   3
//   00:00:01,000 --> 00:00:02,500
//   [0.9] Hello
//
// The frame rate is not part of the text: reading keeps the record's own.
//
// Reading a whole file: the reader skips the blank lines before a record, so
// skip whitespace and stop at the end of the stream before each record:
//
//   std::ifstream in("film.srt");
//   trel::Subtitle record(25.0);
//   while (in >> std::ws && !in.eof()) {
//     in >> record;                 // throws exception_l on a malformed record
//     use(record.start_frame(), record.end_frame(), record.text);
//   }
//
// Reading at the end of a stream throws (the number cannot be read), so the
// end test must come first. The text read keeps the blank written after "]"
// (see operator>>); drop it after reading to write the same text back.
class TREL_TOOLS_EXPORT Subtitle {
public:
  // Number 0, frame rate 23.976, confidence 0, empty text, both times
  // 00:00:00,000.
  Subtitle();
  // The same with the given frame rate.
  explicit Subtitle(double frame_rate);
  Subtitle(const Subtitle& other);
  Subtitle& operator=(const Subtitle& other);
  virtual ~Subtitle();

  // start.total_seconds() * frame_rate, truncated toward zero. Throws
  // exception_l when the frame number does not fit an int.
  int start_frame() const;
  // The same for the end time.
  int end_frame() const;

  int number;
  double frame_rate;
  double confidence;
  std::string text;
  Timestamp start;
  Timestamp end;
};

// Reads one record: the number (one word, its leading integer), the start
// time, the word "-->", the end time, then a word "[confidence]" (no blanks
// inside) and the rest of that line, without the line feed, as the text. The
// text starts directly after the "]", so it keeps the blank written there: a
// record written by operator<< reads back with one leading blank in its text.
// A bad number or time throws the exception_l of i_helper or of the Timestamp
// reader; a missing arrow, "[" or "]", or a confidence that is not a number
// throws exception_l. Fields are assigned as they are read, so a record that
// fails part-way keeps the number and times read before the failure.
TREL_TOOLS_EXPORT std::istream& operator>>(std::istream& in, Subtitle& s);

// Writes the three lines, the confidence in fixed notation with one decimal.
// The stream is left in fixed notation with precision 1. Throws exception_l,
// writing nothing, when `out` is not good, a time does not fit the timestamp
// form, or the text holds a line feed (it would not read back as one record).
TREL_TOOLS_EXPORT std::ostream& operator<<(std::ostream& out, const Subtitle& s);

}  // namespace trel

#endif
