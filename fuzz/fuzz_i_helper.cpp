// Fuzz target: the i_helper readers (string to int and double, stream of words
// to int) and int_to_str. A refused text throws exception_l and leaves the
// value unchanged; an accepted int reads back from its own decimal text.
#include <climits>

#include "fuzz/fuzz_support.h"
#include "trel_tools/IO_helpers.h"
#include "trel_tools/exception_l.h"

namespace {

template <class T>
bool read_from_text(const std::string& text, T& value) {
  const T before = value;
  try {
    trel::i_helper(text, value);
    return true;
  } catch (const trel::exception_l&) {
    if (!(value == before)) trel_fuzz::finding("a refused text changed the value");
    return false;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text = trel_fuzz::text_of(data, size);

  int whole = 17;
  if (read_from_text(text, whole)) {
    int again = 0;
    if (!read_from_text(trel::int_to_str(whole), again) || again != whole)
      trel_fuzz::finding("an int does not read back from int_to_str");
  }
  double real = 17.0;
  read_from_text(text, real);

  // Every word of the text through the stream form: each call consumes one word.
  std::stringstream words(text);
  for (int calls = 0; words >> std::ws, words.good(); ++calls) {
    if (calls > static_cast<int>(size)) trel_fuzz::finding("i_helper(stream) does not consume its word");
    int value = 17;
    try {
      trel::i_helper(words, value);
    } catch (const trel::exception_l&) {
      if (value != 17) trel_fuzz::finding("a refused word changed the value");
    }
  }

  // int_to_str(n, width) with n and width taken from the first bytes.
  if (size >= 5) {
    const int n = static_cast<int>(static_cast<unsigned>(data[0]) | static_cast<unsigned>(data[1]) << 8 |
                                   static_cast<unsigned>(data[2]) << 16 | static_cast<unsigned>(data[3]) << 24);
    const int width = static_cast<signed char>(data[4]) % 16;
    try {
      const std::string padded = trel::int_to_str(n, width);
      int back = -1;
      if (static_cast<int>(padded.size()) != width) trel_fuzz::finding("int_to_str gave the wrong width");
      if (width > 0 && (!read_from_text(padded, back) || back != n))
        trel_fuzz::finding("int_to_str(n, width) does not read back as n");
    } catch (const trel::exception_l&) {
    }
  }
  return 0;
}
