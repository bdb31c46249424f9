#ifndef TREL_PYTHON_CONFIGURATION_BINDING_H
#define TREL_PYTHON_CONFIGURATION_BINDING_H

#include <memory>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include <pybind11/pybind11.h>

#include "trel_tools/configuration.h"

namespace trel {
namespace python {

// Redirects standard error into a buffer while alive. Used with the
// interpreter lock held, so one Python thread at a time swaps the stream.
class Stream_capture {
public:
  Stream_capture();
  ~Stream_capture();
  Stream_capture(const Stream_capture&) = delete;
  Stream_capture& operator=(const Stream_capture&) = delete;
  // The non-empty lines written so far.
  std::vector<std::string> lines() const;

private:
  std::ostringstream text_;
  std::streambuf* previous_;
};

// The configuration as Python sees it: the store plus the warnings it wrote.
class Py_configuration {
public:
  // read: read the file at `location`; otherwise only the defaults.
  Py_configuration(const std::string& location, bool read);

  pybind11::object get(const std::string& name) const;
  std::vector<std::string> set(const std::string& name, const std::string& value);
  std::vector<std::string> names() const;
  const configuration::parameter* record(const std::string& name) const;
  const std::vector<std::string>& warnings() const { return warnings_; }
  void clear_warnings() { warnings_.clear(); }

  // Runs f(store) with standard error gathered into the warnings.
  template <class F>
  void with_capture(F&& f) {
    Stream_capture capture;
    try {
      f(static_cast<configuration&>(*store_));
    } catch (...) {
      note(capture);
      throw;
    }
    note(capture);
  }

private:
  // The library's store with its records readable.
  class Store : public configuration {
  public:
    Store() = default;
    explicit Store(const std::string& location) : configuration(location) {}
    const std::vector<parameter>& records() const { return parameters; }
  };

  void note(const Stream_capture& capture);

  std::unique_ptr<Store> store_;
  std::vector<std::string> warnings_;
};

}  // namespace python
}  // namespace trel

#endif
