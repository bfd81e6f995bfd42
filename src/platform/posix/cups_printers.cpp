// Printers through CUPS: the destinations of the default server (CUPS_SERVER
// or the system's), their default media, and PDF jobs.

#include <cups/cups.h>

#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/posix/posix.h"

namespace zept::platform {
namespace {

struct Dests {
  cups_dest_t* list = nullptr;
  int count = 0;
  Dests() { count = cupsGetDests2(CUPS_HTTP_DEFAULT, &list); }
  ~Dests() { cupsFreeDests(count, list); }
  cups_dest_t* find(const std::string& name) {
    return cupsGetDest(name.c_str(), nullptr, count, list);
  }
};

class CupsPrinters final : public Printers {
 public:
  // libcups keeps the server it first used; start from CUPS_SERVER (or the
  // system's configuration) as it is now.
  CupsPrinters() { cupsSetServer(nullptr); }

  std::vector<WideString> destinations() override {
    Dests dests;
    std::vector<WideString> names;
    for (int i = 0; i < dests.count; ++i) {
      const cups_dest_t& d = dests.list[i];
      if (d.instance) continue;
      const WideString name = Utf8ToWide(d.name);
      if (d.is_default) {
        names.insert(names.begin(), name);
      } else {
        names.push_back(name);
      }
    }
    return names;
  }

  std::optional<std::pair<double, double>> defaultPaper(
      const WideString& name) override {
    Dests dests;
    cups_dest_t* dest = dests.find(WideToUtf8(name));
    if (!dest) return std::nullopt;
    cups_dinfo_t* info = cupsCopyDestInfo(CUPS_HTTP_DEFAULT, dest);
    if (!info) return std::nullopt;
    cups_size_t size;
    std::optional<std::pair<double, double>> paper;
    if (cupsGetDestMediaDefault(CUPS_HTTP_DEFAULT, dest, info, 0, &size) &&
        size.width > 0 && size.length > 0) {
      paper = std::make_pair(size.width / 2540.0,
                             size.length / 2540.0);  // 1/100 mm
    }
    cupsFreeDestInfo(info);
    return paper;
  }

  void submitPdf(const WideString& name, const WideString& title,
                 const std::string& pdf) override {
    Dests dests;
    const std::string printer = WideToUtf8(name);
    cups_dest_t* dest = dests.find(printer);
    if (!dest) throw EZeptError("no printer named '" + printer + "'");
    cups_dinfo_t* info = cupsCopyDestInfo(CUPS_HTTP_DEFAULT, dest);
    int job = 0;
    const std::string jobTitle = WideToUtf8(title);
    if (!info ||
        cupsCreateDestJob(CUPS_HTTP_DEFAULT, dest, info, &job, jobTitle.c_str(),
                          0, nullptr) != IPP_STATUS_OK) {
      if (info) cupsFreeDestInfo(info);
      throw EZeptError("cannot print on '" + printer +
                       "': " + cupsLastErrorString());
    }
    bool ok = cupsStartDestDocument(CUPS_HTTP_DEFAULT, dest, info, job,
                                    jobTitle.c_str(), CUPS_FORMAT_PDF, 0,
                                    nullptr, 1) == HTTP_STATUS_CONTINUE;
    ok = ok && cupsWriteRequestData(CUPS_HTTP_DEFAULT, pdf.data(),
                                    pdf.size()) == HTTP_STATUS_CONTINUE;
    const ipp_status_t finished =
        cupsFinishDestDocument(CUPS_HTTP_DEFAULT, dest, info);
    cupsFreeDestInfo(info);
    if (!ok || finished > IPP_STATUS_OK_CONFLICTING) {
      throw EZeptError("cannot print on '" + printer +
                       "': " + cupsLastErrorString());
    }
  }
};

}  // namespace

std::unique_ptr<Printers> NewCupsPrinters() {
  return std::make_unique<CupsPrinters>();
}

}  // namespace zept::platform
