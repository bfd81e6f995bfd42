// zept-conformance: reads every LMS test package of a copy of ADL's SCORM
// 2004 conformance suite with its test case and says how much of it zept's
// reader of test cases understands. A developer's tool; not installed.

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "scorm/manifest.h"
#include "scorm2004/conformance.h"
#include "scorm2004/reader.h"

namespace {

namespace fs = std::filesystem;
using namespace zept::scorm2004;

constexpr char kUsage[] =
    "usage: zept-conformance SUITE\n"
    "SUITE: a copy of the suite's folder (or its LMSRTE/Courses folder).\n"
    "Prints per LMS test package 'PACKAGE: N test cases, M steps parsed, K "
    "not\nunderstood' with what was not, then the total. Exit status 1 when "
    "something\nwas not understood.\n";

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

void Items(const Activity& a, std::set<std::string>& testCases,
           std::set<std::string>& acts) {
  const std::string tc = Parameter(a.launch, "tc");
  if (!tc.empty()) testCases.insert(tc);
  const std::string act = Parameter(a.launch, "act");
  if (!act.empty()) acts.insert(act);
  for (const Activity& child : a.children) Items(child, testCases, acts);
}

struct Package {
  std::string name;
  std::set<std::string> testCases;  // the tc= of its items
  std::set<std::string> acts;       // the act= of its items
  std::string fault;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 || !std::strcmp(argv[1], "--help")) {
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

  std::vector<Package> packages;
  std::error_code ec;
  for (const fs::directory_entry& e : fs::directory_iterator(courses, ec)) {
    const std::string name = e.path().filename().string();
    if (!e.is_directory() || name.rfind("LMSTestPackage_", 0) != 0) continue;
    Package p;
    p.name = name;
    std::string bytes;
    if (!ReadFile(e.path() / "imsmanifest.xml", bytes)) {
      p.fault = "no imsmanifest.xml";
    } else {
      try {
        Items(ReadPackage2004(bytes).root, p.testCases, p.acts);
      } catch (const zept::scorm::EManifestError& error) {
        p.fault = std::string("manifest: ") + error.what();
      }
    }
    // Without a tc= parameter the test case is named as the package.
    if (p.testCases.empty())
      p.testCases.insert(name.substr(std::strlen("LMSTestPackage_")));
    packages.push_back(std::move(p));
  }
  std::sort(packages.begin(), packages.end(),
            [](const Package& a, const Package& b) { return a.name < b.name; });

  // The items of every package that shares a test case (DDM spans two).
  std::map<std::string, std::set<std::string>> actsOf;
  for (const Package& p : packages)
    for (const std::string& tc : p.testCases)
      actsOf[tc].insert(p.acts.begin(), p.acts.end());

  std::map<std::string, conformance::TestCase> read;
  std::size_t steps = 0, problems = 0, unmatched = 0;
  for (const Package& p : packages) {
    std::size_t pSteps = 0, pProblems = 0, pCases = 0;
    std::vector<std::string> notes;
    if (!p.fault.empty()) notes.push_back(p.fault), ++pProblems, ++problems;
    for (const std::string& tc : p.testCases) {
      const fs::path file = courses / "TestCases" / (tc + ".properties");
      auto known = read.find(tc);
      if (known == read.end()) {
        std::string bytes;
        if (!ReadFile(file, bytes)) {
          notes.push_back("no test case " + file.filename().string());
          ++pProblems, ++problems;
          continue;
        }
        known = read.emplace(tc, conformance::ParseTestCase(bytes)).first;
        steps += known->second.stepCount();
        problems += known->second.problems.size();
        for (const conformance::Visit& v : known->second.visits)
          if (!actsOf[tc].empty() && !actsOf[tc].count(v.activity)) ++unmatched;
      }
      const conformance::TestCase& c = known->second;
      ++pCases;
      // A test case shared by packages (DDM) counts for each the visits
      // of its own items.
      for (const conformance::Visit& v : c.visits)
        if (p.acts.empty() || p.acts.count(v.activity) ||
            !actsOf[tc].count(v.activity))
          pSteps += v.steps.size();
      pProblems += c.problems.size();
      for (const conformance::Problem& problem : c.problems)
        notes.push_back(tc + ".properties line " +
                        std::to_string(problem.line) + ": " + problem.message);
      for (const conformance::Visit& v : c.visits)
        if (!actsOf[tc].empty() && !actsOf[tc].count(v.activity))
          notes.push_back(tc + ".properties line " + std::to_string(v.line) +
                          ": activity " + v.activity +
                          " is no item's act= parameter");
    }
    std::printf("%s: %zu test cases, %zu steps parsed, %zu not understood\n",
                p.name.c_str(), pCases, pSteps, pProblems);
    for (const std::string& note : notes) std::printf("  %s\n", note.c_str());
  }

  std::vector<std::string> unused;
  for (const fs::directory_entry& e :
       fs::directory_iterator(courses / "TestCases", ec)) {
    if (e.path().extension() != ".properties") continue;
    if (!read.count(e.path().stem().string()))
      unused.push_back(e.path().filename().string());
  }
  std::sort(unused.begin(), unused.end());
  for (const std::string& name : unused)
    std::printf("no package uses %s\n", name.c_str());
  std::printf(
      "total: %zu packages, %zu test cases, %zu steps parsed, %zu not "
      "understood, %zu visits of no item\n",
      packages.size(), read.size(), steps, problems, unmatched);
  return problems || unmatched || packages.empty() ? 1 : 0;
}
