#include "trel_tools/exception_l.h"

namespace trel {

exception_l::exception_l() : message_(new std::string("No message")), depth_(0) {}

exception_l::exception_l(const std::string& message, int depth)
    : message_(new std::string(message)), depth_(depth) {}

exception_l::exception_l(const exception_l& other)
    : std::exception(other), message_(new std::string(other.what())), depth_(other.depth_) {}

exception_l::~exception_l() { delete message_; }

exception_l& exception_l::operator=(const exception_l& other) {
  if (this != &other) {
    std::string* copy = new std::string(other.what());
    delete message_;
    message_ = copy;
    depth_ = other.depth_;
  }
  return *this;
}

const char* exception_l::what() const noexcept { return message_->c_str(); }

int exception_l::depth() const { return depth_; }

namespace detail {

void throw_origin(const char* file, int line, const char* signature, const std::string& detail_text) {
  std::stringstream ss;
  ss << file << "(" << line << ")\n" << signature << "\n" << "Details: " << detail_text << std::endl;
  throw exception_l(ss.str(), 0);
}

void rethrow_wrapped(const char* file, int line, const char* signature, const std::string& own_text) {
  try {
    throw;
  } catch (const exception_l& inner) {
    const int depth = inner.depth() + 1;
    const std::string tabs(static_cast<std::size_t>(depth > 0 ? depth : 0), '\t');
    std::stringstream ss;
    ss << tabs << file << "(" << line << ")\n"
       << tabs << signature << "\n"
       << tabs << "Details: " << own_text << "\n"
       << inner.what() << std::endl;
    throw exception_l(ss.str(), depth);
  } catch (const std::exception& inner) {
    std::stringstream ss;
    ss << file << "(" << line << ")\n"
       << signature << "\n"
       << "Details: " << own_text << "\n"
       << inner.what() << std::endl;
    throw exception_l(ss.str(), 0);
  }
}

}  // namespace detail
}  // namespace trel
