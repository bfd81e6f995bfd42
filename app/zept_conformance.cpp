// zept-conformance: plays every LMS test package of a copy of ADL's SCORM
// 2004 conformance suite with its test case on zept's player, headless,
// and prints what passed and the first failure of each other. A
// developer's tool; not installed.

#include <algorithm>
#include <cstdio>
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

#include "scorm/manifest.h"
#include "scorm2004/conformance.h"
#include "scorm2004/conformance_run.h"
#include "scorm2004/reader.h"

namespace {

namespace fs = std::filesystem;
using namespace zept::scorm2004;

constexpr char kUsage[] =
    "usage: zept-conformance [--trace] SUITE [FILTER]\n"
    "SUITE: a copy of the suite's folder (or its LMSRTE/Courses folder).\n"
    "Plays each LMS test package whose name contains FILTER (all without)\n"
    "and prints 'PACKAGE: passed' or 'PACKAGE: failed: WHY', what of its\n"
    "test case could not be read, then 'N passed, M failed'. Exit status 1\n"
    "when one failed. --trace prints every delivery, call and instruction.\n";

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
  const bool trace = argc > 1 && !std::strcmp(argv[1], "--trace");
  if (trace) --argc, ++argv;
  if (argc < 2 || argc > 3 || !std::strcmp(argv[1], "--help")) {
    std::fputs(kUsage, argc == 2 ? stdout : stderr);
    return argc == 2 ? 0 : 2;
  }
  const fs::path courses = FindCourses(argv[1]);
  if (courses.empty()) {
    std::fprintf(stderr,
                 "zept-conformance: no LMSRTE/Courses/TestCases in %s\n",
                 argv[1]);
    return 2;
  }
  const std::string filter = argc == 3 ? argv[2] : "";

  std::vector<Package> packages;
  std::error_code ec;
  for (const fs::directory_entry& e : fs::directory_iterator(courses, ec)) {
    const std::string folder = e.path().filename().string();
    constexpr std::string_view kPrefix = "LMSTestPackage_";
    if (!e.is_directory() || !folder.starts_with(kPrefix)) continue;
    Package p;
    p.name = folder.substr(kPrefix.size());
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
    if (p.name.find(filter) == std::string::npos &&
        p.testCase.find(filter) == std::string::npos)
      continue;
    if (!byTestCase.count(p.testCase)) order.push_back(p.testCase);
    byTestCase[p.testCase].push_back(&p);
  }

  // The learners are kept through a series of packages (CO-07a, CO-07b),
  // whose later ones read what the earlier ones kept global to the system,
  // as ADL's tester runs them in order with the same learner; each series
  // starts on a new driver, so no other package's globals reach it.
  std::unique_ptr<conformance::Driver> driver;
  std::string series;
  int passed = 0, failed = 0;
  for (const std::string& tc : order) {
    const std::string stem = tc.substr(0, tc.find_last_not_of("abcdefgh") + 1);
    if (!driver || stem != series) driver = conformance::HeadlessDriver();
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
    const fs::path file = courses / "TestCases" / (tc + ".properties");
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
