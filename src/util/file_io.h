#pragma once
// Folders and files, the daily HTML trace log and the configuration report
// at its head. Paths are the core's text: "\" separates names, and a native
// folder the platform gives may carry its own separators.

#include <cstdint>
#include <exception>
#include <string>
#include <vector>

#include "util/arraylib.h"
#include "util/context.h"

namespace zept {

// ---- Folders and files ----

// Path of a special folder (platform::Csidl) without trailing separator; ""
// when this system has no such folder.
WideString GetSpecialFolder(Context& ctx, int csidl);
WideString GetMyDocumentsFolder(Context& ctx);
// The temporary folder followed by "\".
WideString GetTempFolder(Context& ctx);
// Creates the first free folder TEMP + prefix + n (n from 1) and returns it
// with a trailing "\"; "" when TEMP does not exist or creation fails.
WideString CreateTempSubfolder(Context& ctx, const WideString& prefix);
WideString GetWindowsFolder(Context& ctx);
// The Windows folder's part before its first "\" ("C:"); "" without one.
WideString GetSystemRoot(Context& ctx);
// "ProgramFilesDir" of the system's CurrentVersion key; "" when absent.
WideString GetProgramFilesFolder(Context& ctx);

WideString WithTrailingBackslash(const WideString& path);
// The last name of a path ("\" or "/" separated).
WideString ExtractFileName(const WideString& path);
// Everything up to and including the last separator.
WideString ExtractFilePath(const WideString& path);

// Full paths (folder with trailing "\" then the name) of the direct
// sub-folders; empty when the folder does not exist.
TWideStringArray ListSubfolders(Context& ctx, const WideString& folder);
bool DeleteOneFile(Context& ctx, const WideString& fileName);
// Removes the folder (given without trailing "\"); when recursive, its
// content first. Whatever cannot be deleted stays; false then.
bool DeleteFolder(Context& ctx, const WideString& folder, bool recursive);

// The file's lines as ANSI text, each followed by CR LF; "" when the file
// does not exist. Other read errors throw.
WideString readTextFile(Context& ctx, const WideString& fileName);
// Replaces the file atomically with content (bytes written unchanged).
// False, and an error row in the trace log, when it cannot be written.
bool writeTextFile(Context& ctx, const std::string& content,
                   const WideString& fileName);
// The short form of path; path itself when it does not exist; the input in
// double quotes when quote is set and the result holds a blank.
WideString ProtectPath(Context& ctx, const WideString& path, bool quote);

// ---- Trace log ----

// Writes one row to the day's trace log when "ModeDebug" allows the level.
// Never throws for a failed write; errors of the day's head block pass on.
void WriteTrace(Context& ctx, const WideString& className,
                const WideString& functionName, const WideString& message,
                int level, const WideString& kind);
// A level-1 row with empty class and function names and the kind "oldstyle".
void TraceMessage(Context& ctx, const WideString& message);
// Reports a caught exception: "%s error %.4d raised, with message : %s %s".
void LogError(Context& ctx, const std::exception& e,
              const WideString& className, const WideString& functionName,
              std::int64_t code, const WideString& detail = u"", int level = 1,
              const WideString& kindPrefix = u"");
// The day's trace file for that moment.
WideString TraceLogPath(Context& ctx, const platform::DateTime& when);
// Creates the day's file with its head block and removes old logs.
void InitTraceLog(Context& ctx);

// ---- Configuration report ----

struct FolderAccessTest {
  WideString label;
  WideString folder;  // with trailing "\"; "\"-prefixed when unresolvable
  WideString result;  // "no", "ok" or "ko"
};

struct RegistryAccessTest {
  WideString keyPath;
  WideString rootName;
  WideString writing;  // "ok" or "ko"
  WideString reading;
};

std::vector<FolderAccessTest> TestSystemAccess(Context& ctx);
std::vector<RegistryAccessTest> TestRegistryAccess(Context& ctx);
// The HTML fragment at the head of each day's trace file, in ANSI.
AnsiString BuildConfigurationReport(Context& ctx);

}  // namespace zept
