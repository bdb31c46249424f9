// Reads a file of subtitle records, prints each record's frames at 25 frames
// per second, writes the records back to a file and reads that file again.
//
//   subtitle_demo [subtitle_file [output_file]]
//     defaults: the sample in examples/, and subtitles_written.txt here
#include <exception>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "trel_tools/Subtitle.h"

namespace {

// Every record of the stream, each with the given frame rate. The reader
// keeps the blank that the writer puts after "]"; it is dropped here so that
// writing the records gives the text they were read from.
std::vector<trel::Subtitle> read_all(std::istream& in, double frame_rate) {
  std::vector<trel::Subtitle> records;
  trel::Subtitle record(frame_rate);
  while (in >> std::ws && !in.eof()) {
    in >> record;
    if (!record.text.empty() && record.text[0] == ' ') record.text.erase(0, 1);
    records.push_back(record);
  }
  return records;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string input = argc > 1 ? argv[1] : TREL_SAMPLE_SUBTITLES;
  const std::string output = argc > 2 ? argv[2] : "subtitles_written.txt";
  try {
    std::ifstream in(input);
    if (!in) {
      std::cerr << "subtitle_demo: cannot open " << input << "\n";
      return 1;
    }
    const std::vector<trel::Subtitle> records = read_all(in, 25.0);
    std::cout << records.size() << " records in " << input << ", frames at 25 frames per second:\n";
    for (const trel::Subtitle& r : records)
      std::cout << "  " << r.number << ": frames " << r.start_frame() << " to " << r.end_frame() << ", confidence "
                << r.confidence << ", text \"" << r.text << "\"\n";

    {
      std::ofstream out(output);
      // A blank line between records, as in the sample.
      for (std::size_t i = 0; i < records.size(); ++i) out << (i > 0 ? "\n" : "") << records[i];
      if (!out) {
        std::cerr << "subtitle_demo: cannot write " << output << "\n";
        return 1;
      }
    }
    std::ifstream written(output);
    const std::vector<trel::Subtitle> again = read_all(written, 25.0);
    bool same = again.size() == records.size();
    for (std::size_t i = 0; same && i < again.size(); ++i)
      same = again[i].number == records[i].number && again[i].start_frame() == records[i].start_frame() &&
             again[i].end_frame() == records[i].end_frame() && again[i].confidence == records[i].confidence &&
             again[i].text == records[i].text;
    std::cout << "wrote them to " << output << " and read back " << again.size() << " records"
              << (same ? ", the same\n" : ", which DIFFER\n");
    return same ? 0 : 1;
  } catch (const std::exception& e) {
    std::cerr << "subtitle_demo: " << e.what();
    return 1;
  }
}
