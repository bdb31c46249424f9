// Reads a configuration file and prints every parameter whose value the file
// (or a file it imports) changed. Warnings about the file go to standard error
// as the configuration reads it.
//
//   config_demo [config_file]     default: the sample configuration in examples/
#include <exception>
#include <iostream>
#include <string>

#include "trel_tools/configuration.h"

namespace {

// Lists the records of the store, which only a derived class can reach.
class listed_configuration : public trel::configuration {
public:
  using configuration::configuration;

  void print_changed(std::ostream& out) const {
    int changed = 0;
    for (const parameter& record : parameters) {
      if (record.value == record.default_value) continue;
      ++changed;
      out << "  " << record.name << " = ";
      switch (record.type) {
        case param_bool: out << (std::get<bool>(record.value) ? "true" : "false"); break;
        case param_int: out << std::get<int>(record.value); break;
        case param_double: out << std::get<double>(record.value); break;
        case param_string: out << "\"" << std::get<std::string>(record.value) << "\""; break;
        default: out << "(structured)"; break;
      }
      out << "\n";
    }
    out << changed << " of " << parameters.size() << " parameters differ from their defaults\n";
  }
};

}  // namespace

int main(int argc, char** argv) {
  const std::string location = argc > 1 ? argv[1] : TREL_SAMPLE_CONFIG;
  std::cout << "Reading configuration: " << location << std::endl;
  try {
    const listed_configuration config(location);
    std::cout << "Values read:\n";
    config.print_changed(std::cout);

    // What a client does: typed lookups by name.
    int classes = 0;
    std::string mode;
    double ratio = 0.0;
    if (config.get_param("classes", classes) && config.get_param("mode", mode) &&
        config.get_param("ratio", ratio))
      std::cout << "get_param: classes=" << classes << " mode=" << mode << " ratio=" << ratio << std::endl;

    // Structured values are handed out as a pointer to the object the store owns.
    const std::vector<std::string>* models = nullptr;
    const std::vector<trel::configuration::scale_setting>* scales = nullptr;
    if (config.get_param("model_loc", models) && models) {
      std::cout << "get_param: model_loc =";
      for (const std::string& model : *models) std::cout << " " << model;
      std::cout << std::endl;
    }
    if (config.get_param("scale", scales) && scales) {
      std::cout << "get_param: scale =";
      for (const auto& scale : *scales)
        std::cout << " (" << scale.samples << "," << scale.radius << "," << scale.scale_factor << ")";
      std::cout << std::endl;
    }
  } catch (const std::exception& e) {
    std::cerr << "Configuration could not be read:\n" << e.what();
    return 1;
  }
  return 0;
}
