#ifndef TREL_TOOLS_EXCEPTION_L_H
#define TREL_TOOLS_EXCEPTION_L_H

#include <exception>
#include <sstream>
#include <string>

#include "trel_tools/export.h"

namespace trel {

// The system's one exception type. The message is a call trace: each frame is
// three lines (file(line), function signature, "Details: " text); a wrapping
// frame is indented by its depth in tabs and embeds the inner message verbatim,
// so the outermost frame carries the most tabs and the origin none.
class TREL_TOOLS_EXPORT exception_l : public std::exception {
public:
  // Message "No message", depth 0.
  exception_l();
  // Copies the message; depth 0 at an origin, inner depth + 1 when wrapping.
  exception_l(const std::string& message, int depth);
  // The copy owns its own text: it stays valid after the original is gone.
  exception_l(const exception_l& other);
  virtual ~exception_l();

  const char* what() const noexcept override;
  int depth() const;

private:
  exception_l& operator=(const exception_l& other);

  std::string* message_;
  int depth_;
};

namespace detail {

// Builds the three-line origin frame and throws it at depth 0.
[[noreturn]] TREL_TOOLS_EXPORT void throw_origin(const char* file, int line, const char* signature,
                                                 const std::string& detail_text);

// Rethrows the exception currently being handled with one more frame:
// an exception_l at its depth + 1 with tab-indented frame lines, any other
// std::exception at depth 0 without tabs. Other exceptions pass untouched.
[[noreturn]] TREL_TOOLS_EXPORT void rethrow_wrapped(const char* file, int line, const char* signature,
                                                    const std::string& own_text);

}  // namespace detail
}  // namespace trel

#if defined(_MSC_VER)
#  define TREL_FUNCTION_SIGNATURE __FUNCSIG__
#else
#  define TREL_FUNCTION_SIGNATURE __PRETTY_FUNCTION__
#endif

// Throws an exception_l from here. `message_parts` is streamed, so values may be
// chained in: TREL_THROW("tried to set size to " << rows << "," << cols);
#define TREL_THROW(message_parts) TREL_THROW_AS(TREL_FUNCTION_SIGNATURE, message_parts)

// Throws when `condition` does not hold.
#define TREL_CHECK(condition, message_parts) TREL_CHECK_AS(TREL_FUNCTION_SIGNATURE, condition, message_parts)

namespace trel {

// Where a frame of the call trace is raised: file, line and function signature.
struct Frame {
  const char* file;
  int line;
  const char* signature;
};

// Runs body() and returns what it returns. Anything it throws is rethrown with
// `frame` added (see detail::rethrow_wrapped); own_text(std::ostream&) writes
// that frame's detail text, and runs only when something was thrown:
//   return guarded(TREL_FRAME, [&] { ...; return v; },
//                  [&](std::ostream& os) { os << "num_eqs=" << n; });
template <class Body, class Own_text>
auto guarded(const Frame& frame, Body&& body, Own_text&& own_text) -> decltype(body()) {
  try {
    return body();
  } catch (const std::exception&) {
    std::stringstream text;
    own_text(static_cast<std::ostream&>(text));
    detail::rethrow_wrapped(frame.file, frame.line, frame.signature, text.str());
  }
}

// The same with an empty detail text.
template <class Body>
auto guarded(const Frame& frame, Body&& body) -> decltype(body()) {
  return guarded(frame, static_cast<Body&&>(body), [](std::ostream&) {});
}

}  // namespace trel

// The frame of the function this stands in.
#define TREL_FRAME (::trel::Frame{__FILE__, __LINE__, TREL_FUNCTION_SIGNATURE})

// TREL_THROW and TREL_CHECK with the frame's function text given explicitly,
// for code whose frames must name another function than the one running (a
// host entry point whose work is done by host-independent helpers, a check
// inside a guarded body that names the guarded function).
#define TREL_THROW_AS(signature, message_parts)                                            \
  do {                                                                                     \
    std::stringstream trel_detail_stream_;                                                 \
    trel_detail_stream_ << message_parts;                                                  \
    ::trel::detail::throw_origin(__FILE__, __LINE__, signature, trel_detail_stream_.str()); \
  } while (0)

#define TREL_CHECK_AS(signature, condition, message_parts)       \
  do {                                                           \
    if (!(condition)) TREL_THROW_AS(signature, message_parts);   \
  } while (0)

#endif
