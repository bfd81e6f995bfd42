// The daily HTML trace log.

#include <algorithm>
#include <functional>

#include "platform/codepage.h"
#include "platform/errors.h"
#include "util/FileVersion.h"
#include "util/datetime.h"
#include "util/file_io.h"
#include "util/reglib.h"
#include "util/textlib.h"

namespace zept {
namespace {

constexpr int kWriteAttempts = 100;
constexpr long kKeepDays = 30;

int ReadTraceLevel(Context& ctx) {
  try {
    WideString text =
        RegReadString(ctx.platform.registry,
                      u"\\Software\\vardeno\\Tesk Runtime", u"ModeDebug", u"1");
    return StrToInt(text).value_or(0);
  } catch (const std::exception&) {
    return 0;
  }
}

void ComputeProgramValues(Context& ctx) {
  if (!ctx.trace.programName.empty()) return;
  WideString name = ExtractFileName(ctx.platform.folders.programPath());
  const std::size_t dot = name.rfind(u'.');
  if (dot != WideString::npos) name.resize(dot);
  ctx.trace.programName = name;
  ctx.trace.programVersion =
      GetFileVersionString(ctx.platform.folders, u"", u"%d.%d.%d.%d");
}

// Appends one line (CR LF added) with the log's retry rule; returns the
// attempts that were left when it was written, 0 when it was dropped.
int AppendLineWithRetry(Context& ctx, const WideString& path,
                        const std::function<AnsiString(int)>& build) {
  for (int left = kWriteAttempts; left > 0; --left) {
    try {
      ctx.platform.files.appendFile(path, build(left) + "\r\n");
      return left;
    } catch (const std::exception&) {
      // Another instance may hold the file for a moment: try again at once.
    }
  }
  return 0;
}

WideString EscapeMessage(const WideString& message) {
  return ReplaceAll(ReplaceAll(message, u">", u"&gt;"), u"<", u"&lt;");
}

void DeleteOldLogs(Context& ctx, const WideString& folder,
                   const WideString& cutoffName, const WideString& extension) {
  const WideString limit = cutoffName + extension;
  const WideString prefix = platform::FoldName(u"traces_");
  const WideString foldedExt = platform::FoldName(extension);
  for (const platform::DirEntry& entry :
       ctx.platform.files.listDirectory(folder)) {
    if (entry.isDirectory) continue;
    const WideString folded = platform::FoldName(entry.name);
    if (folded.size() < prefix.size() + foldedExt.size() ||
        folded.compare(0, prefix.size(), prefix) != 0 ||
        folded.compare(folded.size() - foldedExt.size(), foldedExt.size(),
                       foldedExt) != 0) {
      continue;
    }
    if (entry.name < limit) {
      WriteTrace(ctx, u"file_io", u"InitTraceLog",
                 u"- Delete file  " + entry.name, 1, u"");
      DeleteOneFile(ctx, folder + u"\\" + entry.name);
    }
  }
}

}  // namespace

WideString TraceLogPath(Context& ctx, const platform::DateTime& when) {
  return GetMyDocumentsFolder(ctx) + u"\\var-deno\\zp\\logs\\traces_" +
         FormatDateTime(u"yyyy-mm-dd", when, {}) + u".htm";
}

void InitTraceLog(Context& ctx) {
  // A trace call made before the file exists (the failure report of its own
  // creation) must not start a second creation.
  struct CreatingGuard {
    bool& flag;
    explicit CreatingGuard(bool& f) : flag(f) { flag = true; }
    ~CreatingGuard() { flag = false; }
  } guard(ctx.trace.creatingFile);
  ComputeProgramValues(ctx);
  platform::FileSystem& fs = ctx.platform.files;
  const platform::DateTime now = ctx.platform.clock.now();
  const WideString path = TraceLogPath(ctx, now);
  const WideString folder = ExtractFilePath(path);
  if (!fs.directoryExists(folder)) {
    try {
      fs.createDirectories(folder);
    } catch (const std::exception&) {
      // The empty-file creation below reports the failure.
    }
  }

  AnsiString block;
  if (fs.fileExists(path)) {
    block = "</table>\r\n";
  } else {
    writeTextFile(ctx, "", path);
    block =
        "<html><head><link rel=\"stylesheet\" type=\"text/css\" "
        "href=\"traceslog.css\"/></head><body>\r\n";
  }
  block += BuildConfigurationReport(ctx);
  block +=
      "\r\n<table class=\"history\">\r\n"
      "<tr><th>TIME</th><th>R</th><th>EXE</th><th>VERSION</th><th>CLASS</th>"
      "<th>FUNCTION</th><th>MESSAGE</th></tr>\r\n";
  AppendLineWithRetry(ctx, path, [&](int) { return block; });

  const WideString cutoff =
      u"traces_" + FormatDateTime(u"yyyy-mm-dd", AddDays(now, -kKeepDays), {});
  WriteTrace(ctx, u"file_io", u"InitTraceLog",
             u"Cleaning traces from " + cutoff, 1, u"");
  const WideString logFolder = folder.substr(0, folder.size() - 1);
  try {
    DeleteOldLogs(ctx, logFolder, cutoff, u".txt");
    DeleteOldLogs(ctx, logFolder, cutoff, u".htm");
  } catch (const std::exception&) {
    // An unreadable folder leaves the old logs for another day.
  }
}

void WriteTrace(Context& ctx, const WideString& className,
                const WideString& functionName, const WideString& message,
                int level, const WideString& kind) {
  const int traceLevel = ReadTraceLevel(ctx);
  if (traceLevel <= 0 || traceLevel < level) return;
  ComputeProgramValues(ctx);

  platform::DateTime now = ctx.platform.clock.now();
  WideString path = TraceLogPath(ctx, now);
  if (!ctx.platform.files.fileExists(path)) {
    if (ctx.trace.creatingFile) return;
    InitTraceLog(ctx);
  }

  const RegionalSettings settings = ctx.platform.clock.regionalSettings();
  const WideString time = FormatDateTime(u"hh:nn:ss.zzz", now, settings);
  const WideString& program = ctx.trace.programName;
  const WideString head = u"\t<tr class=\"niv_" + IntToStr(level) + u" " +
                          program + u" " + className + u" " + functionName +
                          u" " + kind + u"\">";
  const WideString cells =
      u"<td class=\"col_n\"><div>" + program +
      u"</div></td><td class=\"col_v\"><div>" + ctx.trace.programVersion +
      u"</div></td><td class=\"col_c\"><div>" + className +
      u"</div></td><td class=\"col_f\"><div>" + functionName +
      u"</div></td><td class=\"col_m\"><div>" + EscapeMessage(message) +
      u"</div></td></tr>";
  AppendLineWithRetry(ctx, path, [&](int left) {
    return WideToAnsi(head + u"<td class=\"col_t\"><div>" + time +
                      u"</div></td><td class=\"col_r\"><div>" + IntToStr(left) +
                      u"</div></td>" + cells);
  });
}

void TraceMessage(Context& ctx, const WideString& message) {
  WriteTrace(ctx, u"", u"", message, 1, u"oldstyle");
}

void LogError(Context& ctx, const std::exception& e,
              const WideString& className, const WideString& functionName,
              std::int64_t code, const WideString& detail, int level,
              const WideString& kindPrefix) {
  const WideString shownDetail = detail.empty() ? detail : u"-- " + detail;
  const WideString message = Utf8ToWide(ExceptionClassName(e)) + u" error " +
                             PadLeft(IntToStr(code), u"0", 4) +
                             u" raised, with message : " +
                             Utf8ToWide(e.what()) + u" " + shownDetail;
  const WideString kind =
      kindPrefix.empty() ? WideString(u"Error") : kindPrefix + u" Error";
  WriteTrace(ctx, className, functionName, message, level, kind);
}

}  // namespace zept
