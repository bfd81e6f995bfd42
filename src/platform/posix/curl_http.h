#pragma once
// HTTP through libcurl: https peers are checked against the system's
// certificates, redirects are never followed (the LRS's answer is reported
// as it came), proxies come from the usual *_proxy variables.

#include <memory>

#include "platform/http.h"

namespace zept::platform {

// Safe to call from any thread; each client keeps its connections for reuse
// and serves one request at a time.
std::unique_ptr<Http> NewCurlHttp();

}  // namespace zept::platform
