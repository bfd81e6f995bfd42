// A long report to PDF: about 150 pages of 2,000 paragraphs, 100 tables of
// 10 rows and 20 pictures of 800 x 600. Time and peak memory
// (max_rss_MB: the whole process's, so run this benchmark alone).

#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <filesystem>
#include <fstream>

#include "engine/pdf.h"
#include "engine/picture.h"
#include "moviehost/headless.h"
#include "platform/fake/fakes.h"
#include "platform/posix/posix.h"
#include "report/ReportPrinter.h"

namespace {

using namespace zept;

std::string LongReport(const std::string& picture, int scale) {
  std::string xml = "<export>";
  for (int i = 0; i < 20 * scale; ++i) {
    for (int p = 0; p < 100; ++p) {
      xml += "<p>Paragraph " + std::to_string(p) +
             " of the learner's results: the unit was completed with a score "
             "of 92, "
             "after two attempts and a total time of four minutes, well above "
             "the mastery "
             "score of 80 that the course asks of every learner who takes it "
             "on this machine "
             "or on any other one.</p>";
    }
    for (int t = 0; t < 5; ++t) {
      xml += "<table>";
      for (int r = 0; r < 10; ++r) {
        xml +=
            "<tr><td width=\"144\" border=\"1\"><s>Unit " + std::to_string(r) +
            "</s></td><td border=\"1\"><s>completed</s></td><td border=\"1\" "
            "align=\"right\"><s>92</s></td></tr>";
      }
      xml += "</table>";
    }
    xml += "<img src=\"" + picture + "\"/>";
  }
  return xml + "</export>";
}

void BM_ReportToPdf(benchmark::State& state) {
  char pattern[] = "/tmp/zept-report-bench-XXXXXX";
  const std::string dir = ::mkdtemp(pattern);
  Bitmap photo;
  photo.width = 800;
  photo.height = 600;
  photo.pixels.resize(800 * 600);
  for (std::size_t i = 0; i < photo.pixels.size(); ++i) {
    photo.pixels[i] =
        0xFF000000u | static_cast<std::uint32_t>(i * 2654435761u >> 8);
  }
  std::ofstream(dir + "/photo.jpg", std::ios::binary) << EncodeJpeg(photo, 85);

  auto files = platform::NewPosixFileSystem();
  platform::FakeRegistry registry;
  platform::FakeSystemFolders folders(*files);
  platform::FakeClock clock;
  platform::FakeLocks locks;
  platform::Platform p{registry, folders, *files, clock, locks};
  Context ctx(p);
  auto print = [](const WideString&) {};
  platform::HeadlessWindow window(1280, 1024, print);
  platform::ScriptedDialogs dialogs(print);
  HeadlessHostFactory movies({ctx, print, dialogs, window, u"/app/"});
  const std::string xml =
      LongReport(dir + "/photo.jpg", static_cast<int>(state.range(0)));

  int pages = 0;
  std::size_t bytes = 0;
  for (auto _ : state) {
    PdfReportSystem pdf(ctx, 8.27, 11.69);
    pdf.KeepInMemory = true;
    TReportPrinter printer({ctx, movies, u"/app/bin/"});
    printer.SetXml(xml);
    printer.SetReportSystem(&pdf);
    printer.SetMargins(0.5, 0.5, 0.5, 0.5);
    printer.Print();
    pages = pdf.pages();
    bytes = pdf.document().size();
  }
  rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  state.counters["pages"] = pages;
  state.counters["pdf_MB"] = static_cast<double>(bytes) / 1e6;
  state.counters["max_rss_MB"] = static_cast<double>(usage.ru_maxrss) / 1024;
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_ReportToPdf)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

}  // namespace
