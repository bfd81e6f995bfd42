// zept-report: renders a report XML file into a PDF, as the shell's
// "PrintDocument" does, with half-inch margins.

#include <cstdio>
#include <cstring>
#include <filesystem>

#include "engine/pdf.h"
#include "moviehost/headless.h"
#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/posix/posix.h"
#include "report/ReportPrinter.h"

int main(int argc, char** argv) {
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 ||
                    std::strcmp(argv[1], "-h") == 0)) {
    std::puts(
        "usage: zept-report REPORT.xml OUT.pdf\n"
        "Renders report XML (its bytes taken as Windows-1252 text) into a PDF "
        "on the\n"
        "system's default paper (PAPERSIZE, /etc/papersize, else A4). An empty "
        "report\n"
        "writes nothing.");
    return 0;
  }
  if (argc != 3) {
    std::fprintf(stderr, "usage: zept-report REPORT.xml OUT.pdf\n");
    return 2;
  }
  const std::string programPath = zept::platform::RunningProgramPath();
  zept::platform::PosixPlatform posix(programPath);
  zept::platform::FileSystem* files = posix.files.get();
  zept::Context ctx(posix.platform);

  auto silent = [](const zept::WideString&) {};
  zept::platform::HeadlessWindow window(1280, 1024, silent);
  zept::platform::ScriptedDialogs dialogs(silent);
  const zept::WideString programFolder = zept::Utf8ToWide(
      std::filesystem::path(programPath).parent_path().string() + "/");
  zept::HeadlessHostFactory movies(
      {ctx, silent, dialogs, window, programFolder});

  try {
    std::optional<std::string> xml = files->readFile(zept::Utf8ToWide(argv[1]));
    if (!xml) {
      throw zept::EFileError(zept::SystemErrorMessage("open file", argv[1],
                                                      std::strerror(ENOENT)));
    }
    const auto [width, height] = zept::platform::DefaultPaperInches();
    zept::PdfReportSystem system(ctx, width, height);
    system.DefaultDest = zept::ReportDestination::File;
    system.OutputFileName = zept::Utf8ToWide(argv[2]);
    zept::TReportPrinter printer({ctx, movies, programFolder + u"bin/"});
    printer.SetXml(*xml);
    printer.SetReportSystem(&system);
    printer.SetMargins(0.5, 0.5, 0.5, 0.5);
    printer.Print();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zept-report: %s\n", e.what());
    return 1;
  }
  return 0;
}
