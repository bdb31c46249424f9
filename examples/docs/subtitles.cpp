// Reads the sample subtitle file and prints each record's frames at 25 frames per second.
#include <fstream>
#include <iostream>

#include "trel_tools/Subtitle.h"

int main() {
  // [read]
  std::ifstream in("examples/sample_subtitles.txt");
  trel::Subtitle record(25.0);  // frame rate for start_frame() and end_frame()
  while (in >> std::ws && !in.eof()) {
    in >> record;  // trel::exception_l on a malformed record
    std::cout << record.start_frame() << " " << record.end_frame() << record.text << "\n";
  }
  // [/read]
}
