#ifndef TREL_TOOLS_STRING_UTILS_H
#define TREL_TOOLS_STRING_UTILS_H

// Text helpers on std::string of single-byte characters: search-and-replace
// in place, path separator correction, newline stripping, lower-casing,
// whitespace tokenising and edit distance. Positions are int (strings shorter
// than 2^31 characters).

#include <string>
#include <vector>

#include "trel_tools/export.h"

namespace trel {

// Replaces the first occurrence of `find` that starts at or after `start` (a
// negative start searches the whole string) by `replace`. Returns the position
// of the replaced occurrence, or -1 with `s` unchanged when there is none.
TREL_TOOLS_EXPORT int find_and_replace(std::string& s, const std::string& find, const std::string& replace,
                                       int start);

// The same, searching backwards: the occurrence with the greatest starting
// position not greater than `start` (a start beyond the end searches the whole
// string, a negative start finds nothing). An empty `find` matches at
// min(start, size).
TREL_TOOLS_EXPORT int rfind_and_replace(std::string& s, const std::string& find, const std::string& replace,
                                        int start);

// Replaces every occurrence of `find`, left to right; the search continues
// after the inserted text, which is never searched again ("aaa" with "a" ->
// "aa" gives "aaaaaa"). Returns the number of replacements. An empty `find`
// matches nothing: the result is 0 and `s` is unchanged.
TREL_TOOLS_EXPORT int find_and_replace_all(std::string& s, const std::string& find, const std::string& replace);

// Turns every forward slash of `path` into a backslash.
TREL_TOOLS_EXPORT void correct_path(std::string& path);

// Removes every line feed and every carriage return from `s`.
TREL_TOOLS_EXPORT void strip_nl(std::string& s);

// A copy of `s` with every character mapped through the C library's tolower
// in the current C locale.
TREL_TOOLS_EXPORT const std::string to_lower(const std::string& s);

// The whitespace-delimited words of `s`. A string that is empty or holds only
// whitespace gives exactly one empty word; trailing whitespace gives no extra
// empty word.
TREL_TOOLS_EXPORT std::vector<std::string> tokenise(const std::string& s);

// Unit-cost edit distance (insertions, deletions, substitutions) between `a`
// and `b`, comparing bytes. Takes time proportional to the product of the two
// lengths and keeps two rows of the table: memory proportional to the shorter
// length (two strings of 100 000 characters need under 1 MB).
TREL_TOOLS_EXPORT int levenshtein(const std::string& a, const std::string& b);

}  // namespace trel

#endif
