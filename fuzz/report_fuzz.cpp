// Report XML of any kind, walked and laid out on the recording canvas:
// bounded time and memory, no crash; errors end the report cleanly.

#include <cstdint>

#include "moviehost/headless.h"
#include "platform/fake/fakes.h"
#include "report/ReportPrinter.h"
#include "report/recording.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  using namespace zept;
  platform::FakePlatform fake;
  Context ctx(fake.platform);
  auto print = [](const WideString&) {};
  platform::HeadlessWindow window(800, 600, print);
  platform::ScriptedDialogs dialogs(print);
  HeadlessHostFactory movies({ctx, print, dialogs, window, u"/app/"});
  RecordingReportSystem system;
  TReportPrinter printer({ctx, movies, u"/app/bin/"});
  printer.SetXml(std::string(reinterpret_cast<const char*>(data), size));
  printer.SetReportSystem(&system);
  printer.SetMargins(0.5, 0.5, 0.5, 0.5);
  printer.SetShowPageNumbers(size % 2 == 0);
  try {
    printer.Print();
  } catch (const std::exception&) {
  }
  return 0;
}
