// The ordered channel between the program and the movie page: the page's
// messages (fscommands and calls, numbered, answered in order) and the
// program's ops, run in the page or handed to a call it is blocked on.

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <optional>

#include "desktop/content_policy.h"
#include "desktop/json_strings.h"
#include "desktop/page.h"
#include "desktop/scheme_files.h"
#include "platform/errors.h"

namespace zept::desktop {

namespace {

// How long the program waits on the page before it gives an op up.
constexpr int kOpTimeoutMs = 10000;
// How long a message waits for an earlier one that has not come: briefly
// when the page waits on it, longer when nothing is held but the order.
constexpr int kGapMs = 500;
constexpr int kFreeGapMs = 3000;
// How many numbers of a gap are remembered, to take their messages late.
constexpr long kLateKept = 64;
// How far ahead of the next expected number a message may be.
constexpr long kMaxAhead = 1 << 20;

struct EvalContext {
  MoviePage* page;
  std::string seq;
};

}  // namespace

void MoviePage::answer(WebKitURISchemeRequest* request,
                       const std::vector<std::string>& items) {
  FinishBytes(request, EncodeStringArray(items), "application/json",
              kContentSecurityPolicy);
}

void MoviePage::receive(WebKitURISchemeRequest* request) {
  std::optional<std::vector<std::string>> items =
      DecodeStringArray(ReadBody(request).value_or(""));
  if (!items || items->empty()) return answer(request, {"done", ""});
  const std::string& kind = items->front();
  if (kind == "reply") {
    if (op_ && op_->sent && !op_->done && items->size() >= 4 &&
        (*items)[1] == op_->items[1]) {
      op_->done = true;
      op_->ok = (*items)[2] == "1";
      op_->value = (*items)[3];
      parked_ = RefObject(request);
    } else {
      answer(request, {"done", ""});
    }
    return;
  }
  char* end = nullptr;
  errno = 0;
  const long n =
      items->size() >= 3 ? std::strtol((*items)[1].c_str(), &end, 10) : 0;
  if ((kind != "fscommand" && kind != "call") || n <= 0 || !end || *end) {
    return answer(request, {"done", ""});
  }
  const bool waited = kind == "call";
  // A number already used, or far ahead of any the page can have reached,
  // is not the page's own counting: taken, it would stall or reorder the
  // messages after it.
  // One given up on in a gap is taken late rather than lost.
  const bool late = n < nextMessage_ && skipped_.erase(n) > 0;
  if (late)
    warn("the page's message " + std::to_string(n) +
         " came late; it is handled now");
  if (errno == ERANGE || (n < nextMessage_ && !late) || queue_.count(n) ||
      n - nextMessage_ > kMaxAhead) {
    warn("a message of the page numbered " + (*items)[1] +
         " is out of order (next: " + std::to_string(nextMessage_) +
         "); it is ignored");
    return answer(request, {"done", ""});
  }
  // A call made while an op of the program runs in the page (a watch on a
  // variable the op set, say) is answered before that op can end.
  const bool nested = waited && op_ && !op_->done && items->size() >= 5 &&
                      (*items)[4] == op_->items[1];
  if (!waited) {
    answer(request, {"done", ""});
  } else {
    if (parked_) answer(parked_.get(), {"done", ""});  // cannot happen
    parked_ = RefObject(request);
    if (nested) {
      nestedUpTo_ = n;
    } else if (op_ && !op_->sent && !op_->done) {
      // An op waiting on a script the page cannot run now goes this way.
      sendOp(parked_.get());
    }
  }
  queue_[n] = Message{std::move(*items), waited};
  if (busy() && n > nestedUpTo_) {
    schedulePending();
  } else {
    handlePending();
  }
}

void MoviePage::schedulePending(int ms) {
  if (pendingSource_) return;
  pendingSource_ = g_timeout_add(
      static_cast<guint>(ms),
      [](gpointer self) -> gboolean {
        auto* page = static_cast<MoviePage*>(self);
        page->pendingSource_ = 0;
        page->handlePending();
        return G_SOURCE_REMOVE;
      },
      this);
}

void MoviePage::handlePending() {
  while (!queue_.empty()) {
    auto next = queue_.begin();
    // Messages up to a nested call are handled inside the op that waits on
    // it; the others wait until the program is free.
    if (busy() && next->first > nestedUpTo_) return schedulePending();
    const bool late = next->first < nextMessage_;
    if (!late && next->first != nextMessage_) {
      // An earlier message is still on its way; one lost must not hold the
      // messages after it for ever.
      const gint64 now = g_get_monotonic_time();
      if (gapSince_ == 0) gapSince_ = now;
      const int limit = next->second.waited && parked_ ? kGapMs : kFreeGapMs;
      const gint64 left = gint64{limit} * 1000 - (now - gapSince_);
      if (left > 0) return schedulePending(static_cast<int>(left / 1000) + 1);
      warn("the page's messages " + std::to_string(nextMessage_) + " to " +
           std::to_string(next->first - 1) + " have not come");
      for (long n = nextMessage_;
           n < next->first && n < nextMessage_ + kLateKept; ++n)
        skipped_.insert(n);
    }
    if (!late) {
      gapSince_ = 0;
      nextMessage_ = next->first + 1;
    }
    Message message = std::move(next->second);
    queue_.erase(next);
    std::string value;
    enter(handling_);
    try {
      if (onMessage) value = onMessage(message.items);
    } catch (const std::exception&) {
      value.clear();
    }
    leave(handling_);
    if (message.waited && parked_) {
      GObjectPtr<WebKitURISchemeRequest> request = std::move(parked_);
      answer(request.get(), {"done", value});
    }
    if (afterMessage) afterMessage();
  }
}

void MoviePage::sendOp(WebKitURISchemeRequest* request) {
  op_->sent = true;
  GObjectPtr<WebKitURISchemeRequest> keep = std::move(parked_);
  answer(request, op_->items);
}

std::string MoviePage::op(const std::vector<std::string>& args) {
  if (ended_) throw EMovieError("the movie page has ended");
  // No movie plays where it could reach the network.
  if (!args.empty() && (args[0] == "create" || args[0] == "load") &&
      filter_ != FilterState::kInPlace)
    throw EMovieError("the movie page's content filter is not in place");
  Op op;
  op.items = {"op", std::to_string(++opSeq_)};
  op.items.insert(op.items.end(), args.begin(), args.end());
  Op* outer = op_;
  op_ = &op;
  if (parked_) {
    sendOp(parked_.get());
  } else {
    std::string json = EncodeStringArray(
        std::vector<std::string>(op.items.begin() + 1, op.items.end()));
    const std::string script =
        "zeptOp(" + json.substr(1, json.size() - 2) + ")";
    auto* eval = new EvalContext{this, op.items[1]};
    webkit_web_view_evaluate_javascript(
        WEBKIT_WEB_VIEW(view_), script.c_str(),
        static_cast<gssize>(script.size()), nullptr, nullptr,
        cancellable_.get(),
        [](GObject* view, GAsyncResult* result, gpointer data) {
          std::unique_ptr<EvalContext> eval(static_cast<EvalContext*>(data));
          GError* error = nullptr;
          JSCValue* value = webkit_web_view_evaluate_javascript_finish(
              WEBKIT_WEB_VIEW(view), result, &error);
          std::string json;
          if (value) {
            GCharPtr text(jsc_value_to_string(value));
            json = text ? text.get() : "";
            g_object_unref(value);
          } else if (error) {
            const bool cancelled =
                g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED);
            g_error_free(error);
            if (cancelled) return;  // the page is gone
          }
          MoviePage* page = eval->page;
          Op* current = page->op_;
          if (!current || current->done || current->items[1] != eval->seq)
            return;
          std::optional<std::vector<std::string>> items =
              DecodeStringArray(json);
          current->done = true;
          current->ok = items && items->size() >= 2 && (*items)[0] == "1";
          current->value = items && items->size() >= 2
                               ? (*items)[1]
                               : std::string("the page did not run the op");
        },
        eval);
  }
  const bool answered = waitFor([&op] { return op.done; }, kOpTimeoutMs);
  op_ = outer;
  if (!queue_.empty()) schedulePending();
  if (!answered) throw EMovieError("the movie page did not answer");
  if (!op.ok) throw EMovieError(op.value);
  return op.value;
}

}  // namespace zept::desktop
