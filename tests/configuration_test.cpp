#include "trel_tools/configuration.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <opencv2/imgproc/imgproc_c.h>

#include "tests/test_support.h"
#include "trel_tools/exception_l.h"

namespace {

namespace fs = std::filesystem;

using captured_streams = trel_test::Captured_streams;

// A fresh directory, removed with everything in it at the end of the test.
class temp_dir {
public:
  temp_dir() {
    std::string pattern = (fs::temp_directory_path() / "trel_configuration_XXXXXX").string();
    const char* made = mkdtemp(pattern.data());
    if (!made) throw std::runtime_error("mkdtemp failed");
    path_ = made;
  }
  ~temp_dir() {
    std::error_code error;
    fs::remove_all(path_, error);
  }
  // Writes `content` byte for byte to `name` inside the directory; returns the full path.
  std::string write(const std::string& name, const std::string& content) const {
    const fs::path file = path_ / name;
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << content;
    return file.string();
  }
  const fs::path& path() const { return path_; }

private:
  fs::path path_;
};

// Imports are relative to the process's working directory: tests that import
// run inside their temporary directory and go back afterwards.
class working_directory {
public:
  explicit working_directory(const fs::path& dir) : previous_(fs::current_path()) { fs::current_path(dir); }
  ~working_directory() { fs::current_path(previous_); }

private:
  fs::path previous_;
};

class inspectable_configuration : public trel::configuration {
public:
  using configuration::configuration;
  using configuration::add_param;
  using configuration::configure;
  using configuration::parameters;

  // The value of `name` as text, whatever its kind ("<missing>" when unknown).
  std::string value_text(const std::string& name) const {
    for (const parameter& record : parameters) {
      if (record.name != name) continue;
      std::ostringstream text;
      switch (record.type) {
        case param_bool: text << (std::get<bool>(record.value) ? "true" : "false"); break;
        case param_int: text << std::get<int>(record.value); break;
        case param_double: text << std::get<double>(record.value); break;
        case param_string: text << std::get<std::string>(record.value); break;
        default: text << "<special>"; break;
      }
      return text.str();
    }
    return "<missing>";
  }
};

int int_param(const trel::configuration& config, const std::string& name) {
  int value = -12345;
  EXPECT_TRUE(config.get_param(name, value)) << name;
  return value;
}

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

// The exception thrown by reading `main.txt` with `content` inside `dir`.
std::string read_error(const temp_dir& dir, const std::string& content) {
  const std::string path = dir.write("main.txt", content);
  captured_streams streams;
  try {
    trel::configuration config(path);
  } catch (const trel::exception_l& e) {
    EXPECT_EQ(e.depth(), 0);
    return e.what();
  }
  return "<no exception>";
}

}  // namespace

// ---- reader

TEST(ConfigurationReader, OnlyFirstTokenOfEachLineCounts) {
  temp_dir dir;
  const std::string path = dir.write("main.txt", "classes=3  trailing comment = here\n \t trees=4\tx\nx_subregions=2");
  captured_streams streams;
  const trel::configuration config(path);
  EXPECT_EQ(int_param(config, "classes"), 3);
  EXPECT_EQ(int_param(config, "trees"), 4);
  EXPECT_EQ(int_param(config, "x_subregions"), 2);  // last line without a line feed
  EXPECT_EQ(streams.err(), "");
  EXPECT_EQ(streams.out(), "");
}

TEST(ConfigurationReader, CrLfFileReadsLikeLfFile) {
  const std::string lines[] = {"// header", "", "trees=5", "  classes=2  // two", "trees=6", "mode=live", "__tag=a"};
  std::string lf, crlf;
  for (const std::string& line : lines) {
    lf += line + "\n";
    crlf += line + "\r\n";
  }
  temp_dir dir;
  std::string lf_err, crlf_err;
  inspectable_configuration* configs[2];
  {
    captured_streams streams;
    configs[0] = new inspectable_configuration(dir.write("lf.txt", lf));
    lf_err = streams.err();
  }
  {
    captured_streams streams;
    configs[1] = new inspectable_configuration(dir.write("crlf.txt", crlf));
    crlf_err = streams.err();
  }
  EXPECT_EQ(lf_err, "WARNING: trees parameter encountered multiple times in config file\n");
  EXPECT_EQ(crlf_err, lf_err);
  for (const char* name : {"trees", "classes", "mode", "__tag"})
    EXPECT_EQ(configs[1]->value_text(name), configs[0]->value_text(name)) << name;
  EXPECT_EQ(configs[1]->value_text("mode"), "live");
  EXPECT_EQ(configs[1]->value_text("__tag"), "a");
  delete configs[0];
  delete configs[1];
}

TEST(ConfigurationReader, CommentsAndCommentedAssignmentsAreSkippedSilently) {
  temp_dir dir;
  const std::string path = dir.write("main.txt", "// any comment text\n//\n  //classes=3\n//trees=4 x\n\n \t \n");
  captured_streams streams;
  const trel::configuration config(path);
  EXPECT_EQ(int_param(config, "classes"), -1);
  EXPECT_EQ(int_param(config, "trees"), -1);
  EXPECT_EQ(streams.err(), "");
  EXPECT_EQ(streams.out(), "");
}

TEST(ConfigurationReader, MalformedLinesThrowNamingLineAndToken) {
  struct malformed_case {
    std::string content;
    std::string details;
  };
  const malformed_case cases[] = {
      {"/ comment\n", "Details: No equals sign found in config file line 0: \"/\""},
      {"\n\n\nclasses = 3\n", "Details: No equals sign found in config file line 3: \"classes\""},
      {"trees=2\r\n// ok\r\n  noequals  trees=3\r\n", "Details: No equals sign found in config file line 2: \"noequals\""},
      {"a==b\n", "Details: configuration::configure() : line 0 contained more than one equals sign: \"a==b\""},
      {"trees=2\na=b=c tail=x\n",
       "Details: configuration::configure() : line 1 contained more than one equals sign: \"a=b=c\""},
  };
  temp_dir dir;
  for (const malformed_case& c : cases) {
    const std::vector<std::string> lines = split_lines(read_error(dir, c.content));
    ASSERT_EQ(lines.size(), 3u) << c.content;
    EXPECT_NE(lines[0].find("trel_tools/configuration.cpp("), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find("configure("), std::string::npos) << lines[1];
    EXPECT_EQ(lines[2], c.details);
  }
}

TEST(ConfigurationReader, EmptyValueAndEmptyNameReachTheStore) {
  temp_dir dir;
  const std::string path = dir.write("main.txt", "classes=\n=3\n");
  captured_streams streams;
  const trel::configuration config(path);
  EXPECT_EQ(int_param(config, "classes"), -1);
  EXPECT_EQ(streams.err(),
            "WARNING: the number of classes was not greater than 0: \n"
            "WARNING: Attempted to set an unrecognised parameter: \"\" to a value of \"3\", check it dosen't "
            "belong to a subconfiguration not yet specified.\n");
}

TEST(ConfigurationReader, UnreadableLocationsLeaveEveryDefault) {
  temp_dir dir;
  struct location_case {
    std::unique_ptr<inspectable_configuration> (*make)(const temp_dir&);
    std::string warning;
  };
  const location_case cases[] = {
      {[](const temp_dir&) { return std::make_unique<inspectable_configuration>(static_cast<const char*>(nullptr)); },
       "WARNING: Null char array location passed to config file constructor.\n"},
      {[](const temp_dir&) { return std::make_unique<inspectable_configuration>(std::string()); },
       "WARNING: Empty string location passed to config file constructor.\n"},
      {[](const temp_dir& d) { return std::make_unique<inspectable_configuration>((d.path() / "none.txt").string()); },
       "WARNING: Input config file was not opened: " + (dir.path() / "none.txt").string() + "\n"},
      {[](const temp_dir& d) { return std::make_unique<inspectable_configuration>(d.path().string().c_str()); },
       "WARNING: Input config file was not opened: " + dir.path().string() + "\n"},
  };
  const inspectable_configuration defaults;
  for (const location_case& c : cases) {
    captured_streams streams;
    const std::unique_ptr<inspectable_configuration> config = c.make(dir);
    EXPECT_EQ(streams.err(), c.warning);
    EXPECT_EQ(streams.out(), "");
    ASSERT_EQ(config->parameters.size(), defaults.parameters.size());
    for (std::size_t i = 0; i < defaults.parameters.size(); ++i)
      EXPECT_TRUE(config->parameters[i].value == defaults.parameters[i].value) << defaults.parameters[i].name;
  }
}

TEST(ConfigurationReader, ConfigureReadsAnOpenStreamToItsEndAndClosesIt) {
  temp_dir dir;
  std::ifstream file(dir.write("main.txt", "trees=5\nclasses=2\n"));
  inspectable_configuration config;
  config.configure(file);
  EXPECT_FALSE(file.is_open());
  EXPECT_EQ(config.value_text("trees"), "5");
  EXPECT_EQ(config.value_text("classes"), "2");
}

// ---- imports

TEST(ConfigurationImport, ImportedAssignmentsTakeEffectAtTheImportLine) {
  temp_dir dir;
  const working_directory cwd(dir.path());
  dir.write("sub.txt", "trees=7\nclasses=4\n__seen=yes\n");
  dir.write("main.txt", "trees=5\nimport=sub.txt\nclasses=2\n__seen=again\n");
  captured_streams streams;
  const inspectable_configuration config("main.txt");
  EXPECT_EQ(config.value_text("trees"), "5");
  EXPECT_EQ(config.value_text("classes"), "4");
  EXPECT_EQ(config.value_text("__seen"), "again");
  EXPECT_EQ(streams.out(), "Importing additional config file: \"sub.txt\"\n");
  EXPECT_EQ(streams.err(),
            "WARNING: trees parameter encountered multiple times in config file\n"
            "WARNING: classes parameter encountered multiple times in config file\n");
}

TEST(ConfigurationImport, PathIsRelativeToWorkingDirectoryNotToImportingFile) {
  temp_dir dir;
  const working_directory cwd(dir.path());
  dir.write("conf/inner.txt", "trees=5\n");
  {
    dir.write("conf/main.txt", "import=inner.txt\n");
    captured_streams streams;
    const trel::configuration config("conf/main.txt");
    EXPECT_EQ(int_param(config, "trees"), -1);
    EXPECT_EQ(streams.err(), "WARNING: Error opening import file: inner.txt\n");
  }
  {
    dir.write("conf/main.txt", "import=conf/inner.txt\n");
    captured_streams streams;
    const trel::configuration config("conf/main.txt");
    EXPECT_EQ(int_param(config, "trees"), 5);
    EXPECT_EQ(streams.err(), "");
  }
}

TEST(ConfigurationImport, MissingImportWarnsAndReadingGoesOn) {
  temp_dir dir;
  const working_directory cwd(dir.path());
  dir.write("main.txt", "import=missing.txt\ntrees=5\n");
  captured_streams streams;
  const trel::configuration config("main.txt");
  EXPECT_EQ(int_param(config, "trees"), 5);
  EXPECT_EQ(streams.out(), "Importing additional config file: \"missing.txt\"\n");
  EXPECT_EQ(streams.err(), "WARNING: Error opening import file: missing.txt\n");
}

TEST(ConfigurationImport, ImportedFileCountsItsOwnLinesFromZero) {
  temp_dir dir;
  const working_directory cwd(dir.path());
  dir.write("bad.txt", "trees=3\n\nbroken\n");
  const std::vector<std::string> lines = split_lines(read_error(dir, "\n\n\n\nimport=bad.txt\n"));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[2], "Details: No equals sign found in config file line 2: \"broken\"");
}

TEST(ConfigurationImport, ClientImportOfBadFileKeepsEarlierLinesApplied) {
  temp_dir dir;
  const working_directory cwd(dir.path());
  dir.write("bad.txt", "trees=3\nclasses=2=1\nx_subregions=4\n");
  dir.write("good.txt", "y_subregions=6\n");
  captured_streams streams;
  trel::configuration config;
  EXPECT_THROW(config.set_param("import", "bad.txt"), trel::exception_l);
  EXPECT_EQ(int_param(config, "trees"), 3);
  EXPECT_EQ(int_param(config, "classes"), -1);
  EXPECT_EQ(int_param(config, "x_subregions"), -1);
  // The chain of files being read was unwound: bad.txt may be read again.
  EXPECT_THROW(config.set_param("import", "bad.txt"), trel::exception_l);
  config.set_param("import", "good.txt");
  EXPECT_EQ(int_param(config, "y_subregions"), 6);
}

TEST(ConfigurationImport, CyclesEndWithAWarningNamingTheFile) {
  struct cycle_case {
    std::vector<std::pair<std::string, std::string>> files;  // main.txt is read
    std::string err;
    std::string trees;
  };
  const std::string again = "WARNING: Import file is already being read, not importing it again: ";
  const cycle_case cases[] = {
      {{{"main.txt", "trees=2\nimport=main.txt\nclasses=3\n"}}, again + "main.txt\n", "2"},
      // Self-import twice: two warnings, not an exponential re-reading.
      {{{"main.txt", "import=./main.txt\nimport=main.txt\ntrees=4\n"}},
       again + "./main.txt\n" + again + "main.txt\n", "4"},
      {{{"main.txt", "import=b.txt\ntrees=5\n"}, {"b.txt", "import=c.txt\n"}, {"c.txt", "import=main.txt\n"}},
       again + "main.txt\n", "5"},
  };
  for (const cycle_case& c : cases) {
    temp_dir dir;
    const working_directory cwd(dir.path());
    for (const auto& file : c.files) dir.write(file.first, file.second);
    captured_streams streams;
    const inspectable_configuration config("main.txt");
    EXPECT_EQ(streams.err(), c.err);
    EXPECT_EQ(config.value_text("trees"), c.trees);
  }
}

TEST(ConfigurationImport, FileImportedTwiceInSequenceIsReadTwice) {
  temp_dir dir;
  const working_directory cwd(dir.path());
  dir.write("b.txt", "output_parameters=2\n");
  dir.write("main.txt", "import=b.txt\nimport=b.txt\n");
  captured_streams streams;
  const trel::configuration config("main.txt");
  EXPECT_EQ(streams.out(),
            "Importing additional config file: \"b.txt\"\nImporting additional config file: \"b.txt\"\n");
  EXPECT_EQ(streams.err(),
            "WARNING: output_parameters encountered multiple times in config file (using new one anyway). Ignore "
            "this for multi-classifier systems.\n");
}

// ---- store

TEST(ConfigurationStore, GetParamOfUnknownNameLeavesOutUntouched) {
  const trel::configuration config;
  captured_streams streams;
  int out = 42;
  EXPECT_FALSE(config.get_param("no_such_parameter", out));
  EXPECT_EQ(out, 42);
  EXPECT_EQ(streams.err(), "Couldn't get parameter no_such_parameter\n");
}

TEST(ConfigurationStore, GetParamOfAnotherKindThrowsAndLeavesOutUntouched) {
  const trel::configuration config;
  double real = 7.5;
  std::string text = "kept";
  bool flag = true;
  int* object = nullptr;
  EXPECT_THROW(config.get_param("classes", real), trel::exception_l);
  EXPECT_THROW(config.get_param("mode", flag), trel::exception_l);
  EXPECT_THROW(config.get_param("ratio", text), trel::exception_l);
  EXPECT_THROW(config.get_param("trees", object), trel::exception_l);
  EXPECT_EQ(real, 7.5);
  EXPECT_EQ(text, "kept");
  EXPECT_TRUE(flag);
}

TEST(ConfigurationStore, AddParamOfExistingNameKeepsTheFirstRecord) {
  inspectable_configuration config;
  const std::size_t count = config.parameters.size();
  captured_streams streams;
  config.add_param("classes", 7, trel::configuration::param_int);
  EXPECT_EQ(streams.err(), "Matching parameter named \"classes\" found at position i during add.\n");
  EXPECT_EQ(config.parameters.size(), count);
  EXPECT_EQ(config.value_text("classes"), "-1");

  config.add_param("extra_gain", 2.5, trel::configuration::param_double);
  EXPECT_EQ(config.value_text("extra_gain"), "2.5");
  EXPECT_EQ(config.parameters.back().name, "extra_gain");
  // A type code that does not match the default's kind is refused.
  EXPECT_THROW(config.add_param("extra_count", 3, trel::configuration::param_string), trel::exception_l);
  EXPECT_EQ(config.parameters.size(), count + 1);
}

TEST(ConfigurationStore, DoubleUnderscoreNamesAreFreeTextTakingTheLastValue) {
  inspectable_configuration config;
  captured_streams streams;
  config.set_param("__note", "abc");
  config.set_param("__note", "xyz");
  config.set_param("__empty", "");
  EXPECT_EQ(streams.err(), "");
  std::string note;
  EXPECT_TRUE(config.get_param("__note", note));
  EXPECT_EQ(note, "xyz");
  EXPECT_EQ(config.value_text("__empty"), "");
  EXPECT_EQ(config.parameters.back().type, trel::configuration::param_string);
}

TEST(ConfigurationStore, UnknownOrUnassignableNamesWarnAndChangeNothing) {
  inspectable_configuration config;
  const std::size_t count = config.parameters.size();
  captured_streams streams;
  config.set_param("nosuchname", "1");
  config.set_param("closing_iterations", "3");
  config.set_param("Classes", "3");
  const std::string tail = "\", check it dosen't belong to a subconfiguration not yet specified.\n";
  EXPECT_EQ(streams.err(),
            "WARNING: Attempted to set an unrecognised parameter: \"nosuchname\" to a value of \"1" + tail +
                "WARNING: Attempted to set an unrecognised parameter: \"closing_iterations\" to a value of \"3" +
                tail + "WARNING: Attempted to set an unrecognised parameter: \"Classes\" to a value of \"3" + tail);
  EXPECT_EQ(config.parameters.size(), count);
  EXPECT_EQ(config.value_text("closing_iterations"), "0");
  EXPECT_EQ(config.value_text("classes"), "-1");
}

TEST(ConfigurationStore, NumbersAreReadLikeAtoiAndAtof) {
  struct number_case {
    std::string name, value, expected;
  };
  const number_case cases[] = {
      {"trees", "12abc", "12"},
      {"trees", " +7", "7"},
      {"crossvalidation_iterations", "abc", "0"},
      {"kernel_width", "9.9", "9"},
      {"trees", "99999999999999999999", "2147483647"},  // saturates instead of wrapping
      {"ratio", "0.25xyz", "0.25"},
      {"ratio", " 5e-1", "0.5"},
  };
  for (const number_case& c : cases) {
    inspectable_configuration config;
    captured_streams streams;
    config.set_param(c.name, c.value);
    EXPECT_EQ(config.value_text(c.name), c.expected) << c.name << "=" << c.value;
    EXPECT_EQ(streams.err(), "");
  }
  // 2^32 + 1 would wrap round to 1 and pass the range check.
  inspectable_configuration config;
  captured_streams streams;
  config.set_param("output_bitmap", "4294967297");
  EXPECT_EQ(config.value_text("output_bitmap"), "-1");
  EXPECT_EQ(streams.err(),
            "WARNING: output_bitmap must be greater than or equal to 0, and less than128, entered value was: "
            "2147483647\n");
}

TEST(ConfigurationStore, SpecialParameterWithoutReleaseRuleIsReportedAndLeftToItsOwner) {
  static int owned_by_test = 5;
  class extended : public inspectable_configuration {
  public:
    extended() { add_param("my_special", &owned_by_test, param_special); }
  };
  auto* config = new extended;
  int* object = nullptr;
  EXPECT_TRUE(config->get_param("my_special", object));
  EXPECT_EQ(object, &owned_by_test);
  captured_streams streams;
  delete config;
  EXPECT_EQ(streams.err(), "WARNING: Unrecognised special parameter, unsure how to clear: my_special\n");
  EXPECT_EQ(owned_by_test, 5);
}

TEST(ConfigurationStore, StructuredCellsReleaseWhatTheyOwnOnceAndNothingLent) {
  using structured = trel::configuration::structured;
  int released = 0;
  int lent = 1;
  int owned = 2;
  {
    const structured borrowing(&lent);
    structured owning(std::shared_ptr<int>(&owned, [&released](int*) { ++released; }));
    const structured copy = owning;
    EXPECT_TRUE(copy == owning);
    EXPECT_TRUE(copy != borrowing);
    EXPECT_EQ(copy.get(), &owned);
    EXPECT_EQ(borrowing.get(), &lent);
    EXPECT_EQ(copy.type(), typeid(int*));
    owning = borrowing;  // the copy still holds the object
    EXPECT_EQ(released, 0);
  }
  EXPECT_EQ(released, 1);
}

TEST(ConfigurationStore, ConstructorThrowingPartWayLeavesNothingBehind) {
  // Run under the sanitizer build, a leak of the records or texts read before
  // the bad line fails this test.
  temp_dir dir;
  const std::string path = dir.write("main.txt", "__a=" + std::string(200, 'x') + "\nmode=live\n__b=y\nbad line\n");
  captured_streams streams;
  EXPECT_THROW(trel::configuration config(path), trel::exception_l);
  EXPECT_THROW(trel::configuration config(path.c_str()), trel::exception_l);
}

// ---- catalogue

namespace {

struct assignment_case {
  std::vector<std::string> lines;  // name=value assignments, applied in order
  std::string name;
  std::string expected_value;
  std::string expected_err;
};

void PrintTo(const assignment_case& c, std::ostream* os) {
  for (const std::string& line : c.lines) *os << line << "; ";
}

class CatalogueRule : public ::testing::TestWithParam<assignment_case> {};

// Applies name=value assignments in order, as lines of a file would be.
void apply_lines(trel::configuration& config, const std::vector<std::string>& lines) {
  for (const std::string& line : lines) {
    const std::string::size_type equals = line.find('=');
    config.set_param(line.substr(0, equals), line.substr(equals + 1));
  }
}

const std::string not_boolean(const std::string& name, const std::string& value) {
  return "WARNING: " + name + " parameter not 1,0,true or false: \"" + value + "\"\n";
}
const std::string keep(const std::string& name) {
  return "WARNING: " + name + " parameter encountered multiple times in config file\n";
}
const std::string take_new(const std::string& name) {
  return "WARNING: " + name + " parameter encountered multiple times in config file (using new one anyway)\n";
}

}  // namespace

TEST_P(CatalogueRule, AppliesRepeatRuleCheckAndWarning) {
  const assignment_case& c = GetParam();
  inspectable_configuration config;
  captured_streams streams;
  apply_lines(config, c.lines);
  EXPECT_EQ(config.value_text(c.name), c.expected_value);
  EXPECT_EQ(streams.err(), c.expected_err);
}

INSTANTIATE_TEST_SUITE_P(
    Booleans, CatalogueRule,
    ::testing::Values(
        assignment_case{{"sf_motion_only=yes"}, "sf_motion_only", "false", not_boolean("sf_motion_only", "yes")},
        assignment_case{{"sf_do_resampling=TRUE"}, "sf_do_resampling", "true", not_boolean("sf_do_resampling", "TRUE")},
        assignment_case{{"use_classification_tracker=maybe"}, "use_classification_tracker", "false",
                        "WARNING: Unrecognised value for use_classification_tracker: maybe\n"},
        assignment_case{{"use_object_tracker=2"}, "use_object_tracker", "false",
                        "WARNING: Unrecognised value for use_object_tracker: 2\n"},
        assignment_case{{"interpolate=on"}, "interpolate", "false",
                        "WARNING: Interpolate parameter not 1,0,true or false: on\n"},
        assignment_case{{"uniform=off"}, "uniform", "false", "WARNING: Uniform parameter not 1,0,true or false: off\n"},
        assignment_case{{"rotationally_invariant=x"}, "rotationally_invariant", "false",
                        "WARNING: Rotationally invariant parameter not 1,0,true or false: \"x\"\n"},
        assignment_case{{"sf_motion_only=true", "sf_motion_only=false"}, "sf_motion_only", "true",
                        keep("sf_motion_only")},
        assignment_case{{"sf_motion_only=false", "sf_motion_only=1"}, "sf_motion_only", "true", ""},
        assignment_case{{"sf_write_flows=0", "sf_write_flows=true"}, "sf_write_flows", "false", keep("sf_write_flows")},
        assignment_case{{"accumulation_classifier=1", "accumulation_classifier=0"}, "accumulation_classifier", "true",
                        keep("accumulation_classifier")},
        assignment_case{{"sf_ml_holistic_mean=1", "sf_ml_holistic_mean=0"}, "sf_ml_holistic_mean", "false",
                        take_new("sf_ml_holistic_mean")},
        assignment_case{{"surface_normal_consistency=true", "surface_normal_consistency=bad"},
                        "surface_normal_consistency", "true",
                        take_new("surface_normal_consistency") + not_boolean("surface_normal_consistency", "bad")}));

INSTANTIATE_TEST_SUITE_P(
    Texts, CatalogueRule,
    ::testing::Values(
        assignment_case{{"mode=Train"}, "mode", "", "WARNING: unrecognised mode: \"Train\"\n"},
        assignment_case{{"mode=train", "mode=live"}, "mode", "live", take_new("mode")},
        assignment_case{{"classifier_file=model"}, "classifier_file", "model",
                        "WARNING: Classifier file does not have a .xxx extension: model\n"},
        assignment_case{{"classifier_file=a.b"}, "classifier_file", "a.b",
                        "WARNING: Classifier file does not have a .xxx extension: a.b\n"},
        assignment_case{{"classifier_file=forest.xml"}, "classifier_file", "forest.xml", ""},
        assignment_case{{"classifier_file=frame.jpeg"}, "classifier_file", "frame.jpeg",
                        "WARNING: Classifier file does not have a .xxx extension: frame.jpeg\n"},
        assignment_case{{"setup_file_location=config.cfg"}, "setup_file_location", "",
                        "WARNING: setup_file_location does not have a .txt extension: config.cfg\n"},
        assignment_case{{"setup_file_location=txt"}, "setup_file_location", "",
                        "WARNING: setup_file_location does not have a .txt extension: txt\n"},
        assignment_case{{"setup_file_location=.txt"}, "setup_file_location", ".txt", ""},
        assignment_case{{"features=HOG"}, "features", "", "WARNING: unrecognised features: \"HOG\"\n"},
        assignment_case{{"classifier_type=svm", "classifier_type=rdf"}, "classifier_type", "svm",
                        keep("classifier_type")},
        assignment_case{{"object_tracker_type=kalman"}, "object_tracker_type", "",
                        "WARNING: Unrecognised object_tracker_type specified: kalman\n"},
        assignment_case{{"object_fitness_type=ff_linear_gc"}, "object_fitness_type", "ff_linear_gc", ""},
        assignment_case{{"value_fitness_type=ff_gc", "value_fitness_type=ff_ofc"}, "value_fitness_type", "ff_ofc",
                        take_new("value_fitness_type")},
        assignment_case{{"value_peak_extractor=mode"}, "value_peak_extractor", "",
                        "WARNING: value_peak_extractor should be mean, median or meanshift, entered value was: mode\n"},
        assignment_case{{"cc_eval_type=dirty"}, "cc_eval_type", "",
                        "WARNING: unrecognised cc_eval_type: \"dirty\"\n"
                        "WARNING: recognised types are clean, noisy and outlier\n"},
        assignment_case{{"svm_type=linear", "svm_type=c"}, "svm_type", "linear", keep("svm_type")},
        assignment_case{{"svm_type=c", "svm_type=linear"}, "svm_type", "linear", ""},
        assignment_case{{"object_extractor=a", "object_extractor=b"}, "object_extractor", "a",
                        keep("object_extractor")},
        assignment_case{{"sf_estimator=a", "sf_estimator=b"}, "sf_estimator", "b", take_new("sf_estimator")}));

INSTANTIATE_TEST_SUITE_P(
    Integers, CatalogueRule,
    ::testing::Values(
        assignment_case{{"trees=0"}, "trees", "-1", "WARNING: Number of trees less than 1: 0\n"},
        assignment_case{{"trees=5", "trees=7"}, "trees", "5", keep("trees")},
        assignment_case{{"trees=5", "trees=0"}, "trees", "5", keep("trees")},
        assignment_case{{"trees=-3x"}, "trees", "-1", "WARNING: Number of trees less than 1: -3x\n"},
        assignment_case{{"output_bitmap=0"}, "output_bitmap", "0", ""},
        assignment_case{{"output_bitmap=128"}, "output_bitmap", "-1",
                        "WARNING: output_bitmap must be greater than or equal to 0, and less than128, entered value "
                        "was: 128\n"},
        assignment_case{{"output_bitmap=200x"}, "output_bitmap", "-1",
                        "WARNING: output_bitmap must be greater than or equal to 0, and less than128, entered value "
                        "was: 200\n"},
        assignment_case{{"kernel_width=4"}, "kernel_width", "3",
                        "WARNING: kernel_width should be odd, entered value was: 4\n"},
        assignment_case{{"kernel_width=1"}, "kernel_width", "3",
                        "WARNING: kernel_width should not be less than 3, entered value was: 1\n"},
        assignment_case{{"kernel_width=5"}, "kernel_width", "5", ""},
        assignment_case{{"image_dep_seg_thresh=256"}, "image_dep_seg_thresh", "0",
                        "WARNING: image_dep_seg_thresh should not be less than 0 or more than 255, entered value "
                        "was: 256\n"},
        assignment_case{{"image_dep_seg_thresh=-1"}, "image_dep_seg_thresh", "0",
                        "WARNING: image_dep_seg_thresh should not be less than 0 or more than 255, entered value "
                        "was: -1\n"},
        assignment_case{{"image_dep_seg_thresh=255"}, "image_dep_seg_thresh", "255", ""},
        assignment_case{{"output_parameters=2", "output_parameters=3"}, "output_parameters", "3",
                        "WARNING: output_parameters encountered multiple times in config file (using new one "
                        "anyway). Ignore this for multi-classifier systems.\n"},
        assignment_case{{"output_parameters=0"}, "output_parameters", "1",
                        "WARNING: Number of output parameters must be greater than 0, entered value was: 0\n"},
        assignment_case{{"hosf_cell_width=5", "hosf_cell_width=6"}, "hosf_cell_width", "6",
                        take_new("hosf_cell_width")},
        assignment_case{{"crossvalidation_iterations=-2"}, "crossvalidation_iterations", "0",
                        "WARNING: crossvalidation_iterations must be greater than or equal to 0, entered value was: "
                        "-2\n"},
        assignment_case{{"sf_patch_size=0"}, "sf_patch_size", "0", ""},
        assignment_case{{"kmeans_max_iters=0"}, "kmeans_max_iters", "10000",
                        "WARNING: kmeans_max_iters should not be less than 1, entered value was: 0\n"}));

INSTANTIATE_TEST_SUITE_P(
    Reals, CatalogueRule,
    ::testing::Values(
        assignment_case{{"ratio=1"}, "ratio", "-1", "WARNING: Ratio not between 0 and 1: 1\n"},
        assignment_case{{"ratio=0"}, "ratio", "-1", "WARNING: Ratio not between 0 and 1: 0\n"},
        assignment_case{{"ratio=nan"}, "ratio", "-1", "WARNING: Ratio not between 0 and 1: nan\n"},
        assignment_case{{"ratio=0.5"}, "ratio", "0.5", ""},
        assignment_case{{"detector_threshold=1"}, "detector_threshold", "1", ""},
        assignment_case{{"detector_threshold=0"}, "detector_threshold", "0", ""},
        assignment_case{{"detector_threshold=1.01"}, "detector_threshold", "0.5",
                        "WARNING: detector_threshold should be between 0 and 1, entered value was: 1.01\n"},
        assignment_case{{"training_ratio=2abc"}, "training_ratio", "0",
                        "WARNING: training_ratio must be greater than 0, and less than 1, entered value was: 2\n"},
        assignment_case{{"dep_seg_thresh=-1.50"}, "dep_seg_thresh", "0",
                        "WARNING: Invalid value for dep_seg_thresh: -1.5\n"},
        assignment_case{{"sf_ml_training_fraction=1"}, "sf_ml_training_fraction", "1", ""},
        assignment_case{{"sf_ml_training_fraction=1.5"}, "sf_ml_training_fraction", "0",
                        "WARNING: sf_ml_training_fraction should not be more than 1, entered value was: 1.5\n"},
        assignment_case{{"sf_ml_training_fraction=-0.5"}, "sf_ml_training_fraction", "0",
                        "WARNING: sf_ml_training_fraction should not be negative, entered value was: -0.5\n"},
        assignment_case{{"x_search_expansion=2", "x_search_expansion=3", "x_search_expansion=-4"},
                        "x_search_expansion", "-4", ""},
        assignment_case{{"brightness_constancy_likelihood_decay=0"}, "brightness_constancy_likelihood_decay", "-1",
                        "WARNING: brightness_constancy_likelihood_decay should be less than 0, entered value was: "
                        "0\n"},
        assignment_case{{"frame_interval=0"}, "frame_interval", "0",
                        "WARNING: frame_interval should be greater than 0, entered value was: 0\n"},
        assignment_case{{"frame_interval=0.04", "frame_interval=0.5"}, "frame_interval", "0.04",
                        keep("frame_interval")},
        assignment_case{{"image_impulse_noise_level=0"}, "image_impulse_noise_level", "0", ""}));

namespace {

// Every plain parameter in registration order: name, kind, default, and a valid
// value that differs from the default ("-" for the one not assignable by name).
struct catalogue_entry {
  const char* name;
  int type;
  const char* default_text;
  const char* valid_value;
};
constexpr int B = trel::configuration::param_bool;
constexpr int T = trel::configuration::param_string;
constexpr int I = trel::configuration::param_int;
constexpr int R = trel::configuration::param_double;

const catalogue_entry plain_catalogue[] = {
    {"use_classification_tracker", B, "false", "true"}, {"use_object_tracker", B, "false", "true"},
    {"interpolate", B, "false", "true"}, {"uniform", B, "false", "true"},
    {"rotationally_invariant", B, "false", "true"}, {"sf_do_resampling", B, "true", "false"},
    {"sf_multiply_prior", B, "false", "true"}, {"sf_normalise_weights", B, "true", "false"},
    {"sf_noise_based_on_weight", B, "true", "false"}, {"sf_randomly_spread_missing", B, "false", "true"},
    {"sf_ray_resampling", B, "true", "false"}, {"sf_projection_scoring", B, "false", "true"},
    {"sf_two_stage_pf", B, "true", "false"}, {"sf_smoothness_weighting", B, "false", "true"},
    {"sf_image_plane", B, "true", "false"}, {"sf_inner_noise_loop", B, "false", "true"},
    {"sf_exponential_cost", B, "true", "false"}, {"sf_motion_only", B, "false", "true"},
    {"sf_propagate_velocities", B, "false", "true"}, {"sf_ray_resample_all_cameras", B, "false", "true"},
    {"sf_interpolate_pixels", B, "false", "true"}, {"sf_weight_prev_pos_conformancy", B, "false", "true"},
    {"sf_no_noise_on_best_per_ray", B, "true", "false"}, {"sf_dont_copy_neighbour_rays", B, "false", "true"},
    {"sf_favour_small_velocs", B, "false", "true"}, {"sf_favour_skin_colour", B, "false", "true"},
    {"sf_forward_and_back", B, "false", "true"}, {"sf_forward_est", B, "false", "true"},
    {"sf_write_traj", B, "false", "true"}, {"sf_write_flows", B, "true", "false"},
    {"deinterlace_input", B, "false", "true"}, {"sf_occlusion_aware", B, "false", "true"},
    {"empty_clusters_at_boundary", B, "false", "true"}, {"filter_sf_vals_3d", B, "false", "true"},
    {"filter_sf_weights_3d", B, "false", "true"}, {"filter_sf_2d", B, "false", "true"},
    {"acc_classifier_averaging", B, "false", "true"}, {"spotting_classifier", B, "false", "true"},
    {"accumulation_classifier", B, "false", "true"}, {"sf_ml_holistic_mean", B, "false", "true"},
    {"sf_ml_holistic_var", B, "false", "true"}, {"sf_ml_holistic_color_hist", B, "false", "true"},
    {"sf_ml_local_mean", B, "false", "true"}, {"sf_ml_local_var", B, "false", "true"},
    {"sf_ml_local_color_hist", B, "false", "true"}, {"sf_ml_local_mean_per_view", B, "false", "true"},
    {"sf_ml_local_var_per_view", B, "false", "true"}, {"sf_ml_local_ssd", B, "false", "true"},
    {"sf_ml_holistic_mean_per_view", B, "false", "true"}, {"sf_ml_holistic_var_per_view", B, "false", "true"},
    {"sf_ml_holistic_ssd", B, "false", "true"}, {"sf_ml_pixel_vals", B, "false", "true"},
    {"sf_ml_pixel_norm_vals", B, "false", "true"}, {"sf_ml_pixel_mean", B, "false", "true"},
    {"sf_ml_pixel_var", B, "false", "true"}, {"sf_ml_pixel_gradient", B, "false", "true"},
    {"sf_ml_pixel_gabor", B, "false", "true"}, {"hosf_indie_orie", B, "false", "true"},
    {"hosf_proj_flows", B, "false", "true"}, {"hosf_rot_inv", B, "false", "true"},
    {"hosf_rot_inv_biggest", B, "false", "true"}, {"sf_ml_dummy", B, "false", "true"},
    {"hosf_rot_roll_subregions", B, "false", "true"}, {"sf_ml_cost_and_grad", B, "false", "true"},
    {"surface_normal_consistency", B, "false", "true"},

    {"mode", T, "", "live"}, {"classifier_file", T, "", "forest.xml"}, {"features", T, "", "hog"},
    {"classifier_type", T, "", "svm"}, {"setup_file_location", T, "", "rig.txt"},
    {"object_tracker_type", T, "", "kalman_filter"}, {"object_fitness_type", T, "", "ff_gc"},
    {"value_tracker_type", T, "", "particle_filter"},
    {"value_fitness_type", T, "", "fitness_function_brightness_consistency_inverse"},
    {"value_peak_extractor", T, "", "median"}, {"object_peak_extractor", T, "", "meanshift"},
    {"object_extractor", T, "", "blobs"}, {"object_detector", T, "", "haar"}, {"sf_estimator", T, "", "pf"},
    {"sf_gt_loc", T, "", "gt/"}, {"sf_results_loc", T, "", "out/"}, {"cluster_type", T, "", "kmeans"},
    {"filter_type", T, "", "median"}, {"feature_path", T, "", "features/"}, {"distance_function", T, "", "l2"},
    {"bootstrapping_feature_input", T, "", "boot.txt"}, {"sf_ml_classifier_output", T, "", "ml.xml"},
    {"cc_eval_type", T, "", "noisy"}, {"depth_camera_config", T, "videos/scene_flow/Kinect/dep_param.txt", "k.txt"},
    {"svm_type", T, "c", "nu"}, {"svm_kernel", T, "rbf", "linear"},

    {"classes", I, "-1", "3"}, {"x_subregions", I, "-1", "2"}, {"trees", I, "-1", "50"},
    {"y_subregions", I, "-1", "4"}, {"closing_iterations", I, "0", "-"},
    {"object_hypothesis_dimensions", I, "0", "6"}, {"value_num_particles", I, "0", "100"},
    {"object_num_particles", I, "0", "200"}, {"value_hypothesis_dimensions", I, "0", "2"},
    {"output_parameters", I, "1", "2"}, {"output_bitmap", I, "-1", "127"},
    {"crossvalidation_iterations", I, "0", "5"}, {"classifier_detector_max_scales", I, "0", "4"},
    {"sf_pyramid_levels", I, "0", "3"}, {"sf_birth_rate", I, "0", "10"}, {"sf_max_noise_loops", I, "0", "2"},
    {"sf_gt_pos_kinect_start", I, "0", "7"}, {"sf_patch_size", I, "3", "5"}, {"kernel_width", I, "3", "7"},
    {"num_viewpoints", I, "-1", "2"}, {"image_dep_seg_thresh", I, "0", "255"}, {"kmeans_max_iters", I, "10000", "500"},
    {"sf_ml_bootstrap_iters", I, "1", "3"}, {"hosf_azimuth_bins", I, "4", "8"}, {"hosf_altitude_bins", I, "4", "6"},
    {"hosf_x_cells", I, "3", "4"}, {"hosf_y_cells", I, "3", "5"}, {"hosf_cell_width", I, "11", "13"},
    {"hosf_cell_height", I, "11", "9"}, {"svm_crossfolds", I, "5", "10"}, {"svm_grid_iterations", I, "1", "3"},
    {"svm_num_chi2_kernels", I, "1", "2"},

    {"dep_seg_thresh", R, "0", "0.25"}, {"x_search_expansion", R, "1", "1.5"},
    {"y_search_expansion", R, "1", "2.5"}, {"ratio", R, "-1", "0.75"}, {"feature_ratio", R, "-1", "0.5"},
    {"training_ratio", R, "0", "0.8"}, {"detector_threshold", R, "0.5", "1"},
    {"sf_pyramid_scale_factor", R, "0.5", "0.75"}, {"brightness_constancy_likelihood_decay", R, "-1", "-0.5"},
    {"frame_interval", R, "0", "0.04"}, {"trajectory_threshold", R, "1000", "250"},
    {"sf_patch_ssd_gate", R, "100000", "5000"}, {"ip_downsampling", R, "1", "2"},
    {"image_gaussian_noise_stddev", R, "1", "0"}, {"image_impulse_noise_level", R, "0.01", "0.05"},
    {"kmeans_min_change", R, "0", "0.001"}, {"sf_ml_training_fraction", R, "0", "1"},
    {"bilateral_value_variance", R, "0", "16"}, {"sfml_noise_train_sample_rate", R, "1", "0.5"},
};

}  // namespace

TEST(ConfigurationCatalogue, RegistersEveryPlainParameterInOrderWithItsDefault) {
  const inspectable_configuration config;
  const std::size_t count = sizeof(plain_catalogue) / sizeof(plain_catalogue[0]);
  ASSERT_EQ(count, 142u);
  ASSERT_GE(config.parameters.size(), count);
  int per_type[4] = {0, 0, 0, 0};
  for (std::size_t i = 0; i < count; ++i) {
    const catalogue_entry& entry = plain_catalogue[i];
    EXPECT_EQ(config.parameters[i].name, entry.name) << "record " << i;
    EXPECT_EQ(config.parameters[i].type, entry.type) << entry.name;
    EXPECT_EQ(config.value_text(entry.name), entry.default_text) << entry.name;
    ++per_type[entry.type];
  }
  EXPECT_EQ(per_type[B], 65);
  EXPECT_EQ(per_type[T], 26);
  EXPECT_EQ(per_type[I], 32);
  EXPECT_EQ(per_type[R], 19);
}

TEST(ConfigurationCatalogue, FileAssigningEveryParameterReadsBackWithExactWarnings) {
  // Bad values first (refused, or stored anyway), then one valid line per
  // parameter, then repeats and unknown names.
  std::string content =
      "trees=0\n"
      "kernel_width=4\n"
      "ratio=1\n"
      "use_object_tracker=maybe\n"
      "sf_ml_dummy=yes\n"
      "cc_eval_type=dirty\n"
      "classifier_file=model\n"
      "setup_file_location=rig.cfg\n"
      "output_bitmap=300\n";
  for (const catalogue_entry& entry : plain_catalogue)
    if (std::string(entry.valid_value) != "-") content += std::string(entry.name) + "=" + entry.valid_value + "\n";
  content +=
      "trees=7\n"
      "mode=test\n"
      "output_parameters=3\n"
      "kernel_width=8\n"
      "sf_ml_dummy=0\n"
      "x_search_expansion=-2\n"
      "svm_type=c\n"
      "closing_iterations=2\n"
      "unknown_name=1\n";
  temp_dir dir;
  const std::string path = dir.write("all.txt", content);
  captured_streams streams;
  const inspectable_configuration config(path);

  const std::string unrecognised = "WARNING: Attempted to set an unrecognised parameter: \"";
  const std::string tail = "\", check it dosen't belong to a subconfiguration not yet specified.\n";
  EXPECT_EQ(streams.err(),
            "WARNING: Number of trees less than 1: 0\n"
            "WARNING: kernel_width should be odd, entered value was: 4\n"
            "WARNING: Ratio not between 0 and 1: 1\n"
            "WARNING: Unrecognised value for use_object_tracker: maybe\n"
            "WARNING: sf_ml_dummy parameter not 1,0,true or false: \"yes\"\n"
            "WARNING: unrecognised cc_eval_type: \"dirty\"\n"
            "WARNING: recognised types are clean, noisy and outlier\n"
            "WARNING: Classifier file does not have a .xxx extension: model\n"
            "WARNING: setup_file_location does not have a .txt extension: rig.cfg\n"
            "WARNING: output_bitmap must be greater than or equal to 0, and less than128, entered value was: 300\n"
            // classifier_file was stored despite its warning, so the valid line is a repeat
            "WARNING: classifier_file parameter encountered multiple times in config file (using new one anyway)\n" +
                keep("trees") + take_new("mode") +
                "WARNING: output_parameters encountered multiple times in config file (using new one anyway). "
                "Ignore this for multi-classifier systems.\n" +
                keep("kernel_width") + take_new("sf_ml_dummy") + keep("svm_type") + unrecognised +
                "closing_iterations\" to a value of \"2" + tail + unrecognised + "unknown_name\" to a value of \"1" +
                tail);

  for (const catalogue_entry& entry : plain_catalogue) {
    std::string expected = entry.valid_value;
    const std::string name = entry.name;
    if (expected == "-") expected = entry.default_text;
    if (name == "mode") expected = "test";
    if (name == "output_parameters") expected = "3";
    if (name == "sf_ml_dummy") expected = "false";
    if (name == "x_search_expansion") expected = "-2";
    EXPECT_EQ(config.value_text(name), expected) << name;
  }
}

// ---- structured parameters

namespace {

using camera_list = trel::configuration::camera_list;
using trel::configuration;

template <class... F>
std::string fields_text(const F&... fields) {
  std::ostringstream text;
  const char* separator = "";
  ((text << separator << fields, separator = ","), ...);
  return "{" + text.str() + "}";
}
template <class T>
std::string text_of(const std::vector<T>& items);
std::string text_of(const std::string& s) { return s; }
std::string text_of(double x) {
  std::ostringstream text;
  text << x;
  return text.str();
}
std::string text_of(const configuration::haar_setting& h) {
  return fields_text(h.cascade_loc, h.scale_rate, h.detections, h.base_width, h.base_height, h.extra_settings);
}
std::string text_of(const configuration::scale_setting& s) { return fields_text(s.samples, s.radius, s.scale_factor); }
std::string text_of(const configuration::stereo_setting& s) {
  return fields_text(s.stereo_mask_size, s.edge_correlation_on, s.edge_mask_size, s.back_and_forth_on, s.width,
                     s.height, s.max_disp, s.min_disp);
}
std::string text_of(const configuration::pixel_size& p) { return fields_text(p.width, p.height); }
std::string text_of(const trel::sample& s) { return fields_text(s.location, s.frame, s.x1, s.x2, s.y1, s.y2); }
std::string text_of(const cv::Rect& r) { return fields_text(r.x, r.y, r.width, r.height); }
std::string text_of(const IplConvKernel& k) {
  return fields_text(k.nCols, k.nRows, k.anchorX, k.anchorY, k.nShiftR) +
         text_of(std::vector<double>(k.values, k.values + k.nCols * k.nRows));
}
template <class T>
std::string text_of(const std::vector<T>& items) {
  std::string text = "[";
  for (std::size_t i = 0; i < items.size(); ++i) text += (i ? "," : "") + text_of(items[i]);
  return text + "]";
}

// The object of `name` as text: "<none>" while it does not exist, lists as
// [a,b], records as {field,field}.
template <class T, class... More>
std::string object_text(const configuration::structured& cell) {
  if (cell.type() == typeid(T*)) return text_of(*static_cast<const T*>(cell.get()));
  if constexpr (sizeof...(More) > 0) return object_text<More...>(cell);
  return "<unknown type>";
}
std::string object_text(const inspectable_configuration& config, const std::string& name) {
  for (const auto& record : config.parameters) {
    if (record.name != name) continue;
    const auto& cell = std::get<configuration::structured>(record.value);
    if (!cell.get()) return "<none>";
    return object_text<camera_list, std::vector<double>, std::vector<float>, std::vector<int>,
                       std::vector<std::string>, std::vector<configuration::haar_setting>,
                       std::vector<configuration::scale_setting>, std::vector<configuration::stereo_setting>,
                       std::vector<configuration::pixel_size>, std::vector<trel::sample>, cv::Rect,
                       IplConvKernel>(cell);
  }
  return "<missing>";
}

// Each text as one warning line.
std::string warnings(std::initializer_list<std::string> texts) {
  std::string lines;
  for (const std::string& text : texts) lines += "WARNING: " + text + "\n";
  return lines;
}
std::string format(const std::string& what, const std::string& syntax, const std::string& value) {
  return warnings({"Format incorrect, " + what + " should be entered as \"" + syntax + "\", entered value was: \"" +
                   value + "\""});
}

struct structured_case {
  std::string name;
  std::vector<std::string> values;  // assigned to `name` in order
  std::string expected_object;
  std::string expected_err;
};

void PrintTo(const structured_case& c, std::ostream* os) {
  for (const std::string& value : c.values) *os << c.name << "=" << value << "; ";
}

class StructuredRule : public ::testing::TestWithParam<structured_case> {};
using S = structured_case;

const char* const rotation_note = "\" (where clockwise camera rotations are positive), entered value was: \"";

}  // namespace

TEST_P(StructuredRule, StoresAcceptedValuesAndPrintsExactWarnings) {
  const structured_case& c = GetParam();
  inspectable_configuration config;
  captured_streams streams;
  for (const std::string& value : c.values) config.set_param(c.name, value);
  EXPECT_EQ(object_text(config, c.name), c.expected_object);
  EXPECT_EQ(streams.err(), c.expected_err);
}

INSTANTIATE_TEST_SUITE_P(
    CameraKeys, StructuredRule,
    ::testing::Values(
        // A bad entry keeps its index: empty after a format warning, cut short after a centre warning.
        S{"bumblebee_params",
          {"0.5|0.25|800|810.5|640.9|480|0.12", "0.5|0.5|800|800|640|480", "1.5|0.5|8|8|6|4|0.1",
           "0.5|-0.5|8|8|6|4|0.1", "nan|0|1|1|1|1|1"},
          "[[0.5,0.25,800,810.5,640,480,0.12],[],[1.5],[0.5,-0.5],[nan]]",
          format("samples",
                 "x_centre|y_centre|x_focal_length_in_pixels|y_focal_length_in_pixels|image_width|image_height|"
                 "baseline",
                 "0.5|0.5|800|800|640|480") +
              warnings({"x centre not between 0 and 1 : 1.5", "y centre not between 0 and 1 : -0.5",
                        "x centre not between 0 and 1 : nan"})},
        S{"extrinsic_camera_params", {"10|-20|30|0.1|0.2|0.3", "1|2|3|4|5"}, "[[10,-20,30,0.1,0.2,0.3],[]]",
          warnings({std::string("Format incorrect, extrinsice camera parameters should be entered as \"euler_z(roll)|"
                                "euler_x(pitch)|euler_y(yaw)|x_offset|y_offset|z_offset") +
                    rotation_note + "1|2|3|4|5\""})},
        S{"extrinsic_camera_params_q", {"0|0|0|1|1|2|3", "0|0|1|0|0|0"}, "[[0,0,0,1,1,2,3],[]]",
          warnings({std::string("Format incorrect, extrinsice camera parameters (quaternion) should be entered as "
                                "\"quat_x|quat_y|quat_z|quat_w|x_offset|y_offset|z_offset") +
                    rotation_note + "0|0|1|0|0|0\""})},
        // The 11-value line takes no index: the next line is entry 0.
        S{"camera_proj_mats", {"1|2|3|4|5|6|7|8|9|10|11", "1|2|3|4|5|6|7|8|9|10|11|12"},
          "[[1,2,3,4,5,6,7,8,9,10,11,12]]",
          warnings({"When reading camera_proj_mats, should be 12 values, entry was: 1|2|3|4|5|6|7|8|9|10|11"})},
        // A refused line leaves the list in place, empty.
        S{"camera_space_transform", {"1|0|0|0|0|1|0|0|0|0|1|0|0|0|0|1|0"}, "[]",
          warnings({"When reading camera_space_transform, should be 16 values, entry was: "
                    "1|0|0|0|0|1|0|0|0|0|1|0|0|0|0|1|0"})},
        S{"projection_offsets", {"12|-7", "3|4|5"}, "[[12,-7],[3,4]]", ""}));

INSTANTIATE_TEST_SUITE_P(
    KernelAndRecords, StructuredRule,
    ::testing::Values(
        S{"closing_kernel",
          {"3|3|2|2|0", "0|3|1|1|0|1", "3|-1|1|1|0|1", "3|3|4|2|0|1", "3|3|2|0|0|1", "3|3|2|2|3|1",
           "3|3|2|2|100|1|0|255|0|255|256|255|0|255|0", "2|1|1|1|100|1|-1|0", "3|3|2|2|100|1|0|255|0|255|255|255|0|255",
           "3|3|2|2|0|0", "100000|100000|1|1|0|1", "1026|1|1|1|0|1", "1|1026|1|1|0|1", "23000|23000|1|1|0|1"},
          "<none>",
          format("kernel", "cols|rows|anchorx|anchory|shape|iterations|value1...", "3|3|2|2|0") +
              warnings({"ncols less than 1: 0", "nrows less than 1: -1",
                        "Anchorx parameter less than 1 or more than ncols: 4",
                        "Anchory parameter less than 1 or more than nrows: 0",
                        "Shape parameter must be 0 (rect), 1 (cross), 2 (ellipse) or 100 (custom). Entered value "
                        "was: 3",
                        "value not from 0 to 255: 256", "value not from 0 to 255: -1",
                        "A custom kernel of 3 x 3 needs 9 kernel values, but 8 were given",
                        "number of iterations must be greater than 0, entered value was: 0",
                        "kernel of 100000 x 100000 is too large, the largest is 1025 x 1025",
                        "kernel of 1026 x 1 is too large, the largest is 1025 x 1025",
                        "kernel of 1 x 1026 is too large, the largest is 1025 x 1025",
                        "kernel of 23000 x 23000 is too large, the largest is 1025 x 1025"})},
        // The largest kernel accepted.
        S{"closing_kernel", {"1025|1|1025|1|0|1"},
          "{1025,1,1024,0,0}" + text_of(std::vector<double>(1025, 1.0)), ""},
        // The anchor may be the last row and column; OpenCV draws the cross through it.
        S{"closing_kernel", {"3|3|3|3|1|1", "3|3|2|2|0|1"}, "{3,3,2,2,1}[0,0,1,0,0,1,1,1,1]", keep("closing_kernel")},
        S{"closing_kernel", {"3|3|2|2|100|2|0|255|0|255|255|255|0|255|0"},
          "{3,3,1,1,100}[0,255,0,255,255,255,0,255,0]", ""},
        S{"haar_setting",
          {"a.xml|1.1|3|24|24", "a.xml|-1|3|24|24|0", "a.xml|1.1|0|24|24|0", "a.xml|1.1|3|0|24|0", "a.xml|1.1|3|24|0|0",
           "a.xml|1.1|3|24|24|16", "a.xml|1.1|3|24|24|0", "a.xml|1.1|3|24|24|0", "b.xml|1.2|3|20|20|15"},
          "[{a.xml,1.1,3,24,24,0},{b.xml,1.2,3,20,20,15}]",
          format("samples", "cascade_loc|scale_rate|detections|base_width|base_height|extra_settings",
                 "a.xml|1.1|3|24|24") +
              warnings({"scale_rate parameter less than 0: -1", "detections parameter less than 1: 0",
                        "base_width parameter less than 1: 0", "base_height less than 1: 0",
                        "extra_settings less than 0 or greater than 15: 16",
                        "Repeated occurence of scale \"a.xml|1.1|3|24|24|0\" found"})},
        // Scale checks warn but keep the record.
        S{"scale", {"8,1,1.5", "(8,1)", "(8,0,1.5)", "(17,2,1)", "(8,1,0)", "(8,1,1.5)", "(8,1,1.5)"},
          "[{8,0,1.5},{17,2,1},{8,1,0},{8,1,1.5},{8,1,1.5}]",
          format("scales", "(samples,radius,scale_factor)", "8,1,1.5") +
              format("scales", "(samples,radius,scale_factor)", "(8,1)") +
              warnings({"Radius not greater than 0: 0", "Samples parameter not between 1 and 8*radius (0): 8",
                        "Samples parameter not between 1 and 8*radius (16): 17",
                        "scale_factor parameter not greater than 0: 0",
                        "Repeated occurence of scale \"(8,1,1.5)\" found"})},
        S{"stereo_setting",
          {"5|true|5|false|640|480|64", "24|true|5|false|640|480|64|0", "5|yes|5|false|640|480|64|0",
           "5|true|2|false|640|480|64|0", "5|true|5|1|640|480|64|0", "5|true|5|false|1025|480|64|0",
           "5|true|5|false|640|769|64|0", "5|true|5|false|640|480|641|0", "5|true|5|false|640|480|64|65",
           "5|true|5|false|640|480|241|0", "5|true|5|false|640|480|64|0", "5|true|5|false|640|480|64|0",
           "3|false|11|true|240|1|240|0"},
          "[{5,1,5,0,640,480,64,0},{3,0,11,1,240,1,240,0}]",
          format("stereo settings",
                 "stereo_mask_size|edge_correlation_on|edge_mask_size|back_and_forth_on|width|height|max_disp|min_disp",
                 "5|true|5|false|640|480|64") +
              warnings({"sms parameter less than 1, or more than 23: 24",
                        "ec parameter must be true or false, passed value was: yes",
                        "ems parameter less than 3, or more than 11: 2",
                        "back_and_forth parameter must be true or false, passed value was: 1",
                        "width parameter less than 1, or more than 1024: 1025",
                        "height parameter less than 1, or more than 768: 769",
                        "max_disp must be positive, and less than the image width: 641",
                        "min_disp must be positive, and less than the image width minus 11, and less than the max "
                        "disparity: 65",
                        "The distance between min and max disparity must be less than 240: 241",
                        "Repeated occurence of stereo settings \"5|true|5|false|640|480|64|0\" found"})},
        S{"pixel_sizes", {"0.1|0.2", "0.1,0.2", "0|0.2"}, "[{0.1,0.2}]",
          warnings({std::string("Format incorrect, pixel_sizes should be entered as \"pixel_width, pixel_height") +
                        rotation_note + "0.1,0.2\"",
                    "Either pixel width or height was not greater than 0 (0,0.2)"})},
        S{"sample",
          {"a.png|0|1|2|3", "a.png|x|1|2|3|4|0", "a.png|-2|1|2|3|4|0", "a.png|0|-1|2|3|4|0", "a.png|0|5|2|3|4|0",
           "a.png|0|1|2|-3|4|0", "a.png|0|1|2|3|2|0"},
          "<none>",
          format("samples", "location|frame|x1|x2|y1|y2|value1...", "a.png|0|1|2|3") +
              warnings({"Frame parameter was non numeric (old style sample list?): x",
                        "Frame parameter less than -1: -2",
                        "x1 less than 0: -1", "x2 (2)  less than x1 (5)", "y1 less than 0: -3",
                        "y2 (2)  less than y1 (3)"})}));

INSTANTIATE_TEST_SUITE_P(
    Lists, StructuredRule,
    ::testing::Values(
        S{"object_particle_upper_bounds", {"1|2.5|-3x", "4"}, "[1,2.5,-3]", keep("object_particle_upper_bounds")},
        S{"kmeans_hierarchy_ratios", {"0.1|0.25"}, "[0.1,0.25]", ""},
        S{"svm_multi_kernel_lengths", {"2|3", "4.9"}, "[4]", take_new("svm_multi_kernel_lengths")},
        S{"mahalanobis_covariance", {"1|2", "3"}, "[3]",
          warnings({"mahalanobis_covariance already encountered in config. Overwriting"})},
        S{"ip_step", {"a", "b", "a"}, "[a,b,a]", ""},
        S{"model_loc", {"a.cfg", "a.txt", "b.txt"}, "[a.txt,b.txt]",
          warnings({"model_loc does not have a .txt extension: a.cfg"})},
        S{"sequence_lengths", {"5", "0", "3"}, "[5,3]", warnings({"sequence_lengths specified was less than 1"})},
        S{"model_size",
          {"1|1|1|1|1|1|1", "1|1|0.5|1|1|1|1|1", "1|1|1|0|1|1|1|1", "1|1|1|1|1|1|1|2|0", "10|0.5|10|0.5|10|0.5|3|1|2",
           "1|1|1|1|1|1|1|1"},
          "[10,0.5,10,0.5,10,0.5,3,1,2]",
          warnings({"Input format for model size is \"x_size|x_step|y_size|y_step|z_size|z_step|channels|scale1...\"",
                    "The x,y,z sizes and number of channels for the model must all be greater than or equal to 1",
                    "The voxel steps in x,y,z must be positive nonzero numbers",
                    "An incorrect scale was entered for model_size, all scales must be greater than 0"}) +
              keep("model_size")},
        S{"model_pose_limits", {"1|2", "0|1|0.1|1|1|0.1", "-1|1|0.5|0|2|1"}, "[-1,1,0.5,0,2,1]",
          warnings({"Input format for model size is \"min_limit1|max_limit1|step1|...\"",
                    "One of the min limits for model_pose_limits was >= the max limit"})},
        S{"classifier_detector_roi", {"1|2|3", "-1|2|3|4", "1|-2|3|4", "1|2|30|40"}, "{1,2,30,40}",
          warnings({"classifier_detector_roi requires 4 parameters of the form x|y|width|height, but there were 3 "
                    "values.",
                    "classifier_detector_roi had a negative x value specified -1.",
                    "classifier_detector_roi had a negative y value specified -2."})},
        S{"classifier_detector_neighbours", {"1|-2|3", "1|2", "0|2|3"}, "[0,2,3]",
          warnings({"Negative number found in parameter classifier_detector_neighbours.",
                    "classifier_detector_neighbours should specify the number of neighbours in 3 dimensions, but there "
                    "were 2 entries."})},
        S{"scale_noise", {"0.1|-0.1", "0|0.5"}, "[0,0.5]",
          warnings({"An incorrect value was entered in scale_noise, all values must be greater than or equal to 0"})}));

TEST(ConfigurationStructured, RigFilesFormOneEntryPerCameraLine) {
  const std::pair<std::string, std::vector<std::string>> cases[] = {
      // Three pinhole cameras, two Euler lines.
      {"bumblebee_params=0.5|0.5|8|8|64|48|0.1\nextrinsic_camera_params=0|0|0|0|0|0\n"
       "bumblebee_params=0.5|0.5|8|8|64|48|0.1\nextrinsic_camera_params=0|0|5|0.1|0|0\n"
       "bumblebee_params=0.4|0.6|7|7|32|24|0\n",
       {"[[0.5,0.5,8,8,64,48,0.1],[0.5,0.5,8,8,64,48,0.1],[0.4,0.6,7,7,32,24,0]]", "[[0,0,0,0,0,0],[0,0,5,0.1,0,0]]",
        "<none>"}},
      // Two Euler and two quaternion lines, interleaved.
      {"extrinsic_camera_params=1|2|3|4|5|6\nextrinsic_camera_params_q=0|0|0|1|0|0|0\n"
       "extrinsic_camera_params=6|5|4|3|2|1\nextrinsic_camera_params_q=0.5|0.5|0.5|0.5|1|1|1\n",
       {"<none>", "[[1,2,3,4,5,6],[6,5,4,3,2,1]]", "[[0,0,0,1,0,0,0],[0.5,0.5,0.5,0.5,1,1,1]]"}},
  };
  for (const auto& c : cases) {
    temp_dir dir;
    captured_streams streams;
    const inspectable_configuration config(dir.write("rig.txt", c.first));
    EXPECT_EQ(streams.err(), "");
    EXPECT_EQ(object_text(config, "bumblebee_params"), c.second[0]);
    EXPECT_EQ(object_text(config, "extrinsic_camera_params"), c.second[1]);
    EXPECT_EQ(object_text(config, "extrinsic_camera_params_q"), c.second[2]);
  }
}

TEST(ConfigurationStructured, ProjectionOffsetsWithoutSeparatorThrowsAndKeepsAnEmptyEntry) {
  temp_dir dir;
  try {
    const trel::configuration config(dir.write("rig.txt", "projection_offsets=1|2\nprojection_offsets=12\n"));
    ADD_FAILURE() << "no exception";
  } catch (const trel::exception_l& e) {
    const std::vector<std::string> lines = split_lines(e.what());
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_NE(lines[0].find("trel_tools/configuration.cpp("), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find("set_param("), std::string::npos) << lines[1];
    EXPECT_EQ(lines[2], "Details: Format incorrect, projection_offsets should be entered as \"x_offset|y_offset\". "
                        "Entered value was: \"12\"");
  }
  inspectable_configuration config;
  EXPECT_THROW(config.set_param("projection_offsets", ""), trel::exception_l);
  EXPECT_EQ(object_text(config, "projection_offsets"), "[[]]");
  config.set_param("projection_offsets", "1|2");
  EXPECT_THROW(config.set_param("projection_offsets", "1,2"), trel::exception_l);
  config.set_param("projection_offsets", "3|4");
  EXPECT_EQ(object_text(config, "projection_offsets"), "[[],[1,2],[],[3,4]]");
}

TEST(ConfigurationStructured, GetParamHandsOutTheStoresObjectOfItsOwnTypeOnly) {
  trel::configuration config;
  camera_list* cameras = reinterpret_cast<camera_list*>(1);
  ASSERT_TRUE(config.get_param("bumblebee_params", cameras));
  EXPECT_EQ(cameras, nullptr);  // not assigned yet
  config.set_param("bumblebee_params", "0.5|0.5|800|800|640|480|0.1");
  const camera_list* same = nullptr;
  ASSERT_TRUE(config.get_param("bumblebee_params", cameras));
  ASSERT_TRUE(config.get_param("bumblebee_params", same));
  ASSERT_NE(cameras, nullptr);
  EXPECT_EQ(same, cameras);
  EXPECT_EQ(cameras->size(), 1u);

  std::vector<double>* wrong = nullptr;
  try {
    config.get_param("bumblebee_params", wrong);
    ADD_FAILURE() << "no exception";
  } catch (const trel::exception_l& e) {
    EXPECT_EQ(trel_test::detail_of(e), "get_param() : parameter \"bumblebee_params\" holds a "
                                       "std::vector<std::vector<double>>*, not the requested std::vector<double>*");
  }
  EXPECT_EQ(wrong, nullptr);
  // The type is known before the object exists.
  EXPECT_THROW(config.get_param("camera_proj_mats", wrong), trel::exception_l);
  int plain = 0;
  EXPECT_THROW(config.get_param("camera_proj_mats", plain), trel::exception_l);
}

TEST(ConfigurationStructured, ClosingKernelSetsClosingIterationsWhenRegistered) {
  inspectable_configuration config;
  captured_streams streams;
  config.set_param("closing_kernel", "5|3|1|2|2|4");
  EXPECT_EQ(object_text(config, "closing_kernel"), "{5,3,0,1,100}[0,0,1,0,0,1,1,1,1,1,0,0,1,0,0]");
  EXPECT_EQ(config.value_text("closing_iterations"), "4");

  // A catalogue without closing_iterations and class_vector still builds the
  // kernel and records the sample, and says what it could not do.
  class reduced : public inspectable_configuration {
  public:
    reduced() {
      parameters.clear();
      add_param("closing_kernel", static_cast<IplConvKernel*>(nullptr), param_special);
      add_param("sample", static_cast<std::vector<trel::sample>*>(nullptr), param_special);
    }
  };
  reduced small;
  apply_lines(small, {"closing_kernel=3|3|2|2|0|1", "sample=a.png|0|1|2|3|4|1"});
  EXPECT_EQ(object_text(small, "closing_kernel"), "{3,3,1,1,0}[1,1,1,1,1,1,1,1,1]");
  EXPECT_EQ(object_text(small, "sample"), "[{a.png,0,1,2,3,4}]");
  EXPECT_EQ(streams.err(), warnings({"Parameter closing_iterations was not found in parameters vector, it must not "
                                     "have been initialised.",
                                     "Parameter class_vector was not found in parameters vector, it must not have "
                                     "been initialised."}));
}

TEST(ConfigurationStructured, SamplesFillOneClassVectorCheckedAgainstClassesAndOutputs) {
  const std::vector<std::string> cases[][2] = {
      // Without classes the values are not range-checked.
      {{"sample=a.png|0|1|2|3|4|7", "sample=b.png|-1|0|0|0|0|0.5"},
       {"[{a.png,0,1,2,3,4},{b.png,-1,0,0,0,0}]", "[7,0.5]", ""}},
      // A value not below classes refuses the whole sample: the list and the class vector stay aligned.
      {{"classes=3", "sample=a.png|0|1|2|3|4|2", "sample=b.png|0|1|2|3|4|3", "sample=c.png|0|1|2|3|4|0"},
       {"[{a.png,0,1,2,3,4},{c.png,0,1,2,3,4}]", "[2,0]",
        "WARNING: class parameter not below number of classes (3): 3\n"}},
      {{"classes=3", "output_parameters=2", "sample=a.png|0|1|2|3|4|1|2", "sample=b.png|0|1|2|3|4|1",
        "class_vector=1"},
       {"[{a.png,0,1,2,3,4},{b.png,0,1,2,3,4}]", "[1,2,1]",
        "1 parameters in sample but output dimensions specified as 2\nWARNING: Attempted to set an unrecognised "
        "parameter: \"class_vector\" to a value of \"1\", check it dosen't belong to a subconfiguration not yet "
        "specified.\n"}},
  };
  for (const auto& c : cases) {
    inspectable_configuration config;
    captured_streams streams;
    apply_lines(config, c[0]);
    EXPECT_EQ(object_text(config, "sample"), c[1][0]);
    EXPECT_EQ(object_text(config, "class_vector"), c[1][1]);
    EXPECT_EQ(streams.err(), c[1][2]);
  }
}

TEST(ConfigurationStructured, ListsAccumulateAcrossImportedFilesInReadingOrder) {
  temp_dir dir;
  const working_directory cwd(dir.path());
  dir.write("sub.txt", "ip_step=b\nbumblebee_params=0.5|0.5|2|2|20|10|0\nkernel_vals=1|2|1\nkernel_vals=3\n");
  dir.write("main.txt", "ip_step=a\nbumblebee_params=0.5|0.5|1|1|10|10|0.1\nimport=sub.txt\nip_step=c\n");
  captured_streams streams;
  const inspectable_configuration config("main.txt");
  EXPECT_EQ(object_text(config, "ip_step"), "[a,b,c]");
  EXPECT_EQ(object_text(config, "bumblebee_params"), "[[0.5,0.5,1,1,10,10,0.1],[0.5,0.5,2,2,20,10,0]]");
  EXPECT_EQ(object_text(config, "kernel_vals"), "[1,2,1]");
  EXPECT_EQ(streams.out(), "Importing additional config file: \"sub.txt\"\nsetting kernel vals\n");
  EXPECT_EQ(streams.err(), keep("kernel_vals"));
}

TEST(ConfigurationStructured, StrictConversionThrowsAndKeepsTheList) {
  inspectable_configuration config;
  captured_streams streams;
  apply_lines(config, {"sequence_lengths=3", "mahalanobis_covariance=1|2"});
  const char* const bad[][3] = {{"sequence_lengths", "abc", "abc"}, {"mahalanobis_covariance", "4|x", "x"}};
  for (const auto& b : bad) {
    try {
      config.set_param(b[0], b[1]);
      ADD_FAILURE() << b[0] << "=" << b[1];
    } catch (const trel::exception_l& e) {
      EXPECT_EQ(trel_test::detail_of(e),
                std::string("i_helper(string) : reading in failed, when reading value of \"") + b[2] + "\"");
    }
  }
  EXPECT_EQ(object_text(config, "sequence_lengths"), "[3]");
  EXPECT_EQ(object_text(config, "mahalanobis_covariance"), "[1,2]");
  EXPECT_EQ(streams.err(), warnings({"mahalanobis_covariance already encountered in config. Overwriting"}));
}

TEST(ConfigurationCatalogue, RegistersTheStructuredParametersAfterThePlainOnesWithoutObjects) {
  const char* const names[] = {
      "closing_kernel", "ip_step", "haar_setting", "scale", "stereo_setting", "object_particle_upper_bounds",
      "object_particle_lower_bounds", "value_particle_upper_bounds", "value_particle_lower_bounds",
      "value_dynamics_matrix", "object_dynamics_matrix", "sample", "class_vector", "model_size", "location_noise",
      "scale_noise", "bumblebee_params", "classifier_detector_roi", "classifier_detector_neighbours",
      "model_pose_limits", "model_loc", "extrinsic_camera_params", "extrinsic_camera_params_q", "pixel_sizes",
      "sf_gt_disp_loc", "object_noise_level", "value_noise_level", "camera_proj_mats", "colour_model_locs",
      "projection_offsets", "camera_space_transform", "colour_model_limits", "kernel_vals", "sequence_lengths",
      "kmeans_hierarchy_ratios", "precomputed_of_paths", "mahalanobis_covariance", "svm_multi_kernel_lengths",
      "surface_normal_imgs"};
  const inspectable_configuration config;
  ASSERT_EQ(config.parameters.size(), 142u + 39u);
  for (std::size_t i = 0; i < 39; ++i) {
    EXPECT_EQ(config.parameters[142 + i].name, names[i]);
    EXPECT_EQ(object_text(config, names[i]), "<none>");
  }
}
