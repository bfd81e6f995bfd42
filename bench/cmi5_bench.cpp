// A cmi5 course of 1,000 AUs in ten blocks: cmi5.xml read and checked, and
// the satisfaction of every block and the course worked out.

#include <benchmark/benchmark.h>

#include <string>

#include "cmi5/course.h"
#include "cmi5/move_on.h"

namespace {

std::string Langstring(const std::string& element, const std::string& text) {
  return "<" + element + "><langstring lang=\"en-US\">" + text +
         "</langstring></" + element + ">";
}

std::string WideCourse(int blocks, int ausPerBlock) {
  std::string xml =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<courseStructure "
      "xmlns=\"https://w3id.org/xapi/profiles/cmi5/v1/CourseStructure.xsd\">"
      "<course id=\"https://example.org/course/wide\">" +
      Langstring("title", "Wide") + Langstring("description", "Wide") +
      "</course>\n";
  for (int b = 0; b < blocks; ++b) {
    const std::string block = "https://example.org/block/" + std::to_string(b);
    xml += "<block id=\"" + block + "\">" + Langstring("title", block) +
           Langstring("description", block);
    for (int a = 0; a < ausPerBlock; ++a) {
      const std::string au = block + "/au/" + std::to_string(a);
      xml += "<au id=\"" + au +
             "\" moveOn=\"CompletedOrPassed\" masteryScore=\"0.8\">" +
             Langstring("title", au) + Langstring("description", au) +
             "<url>https://content.example.org/au.html?n=" + std::to_string(a) +
             "</url></au>\n";
    }
    xml += "</block>\n";
  }
  return xml + "</courseStructure>\n";
}

void BM_Cmi5ParseThousandAus(benchmark::State& state) {
  const std::string xml = WideCourse(10, 100);
  for (auto _ : state) {
    benchmark::DoNotOptimize(zept::cmi5::ParseCourse(xml, nullptr));
  }
  state.SetBytesProcessed(state.iterations() *
                          static_cast<std::int64_t>(xml.size()));
}
BENCHMARK(BM_Cmi5ParseThousandAus)->Unit(benchmark::kMillisecond);

void BM_Cmi5SatisfactionThousandAus(benchmark::State& state) {
  const zept::cmi5::Course course =
      zept::cmi5::ParseCourse(WideCourse(10, 100), nullptr);
  std::vector<zept::cmi5::AuOutcome> outcomes(course.aus.size());
  for (std::size_t i = 0; i < outcomes.size(); i += 2)
    outcomes[i].completed = true;
  for (auto _ : state) {
    benchmark::DoNotOptimize(zept::cmi5::Evaluate(course, outcomes));
  }
}
BENCHMARK(BM_Cmi5SatisfactionThousandAus)->Unit(benchmark::kMicrosecond);

}  // namespace
