#pragma once
// The files the zept: scheme answers with: regular files read from disk as
// WebKit asks for them, bytes held in memory, one byte range of either when
// the request asks for it, each with its content type and a policy.

#include <webkit2/webkit2.h>

#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace zept::desktop {

// A "Range" request header against a body of size bytes (RFC 9110): one
// range of it (first to last, inclusive), none that it can give (416), or
// the whole body, which is also the answer to several ranges or to a
// header it cannot read.
enum class Ranged { kWhole, kPart, kUnsatisfiable };
Ranged ParseRange(const char* header, goffset size, goffset& first,
                  goffset& last);

// The content type of a file by its extension; unknown ones are bytes.
std::string ContentType(const std::string& path);

// The resolved path when it lies inside folder (both resolved), else ""
// and why not.
std::string ResolveInside(const std::string& path, const std::string& folder,
                          std::string& why);

void FinishError(WebKitURISchemeRequest* request, GQuark domain, int code,
                 const std::string& message);

// Answers with size bytes of stream (seekable, at its start), or with the
// one range of them the request asks for. WebKit reads the stream on its
// own threads; only the seek to a range's start is made here.
void ServeStream(WebKitURISchemeRequest* request, GInputStream* stream,
                 goffset size, const std::string& type, const char* policy);

// Answers with bytes (or the range of them asked for), under the content
// security policy given.
void FinishBytes(WebKitURISchemeRequest* request, std::string bytes,
                 const std::string& type, const char* policy);

// Answers a request to one of zept's services with an HTTP status, the
// headers given (Content-Type among them, else JSON) and body.
void FinishAnswer(
    WebKitURISchemeRequest* request, int status,
    const std::vector<std::pair<std::string, std::string>>& headers,
    std::string body, const char* policy);

// Answers with the file at path. False, with the reason in why, when path
// is not a regular file it can open; the request is not finished then.
bool ServeFile(WebKitURISchemeRequest* request, const std::string& path,
               std::string& why, const char* policy);

// The body of a request (a POST), all of it.
// nullopt when it is longer than limit bytes (what is past it is not read).
std::optional<std::string> ReadBody(
    WebKitURISchemeRequest* request,
    std::size_t limit = std::numeric_limits<std::size_t>::max());

}  // namespace zept::desktop
