#include "trel_tools/configuration.h"

#include <cstdlib>
#include <iostream>
#include <string>
#include <utility>

#if defined(__GNUG__)
#  include <cxxabi.h>
#endif

#include "trel_tools/configuration_internal.h"
#include "trel_tools/exception_l.h"

// The parameter store: registration, lookup, the line reader that feeds it,
// the dispatch of one assignment and the rules of plain values. Opening files
// and imports are in configuration_reader.cpp, the parsers of the structured
// parameters in configuration_structured.cpp, the catalogue's table in
// configuration_catalogue.inc.

namespace trel {

using namespace configuration_detail;

namespace {

void replace_all(std::string& text, const std::string& from, const std::string& to) {
  for (std::string::size_type at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
}

// A type's name as written in code: demangled where the compiler mangles, and
// without the default allocator and character-traits arguments of the
// standard containers ("std::vector<std::vector<double>>*").
std::string type_name(const std::type_info& type) {
  std::string name = type.name();
#if defined(__GNUG__)
  int status = 0;
  char* demangled = abi::__cxa_demangle(name.c_str(), nullptr, nullptr, &status);
  if (status == 0 && demangled) name = demangled;
  std::free(demangled);
#endif
  for (std::string::size_type at; (at = name.find(", std::allocator<")) != std::string::npos;) {
    std::string::size_type end = at + 17;
    for (int depth = 1; end < name.size() && depth > 0; ++end) {
      if (name[end] == '<') ++depth;
      if (name[end] == '>') --depth;
    }
    name.erase(at, end - at);
  }
  replace_all(name, " >", ">");
  replace_all(name, "std::__cxx11::", "std::");
  replace_all(name, "std::basic_string<char, std::char_traits<char>>", "std::string");
  replace_all(name, "_IplConvKernel", "IplConvKernel");
  return name;
}

// The accepted words of the text parameters that name a choice.
const char* const kModeWords[] = {"train", "test", "crossvalidate", "live", "pss", "model_builder",
                                  "model_viewer", "model_recognition", "scene_flow_demo",
                                  "scene_flow_viewer", "trajectory_viewer", "scene_flow_ml_train",
                                  "colour_constancy_eval", "cc_noise_eval", "cc_full_eval", nullptr};
const char* const kFeatureWords[] = {"lbp", "hog", "hof", "hos", nullptr};
const char* const kClassifierWords[] = {"rdf", "nn", "svm", "gp", nullptr};
const char* const kTrackerWords[] = {"particle_filter", "kalman_filter", nullptr};
const char* const kFitnessWords[] = {"fitness_interpolator",
                                     "fitness_function_brightness_consistency",
                                     "fitness_function_patch_ssd",
                                     "fitness_function_learned_bc",
                                     "ff_linear_bc",
                                     "ff_gc",
                                     "ff_linear_gc",
                                     "ff_ofc",
                                     "fitness_function_learned_bc_inverse",
                                     "fitness_function_brightness_consistency_inverse",
                                     nullptr};
const char* const kPeakExtractorWords[] = {"mean", "median", "meanshift", nullptr};
const char* const kCcEvalWords[] = {"clean", "noisy", "outlier", nullptr};

// The first whitespace-delimited token of a line; the line feed is already gone,
// so a carriage return before it counts as whitespace like any other.
std::string first_token(const std::string& line) {
  static const char* const kWhitespace = " \t\r\v\f";
  const std::string::size_type begin = line.find_first_not_of(kWhitespace);
  if (begin == std::string::npos) return std::string();
  const std::string::size_type end = line.find_first_of(kWhitespace, begin);
  return line.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
}

}  // namespace

// ---- the catalogue

const std::vector<configuration::catalogue_row>& configuration::catalogue() {
  using row = catalogue_row;
  using rules = structured_rules;
  const auto at_least = row::at_least;
  const auto greater_than = row::greater_than;
  const auto less_than = row::less_than;
  const auto from_to = row::from_to;
  const auto strictly_between = row::strictly_between;

  static const std::vector<catalogue_row> rows = {
#include "trel_tools/configuration_catalogue.inc"
  };
  return rows;
}

const configuration::catalogue_row* configuration::find_row(const std::string& name) {
  for (const catalogue_row& row : catalogue())
    if (name == row.name) return &row;
  return nullptr;
}

// ---- construction and release

configuration::configuration() { initialise(); }

configuration::configuration(const char* location) {
  initialise();
  if (!location) {
    std::cerr << "WARNING: Null char array location passed to config file constructor." << std::endl;
    return;
  }
  read_location(location);
}

configuration::configuration(std::string location) {
  initialise();
  if (location.empty()) {
    std::cerr << "WARNING: Empty string location passed to config file constructor." << std::endl;
    return;
  }
  read_location(location);
}

configuration::~configuration() { release_parameters(); }

// Each cell releases what it owns: an object the store created goes with its
// deleter, a default object stays with whoever registered it. Only a structured
// parameter of the catalogue's name and type can have had an object created, so
// any other one is named here as not the store's to clear.
void configuration::release_parameters() {
  for (const parameter& record : parameters) {
    if (record.type != param_special) continue;
    const catalogue_row* row = find_row(record.name);
    if (!row || row->type != param_special ||
        std::get<structured>(record.value).type() != std::get<structured>(row->default_value).type())
      std::cerr << "WARNING: Unrecognised special parameter, unsure how to clear: " << record.name << std::endl;
  }
  parameters.clear();
}

void configuration::initialise() {
  for (const catalogue_row& row : catalogue()) add_record(row.name, row.default_value, row.type);
}

void configuration::add_record(const std::string& name, cell default_value, int type) {
  const int kind = std::holds_alternative<structured>(default_value) ? static_cast<int>(param_special)
                                                                  : static_cast<int>(default_value.index());
  TREL_CHECK(kind == type, "add_param() : parameter \"" << name << "\" given type code " << type
                                                        << " with a default of type code " << kind);
  if (find_index(name) != parameters.size()) {
    std::cerr << "Matching parameter named \"" << name << "\" found at position i during add." << std::endl;
    return;
  }
  parameters.push_back(parameter{name, default_value, default_value, type});
}

// ---- lookup

std::size_t configuration::find_index(const std::string& name) const {
  std::size_t index = 0;
  while (index < parameters.size() && parameters[index].name != name) ++index;
  return index;
}

void configuration::report_missing(const std::string& name) const {
  std::cerr << "Couldn't get parameter " << name << std::endl;
}

void configuration::check_kind(const parameter& record, int wanted_type) const {
  TREL_CHECK(record.type == wanted_type, "get_param() : parameter \"" << record.name << "\" has type code "
                                                                      << record.type << ", not the requested "
                                                                      << wanted_type);
}

void configuration::check_object_type(const parameter& record, const std::type_info& wanted) const {
  const std::type_info& held = std::get<structured>(record.value).type();
  TREL_CHECK(held == wanted, "get_param() : parameter \"" << record.name << "\" holds a " << type_name(held)
                                                          << ", not the requested " << type_name(wanted));
}

// ---- reading lines

void configuration::configure(std::ifstream& file) {
  std::size_t line_number = 0;
  std::string line;
  while (file.is_open() && std::getline(file, line)) {
    const std::string token = first_token(line);
    const std::string::size_type equals = token.find('=');
    if (equals != std::string::npos) {
      if (token.find('=', equals + 1) != std::string::npos)
        TREL_THROW("configuration::configure() : line " << line_number
                                                        << " contained more than one equals sign: \"" << token
                                                        << "\"");
      set_param(token.substr(0, equals), token.substr(equals + 1));
    } else if (!token.empty() && !starts_with(token, "//")) {
      TREL_THROW("No equals sign found in config file line " << line_number << ": \"" << token << "\"");
    }
    ++line_number;
  }
  file.close();
}

// ---- assignments

void configuration::set_param(const std::string& name, const std::string& value) {
  if (starts_with(name, "//")) return;
  std::size_t index = find_index(name);
  if (index == parameters.size() && starts_with(name, "__")) {
    add_param(name, std::string(), param_string);
    index = find_index(name);
  }
  if (name == "import") {
    import_file(value);
    return;
  }
  try {
    set_param2(name, value, static_cast<int>(index));
  } catch (const value_error& error) {
    TREL_THROW(error.detail);
  }
}

void configuration::set_param2(std::string name, std::string value, int index) {
  if (index >= 0 && static_cast<std::size_t>(index) < parameters.size() &&
      parameters[static_cast<std::size_t>(index)].name == name) {
    parameter& record = parameters[static_cast<std::size_t>(index)];
    const catalogue_row* row = find_row(name);
    if (row && row->assignable && row->type == record.type) {
      if (row->type != param_special) {
        apply_row(*row, record, value);
        return;
      }
      // The catalogue's parser applies only to an object of the catalogue's type.
      const bool catalogue_type =
          std::get<structured>(record.value).type() == std::get<structured>(row->default_value).type();
      if (row->handler && catalogue_type) {
        if (passes_repeat_rule(*row, record)) row->handler(*this, *row, record, value);
        return;
      }
    }
    if (!row && starts_with(name, "__") && record.type == param_string) {
      record.value = value;
      return;
    }
  }
  std::cerr << "WARNING: Attempted to set an unrecognised parameter: \"" << name << "\" to a value of \"" << value
            << "\", check it dosen't belong to a subconfiguration not yet specified." << std::endl;
}

bool configuration::passes_repeat_rule(const catalogue_row& row, const parameter& record) const {
  using repeat_rule = catalogue_row::repeat_rule;
  if (row.repeat == repeat_rule::none || record.value == record.default_value) return true;
  if (row.repeat_warning) {
    std::cerr << row.repeat_warning << std::endl;
  } else {
    std::cerr << "WARNING: " << row.name << " parameter encountered multiple times in config file"
              << (row.repeat == repeat_rule::take_new ? " (using new one anyway)" : "") << std::endl;
  }
  return row.repeat == repeat_rule::take_new;
}

void configuration::apply_row(const catalogue_row& row, parameter& record, const std::string& value) {
  if (!passes_repeat_rule(row, record)) return;
  const auto print_value = [&](const char* warning) {
    std::cerr << warning;
    if (row.quote_value)
      std::cerr << "\"" << value << "\"";
    else
      std::cerr << value;
    std::cerr << std::endl;
  };
  // The number read (an int or a double), stored when the row accepts it.
  const auto store_number = [&](auto number) {
    if (const char* warning = row.number_failure(number)) {
      if (row.show_number)
        std::cerr << warning << number << std::endl;
      else
        print_value(warning);
      return;
    }
    record.value = number;
  };
  switch (record.type) {
    case param_bool: {
      if (value == "0" || value == "false") {
        record.value = false;
      } else if (value == "1" || value == "true") {
        record.value = true;
      } else if (row.warning) {
        print_value(row.warning);
      } else {
        std::cerr << "WARNING: " << row.name << " parameter not 1,0,true or false: \"" << value << "\"" << std::endl;
      }
      return;
    }
    case param_string: {
      if (!row.text_accepted(value)) {
        print_value(row.warning);
        if (row.second_line) std::cerr << row.second_line << std::endl;
        if (!row.store_anyway) return;
      }
      record.value = value;
      return;
    }
    case param_int:
      store_number(text_to_int(value));
      return;
    case param_double:
      store_number(text_to_double(value));
      return;
    default:
      return;
  }
}

}  // namespace trel
