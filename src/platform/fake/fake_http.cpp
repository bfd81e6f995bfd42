#include "platform/fake/fakes.h"

namespace zept::platform {

HttpResponse FakeHttp::Answer(int status, std::string body,
                              std::map<std::string, std::string> headers) {
  HttpResponse response;
  response.status = status;
  response.body = std::move(body);
  response.headers = std::move(headers);
  return response;
}

HttpResponse FakeHttp::Failure(std::string error) {
  HttpResponse response;
  response.error = std::move(error);
  return response;
}

HttpResponse FakeHttp::send(const HttpRequest& request) {
  requests.push_back(request);
  if (answer) return answer(request);
  if (script.empty()) return Failure("no scripted answer");
  HttpResponse next = std::move(script.front());
  script.pop_front();
  return next;
}

}  // namespace zept::platform
