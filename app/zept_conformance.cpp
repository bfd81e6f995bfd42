// zept-conformance: plays every LMS test package of a copy of ADL's SCORM
// 2004 conformance suite with its test case on zept's player, headless or
// in zept's window, and prints what passed and the first failure of each
// other. A developer's tool; not installed.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/conformance_window.h"
#include "package/manifest.h"
#include "scorm2004/conformance.h"
#include "scorm2004/conformance_run.h"
#include "scorm2004/reader.h"

namespace {

namespace fs = std::filesystem;
using namespace zept::scorm2004;

constexpr char kUsage[] =
    "usage: zept-conformance [--trace] [--window | --headless] SUITE "
    "[FILTER...]\n"
    "SUITE: a copy of the suite's folder (or its LMSRTE/Courses folder), or\n"
    "a folder of packages NAME/ each with imsmanifest.xml and "
    "NAME.properties.\n"
    "Plays each LMS test package whose name contains a FILTER (all without)\n"
    "and prints 'PACKAGE: passed' or 'PACKAGE: failed: WHY', what of its\n"
    "test case could not be read, then 'N passed, M failed'. Exit status 1\n"
    "when one failed. --trace prints every delivery, call and instruction.\n"
    "--window plays them in zept's window (the zept beside this program) on\n"
    "the X display DISPLAY names, with a test SCO of ours in place of ADL's.\n";

bool ReadFile(const fs::path& path, std::string& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream all;
  all << in.rdbuf();
  bytes = all.str();
  return true;
}

fs::path FindCourses(const fs::path& suite) {
  for (const char* below :
       {"", "Courses", "LMSRTE/Courses", "TestSuite/LMSRTE/Courses",
        "software_development/TestSuite/LMSRTE/Courses"}) {
    const fs::path dir = suite / below;
    std::error_code ec;
    if (fs::is_directory(dir / "TestCases", ec)) return dir;
  }
  return {};
}

// Where a package and its test case lie: in the suite's layout
// (LMSTestPackage_NAME/, TestCases/NAME.properties) or in ours (NAME/ with
// both in it).
struct Layout {
  fs::path courses;
  bool own = false;
  fs::path package(const std::string& name) const {
    return courses / ((own ? "" : "LMSTestPackage_") + name);
  }
  fs::path testCase(const std::string& name) const {
    return own ? courses / name / (name + ".properties")
               : courses / "TestCases" / (name + ".properties");
  }
};

// The query parameter NAME of a launch location ("" when absent).
std::string Parameter(const std::string& launch, const std::string& name) {
  const std::size_t q = launch.find('?');
  if (q == std::string::npos) return "";
  std::size_t at = q + 1;
  while (at < launch.size()) {
    std::size_t end = launch.find('&', at);
    if (end == std::string::npos) end = launch.size();
    const std::string pair = launch.substr(at, end - at);
    if (pair.compare(0, name.size() + 1, name + "=") == 0)
      return pair.substr(name.size() + 1);
    at = end + 1;
  }
  return "";
}

struct Package {
  std::string name;      // "CM-01", "DDMa"
  std::string testCase;  // the tc= of its items ("DDM")
  Package2004 package;
  std::string fault;
};

}  // namespace

int main(int argc, char** argv) {
  bool trace = false, window = false;
  for (; argc > 1; --argc, ++argv) {
    if (!std::strcmp(argv[1], "--trace"))
      trace = true;
    else if (!std::strcmp(argv[1], "--window"))
      window = true;
    else if (std::strcmp(argv[1], "--headless"))
      break;
  }
  if (argc < 2 || !std::strcmp(argv[1], "--help")) {
    std::fputs(kUsage, argc == 2 ? stdout : stderr);
    return argc == 2 ? 0 : 2;
  }
  Layout layout{FindCourses(argv[1])};
  std::error_code ec;
  if (layout.courses.empty() && fs::is_directory(argv[1], ec))
    layout = {argv[1], true};
  if (layout.courses.empty()) {
    std::fprintf(stderr,
                 "zept-conformance: no LMSRTE/Courses/TestCases in %s\n",
                 argv[1]);
    return 2;
  }
  const std::vector<std::string> filters(argv + 2, argv + argc);

  std::vector<Package> packages;
  for (const fs::directory_entry& e :
       fs::directory_iterator(layout.courses, ec)) {
    const std::string folder = e.path().filename().string();
    const std::string_view prefix = layout.own ? "" : "LMSTestPackage_";
    if (!e.is_directory() || !folder.starts_with(prefix) ||
        (layout.own && !fs::exists(layout.testCase(folder), ec)))
      continue;
    Package p;
    p.name = folder.substr(prefix.size());
    p.testCase = p.name;
    std::string bytes;
    if (!ReadFile(e.path() / "imsmanifest.xml", bytes)) {
      p.fault = "no imsmanifest.xml";
    } else {
      try {
        p.package = ReadPackage2004(bytes);
        std::function<void(const Activity&)> find = [&](const Activity& a) {
          const std::string tc = Parameter(a.launch, "tc");
          if (!tc.empty()) p.testCase = tc;
          for (const Activity& child : a.children) find(child);
        };
        find(p.package.root);
      } catch (const zept::scorm::EManifestError& error) {
        p.fault = std::string("manifest: ") + error.what();
      }
    }
    packages.push_back(std::move(p));
  }
  std::sort(packages.begin(), packages.end(),
            [](const Package& a, const Package& b) { return a.name < b.name; });

  // One run per test case, over every package that names it (DDM spans
  // DDMa and DDMb, which share the learner).
  std::map<std::string, std::vector<const Package*>> byTestCase;
  std::vector<std::string> order;
  for (const Package& p : packages) {
    const auto chosen = [&p](const std::string& filter) {
      return p.name.find(filter) != std::string::npos ||
             p.testCase.find(filter) != std::string::npos;
    };
    if (!filters.empty() &&
        std::none_of(filters.begin(), filters.end(), chosen))
      continue;
    if (!byTestCase.count(p.testCase)) order.push_back(p.testCase);
    byTestCase[p.testCase].push_back(&p);
  }

  const char* display = std::getenv("DISPLAY");
  if (window && (!display || !*display)) {
    std::fputs("zept-conformance: --window needs DISPLAY (xvfb-run)\n", stderr);
    return 2;
  }
  const auto newDriver = [&]() -> std::unique_ptr<conformance::Driver> {
    if (!window) return conformance::HeadlessDriver();
    zept::WindowDriverOptions options;
    std::error_code error;
    options.zept =
        (fs::read_symlink("/proc/self/exe", error).parent_path() / "zept")
            .string();
    options.display = display;
    options.packageFolder = [layout](const std::string& name) {
      return layout.package(name).string();
    };
    return zept::WindowDriver(std::move(options));
  };
  // The learners are kept through a series of packages (CO-07a, CO-07b),
  // whose later ones read what the earlier ones kept global to the system,
  // as ADL's tester runs them in order with the same learner; each series
  // starts on a new driver, so no other package's globals reach it.
  std::unique_ptr<conformance::Driver> driver;
  std::string series;
  int passed = 0, failed = 0;
  for (const std::string& tc : order) {
    const std::string stem = tc.substr(0, tc.find_last_not_of("abcdefgh") + 1);
    if (!driver || stem != series) driver = newDriver();
    series = stem;
    const std::vector<const Package*>& group = byTestCase[tc];
    std::string label;
    for (const Package* p : group)
      label += (label.empty() ? "" : "+") + p->name;
    std::string why;
    std::vector<std::string> notes;
    for (const Package* p : group)
      if (!p->fault.empty()) why = p->name + ": " + p->fault;
    std::string bytes;
    const fs::path file = layout.testCase(tc);
    if (why.empty() && !ReadFile(file, bytes))
      why = "no test case " + file.filename().string();
    if (why.empty()) {
      const conformance::TestCase testCase = conformance::ParseTestCase(bytes);
      for (const conformance::Problem& problem : testCase.problems)
        notes.push_back(tc + ".properties line " +
                        std::to_string(problem.line) + ": " + problem.message);
      std::vector<conformance::RunPackage> run;
      for (const Package* p : group) run.push_back({p->name, &p->package});
      // ADL registers two learners: the API test uses the first.
      const conformance::Outcome outcome = conformance::Run(
          testCase, tc, run, *driver, tc == "API" ? "learner-1" : "learner-2",
          [trace](const std::string& line) {
            if (trace) std::printf("  | %s\n", line.c_str());
          });
      if (!outcome.passed) why = outcome.failure;
    }
    if (why.empty()) {
      ++passed;
      std::printf("%s: passed\n", label.c_str());
    } else {
      ++failed;
      std::printf("%s: failed: %s\n", label.c_str(), why.c_str());
    }
    for (const std::string& note : notes) std::printf("  %s\n", note.c_str());
    std::fflush(stdout);
  }
  std::printf("%d passed, %d failed\n", passed, failed);
  return failed || !passed ? 1 : 0;
}
