// Fuzz target: the configuration reader fed whole files. The input up to its
// first NUL byte becomes a.cfg, the rest b.cfg, both in a private temporary
// folder that is the working directory while the reader runs, so the input can
// import either file by name, itself included: import cycles of one and two
// files, and imports of missing files, are part of what gets explored.
// A malformed line throws exception_l; every other problem is a warning.
// A configuration that was read is then turned into a camera rig, so that the
// per-camera entries, whole, cut short or empty, reach Camera::init; a rig that
// cannot be built throws exception_l too.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "trel_tools/Camera.h"
#include "trel_tools/configuration.h"
#include "trel_tools/exception_l.h"

namespace {

namespace fs = std::filesystem;

// The temporary folder, made once and removed when the process ends.
const fs::path& work_folder() {
  static const fs::path folder = [] {
    std::string pattern = (fs::temp_directory_path() / "trel_fuzz_config_XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) trel_fuzz::finding("cannot make a temporary folder");
    std::atexit([] {
      std::error_code ignored;
      fs::remove_all(work_folder(), ignored);
    });
    return fs::path(pattern);
  }();
  return folder;
}

void write_file(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  if (!out) trel_fuzz::finding("cannot write " + path.string());
}

// Makes `folder` the working directory until destroyed.
class inside_folder {
public:
  explicit inside_folder(const fs::path& folder) : previous_(fs::current_path()) { fs::current_path(folder); }
  ~inside_folder() { fs::current_path(previous_); }
  inside_folder(const inside_folder&) = delete;
  inside_folder& operator=(const inside_folder&) = delete;

private:
  fs::path previous_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text = trel_fuzz::text_of(data, size);
  const std::string::size_type split = text.find('\0');
  const fs::path& folder = work_folder();
  write_file(folder / "a.cfg", text.substr(0, split));
  write_file(folder / "b.cfg", split == std::string::npos ? std::string() : text.substr(split + 1));

  inside_folder here(folder);
  trel_fuzz::quiet_streams quiet;
  try {
    trel::configuration config(std::string("a.cfg"));
    int classes = 0;
    std::string mode;
    if (!config.get_param("classes", classes) || !config.get_param("mode", mode))
      trel_fuzz::finding("a catalogue parameter went missing");
    std::vector<trel::Camera> rig;
    trel::create_camera_vector(rig, config);
  } catch (const trel::exception_l&) {
  }
  return 0;
}
