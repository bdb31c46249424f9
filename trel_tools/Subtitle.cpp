#include "trel_tools/Subtitle.h"

#include <iomanip>
#include <sstream>

#include "trel_tools/IO_helpers.h"
#include "trel_tools/exception_l.h"

namespace trel {

Subtitle::Subtitle() : Subtitle(23.976) {}

Subtitle::Subtitle(double frame_rate) : number(0), frame_rate(frame_rate), confidence(0.0) {}

Subtitle::Subtitle(const Subtitle& other) = default;

Subtitle& Subtitle::operator=(const Subtitle& other) = default;

Subtitle::~Subtitle() = default;

int Subtitle::start_frame() const { return start.get_frame(frame_rate); }

int Subtitle::end_frame() const { return end.get_frame(frame_rate); }

std::istream& operator>>(std::istream& in, Subtitle& s) {
  i_helper(in >> std::ws, s.number);
  in >> std::ws >> s.start;
  std::string arrow;
  in >> std::ws >> arrow >> std::ws;
  if (arrow != "-->")
    TREL_THROW("Subtitle >> operator : failed to find arrow (-->)  between timestamps. Instead found \"" << arrow
                                                                                                          << "\"");
  in >> std::ws >> s.end >> std::ws;
  const int next = in.peek();
  if (next != '[')
    TREL_THROW("Subtitle >> operator : expected \"[\" before confidence. instead found \"" << next << "\"");
  std::string word;
  in >> word;  // not empty: it starts with the "[" just seen
  if (word.back() != ']')
    TREL_THROW("Subtitle >> operator : expected \"]\" after confidence. instead found \"" << word.back() << "\"");
  const std::string inner = word.substr(1, word.size() >= 2 ? word.size() - 2 : 0);
  std::stringstream confidence_text(inner);
  double confidence;
  if (!(confidence_text >> confidence))
    TREL_THROW("Subtitle >> operator : confidence value read was \"" << inner << "\" which is not a float");
  s.confidence = confidence;
  // A record ending the stream without a line feed has an empty text; getline
  // would fail there and leave the previous text in place.
  s.text.clear();
  if (!in.eof()) std::getline(in, s.text);
  return in;
}

std::ostream& operator<<(std::ostream& out, const Subtitle& s) {
  if (!out.good()) TREL_THROW("Subtitle << operator : stream passed was not good");
  if (s.text.find('\n') != std::string::npos)
    TREL_THROW("Subtitle << operator : the text of record " << s.number
                                                              << " holds a line break, which would not read back");
  // The record is composed first so that a time that cannot be written leaves
  // the stream untouched.
  std::stringstream record;
  record << s.number << '\n' << s.start << " --> " << s.end << '\n';
  record << std::fixed << std::setprecision(1) << '[' << s.confidence << "] " << s.text << '\n';
  out << std::fixed << std::setprecision(1) << record.str();
  return out;
}

}  // namespace trel
