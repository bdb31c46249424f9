#ifndef TREL_TOOLS_CONFIGURATION_H
#define TREL_TOOLS_CONFIGURATION_H

#include <cstddef>
#include <fstream>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

#include "trel_tools/export.h"

namespace trel {

// The run-time configuration: a flat store of named, typed parameters, filled
// with the catalogue's defaults and then with the assignments of a text file.
//
// File syntax, one assignment per line:
//   name=value        only the first whitespace-delimited token of a line counts,
//                     so nothing may stand around the '=' and anything after a
//                     blank is ignored (trailing comments are free);
//   // comment        a token starting with "//" is skipped, also //name=value;
//   import=path       reads another file in place, the path taken relative to
//                     the process's working directory;
//   __name=text       defines a free-form text parameter on the fly.
// A blank line is skipped; any other token without '=', or with more than one,
// stops the reading with an exception_l naming the zero-based line of the file.
//
// Every problem with a single assignment (unknown name, bad value, repeated
// name) is one "WARNING: " line on standard error; the parameter then keeps
// its value. Values are copied out by get_param, except for structured
// parameters, whose objects the store owns for its whole lifetime.
//
// Not copyable. Meant for one thread at a time.
class TREL_TOOLS_EXPORT configuration {
public:
  // Kind codes of a parameter's value.
  enum param_type : int {
    param_special = -1,  // pointer to a structured object owned by the store, null until assigned
    param_int = 0,
    param_double = 1,
    param_bool = 2,
    param_string = 3
  };

  // The value cell: the alternative in use always matches the record's type
  // code (int, double, bool, std::string, or the structured object's pointer).
  using cell = std::variant<int, double, bool, std::string, void*>;

  // One parameter record.
  struct parameter {
    std::string name;
    cell value;
    cell default_value;  // "already set" means value != default_value
    int type;            // a param_type code
  };

  // Registers the catalogue with its defaults and reads no file.
  configuration();
  // Registers the catalogue, then reads the file at `location` and the files it
  // imports. A null or empty location, or a file that cannot be opened, prints a
  // warning and leaves every parameter at its default.
  // Throws exception_l on a malformed line; nothing is left allocated then.
  explicit configuration(const char* location);
  explicit configuration(std::string location);
  virtual ~configuration();

  configuration(const configuration&) = delete;
  configuration& operator=(const configuration&) = delete;

  // Applies one assignment exactly as a file line would, after the last line
  // read so far. The name `import` reads the file named by `value`.
  // Throws exception_l only when a file read through `import` is malformed;
  // the lines before the faulty one stay applied.
  void set_param(const std::string& name, const std::string& value);

  // Copies the value of the parameter `name` into `out` and returns true.
  // T is int, double, bool or std::string for plain parameters, or the pointer
  // type of the structured object for a special one (the pointer stays owned by
  // the store). An unknown name prints "Couldn't get parameter <name>" on
  // standard error and returns false with `out` unchanged.
  // Throws exception_l when T does not match the parameter's kind.
  template <class T>
  bool get_param(const std::string& name, T& out) const;

protected:
  // Registers the whole catalogue, one add_param per parameter in catalogue
  // order. Every constructor calls it first.
  virtual void initialise();

  // Registers `name` with `default_value`; `type` must be the param_type code of
  // T's kind (throws exception_l otherwise). A name registered already prints
  // "Matching parameter named ..." and keeps the first record.
  template <class T>
  void add_param(const std::string& name, T default_value, int type);

  // Reads assignments from `file` until its end, then closes it. Lines count
  // from 0 within this file. Throws exception_l on a malformed line.
  void configure(std::ifstream& file);

  // The part of an assignment after the lookup: catalogue rules, "__" names and
  // the unknown-name warning. `index` is the record of `name`, or the number of
  // records when there is none.
  void set_param2(std::string name, std::string value, int index);

  // Every record, in registration order.
  std::vector<parameter> parameters;

private:
  struct catalogue_row;

  // The catalogue, one row per parameter in registration order.
  static const std::vector<catalogue_row>& catalogue();
  static const catalogue_row* find_row(const std::string& name);
  std::size_t find_index(const std::string& name) const;
  void add_record(const std::string& name, cell default_value, int type);
  void report_missing(const std::string& name) const;
  void check_kind(const parameter& record, int wanted_type) const;

  void read_location(const std::string& location);
  void import_file(const std::string& path);
  void read_file(std::ifstream& file, const std::string& path);
  void apply_row(const catalogue_row& row, parameter& record, const std::string& value);
  bool passes_repeat_rule(const catalogue_row& row, const parameter& record) const;
  void release_parameters();

  // The files being read, outermost first, by canonical path: a file on this
  // chain is not read again, so an import cycle ends.
  std::vector<std::string> files_being_read_;
};

// ---- implementation

template <class T>
bool configuration::get_param(const std::string& name, T& out) const {
  const std::size_t index = find_index(name);
  if (index == parameters.size()) {
    report_missing(name);
    return false;
  }
  const parameter& record = parameters[index];
  if constexpr (std::is_pointer_v<T>) {
    check_kind(record, param_special);
    out = static_cast<T>(std::get<void*>(record.value));
  } else {
    static_assert(std::is_same_v<T, int> || std::is_same_v<T, double> || std::is_same_v<T, bool> ||
                      std::is_same_v<T, std::string>,
                  "get_param reads int, double, bool, std::string or a structured object's pointer");
    check_kind(record, std::is_same_v<T, int>      ? param_int
                       : std::is_same_v<T, double> ? param_double
                       : std::is_same_v<T, bool>   ? param_bool
                                                   : param_string);
    out = std::get<T>(record.value);
  }
  return true;
}

template <class T>
void configuration::add_param(const std::string& name, T default_value, int type) {
  static_assert(std::is_same_v<T, int> || std::is_same_v<T, double> || std::is_same_v<T, bool> ||
                    std::is_same_v<T, std::string> || std::is_same_v<T, void*>,
                "add_param registers int, double, bool, std::string or void* (structured) values");
  add_record(name, cell(std::move(default_value)), type);
}

}  // namespace trel

#endif
