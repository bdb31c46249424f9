#include "trel_tools/configuration.h"

#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>
#include <vector>

#include "trel_tools/configuration_internal.h"
#include "trel_tools/exception_l.h"

// Opening configuration files: the file named at construction, imports, and the
// chain of files being read that ends an import cycle. The lines themselves are
// read by configure().

namespace trel {

using namespace configuration_detail;

namespace {

// Opens `path` for reading; a directory counts as a file that cannot be opened.
bool open_for_reading(std::ifstream& file, const std::string& path) {
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) return false;
  file.open(path, std::ios::in | std::ios::binary);
  return file.is_open();
}

// The identity of a file on the chain of files being read.
std::string file_identity(const std::string& path) {
  std::error_code error;
  const std::filesystem::path canonical = std::filesystem::canonical(path, error);
  return error ? path : canonical.string();
}

}  // namespace

void configuration::read_location(const std::string& location) {
  std::ifstream file;
  if (!open_for_reading(file, location)) {
    std::cerr << "WARNING: Input config file was not opened: " << location << std::endl;
    return;
  }
  read_file(file, location);
}

void configuration::import_file(const std::string& path) {
  std::cout << "Importing additional config file: \"" << path << "\"" << std::endl;
  std::ifstream file;
  if (!open_for_reading(file, path)) {
    std::cerr << "WARNING: Error opening import file: " << path << std::endl;
    return;
  }
  read_file(file, path);
}

void configuration::read_file(std::ifstream& file, const std::string& path) {
  const std::string identity = file_identity(path);
  for (const std::string& being_read : files_being_read_) {
    if (being_read == identity) {
      std::cerr << "WARNING: Import file is already being read, not importing it again: " << path << std::endl;
      file.close();
      return;
    }
  }
  // Keeps the chain right when a nested file throws.
  struct chain_entry {
    std::vector<std::string>& chain;
    ~chain_entry() { chain.pop_back(); }
  };
  files_being_read_.push_back(identity);
  const chain_entry entry{files_being_read_};
  configure(file);
}

}  // namespace trel
