// Reads the sample configuration and prints a few of its values.
#include <cstdio>
#include <string>
#include <vector>

#include "trel_tools/configuration.h"

int main() {
  // [read]
  trel::configuration config("examples/sample_config.txt");  // warnings go to standard error
  int classes = 0;
  std::string mode;
  if (config.get_param("classes", classes) && config.get_param("mode", mode))
    std::printf("mode %s, %d classes\n", mode.c_str(), classes);
  // [/read]
  // [structured]
  const std::vector<std::string>* models = nullptr;
  config.get_param("model_loc", models);  // every model_loc line, in reading order
  for (const std::string& m : *models) std::printf("model %s\n", m.c_str());
  // [/structured]
}
