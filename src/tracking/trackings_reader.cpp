// Reads a stored trackings document in one pass, without building a tree of
// it, following the document rules exactly: the root's first child node is
// the tracking element, its first child node the sessions; every child node
// of sessions is a session; a session's first child node holds its records,
// matched to the course's SCOs by position; a record's values are the first
// elements of their names anywhere below it. White space between elements
// is not a node.

#include <libxml/parser.h>
#include <libxml/parserInternals.h>

#include <climits>
#include <cstring>

#include "platform/codepage.h"
#include "tracking/sessiontracking.h"
#include "util/xml.h"

namespace zept {
namespace {

enum class Role { Other, Root, Tracking, Sessions, Session, Units, Record };

constexpr const char* kValueNames[5] = {"lesson_location", "lesson_status",
                                        "score", "session_time",
                                        "suspend_data"};

class Reader {
 public:
  Reader(const TParcours* parcours, const WideString& today)
      : parcours_(parcours), today_(today) {}

  TSessionList sessions;

  void startElement(const xmlChar* localname, const xmlChar* prefix,
                    int nbAttributes, const xmlChar** attributes) {
    flushText();
    const Role role = nodeStarts(
        true, [&] { return dateAttribute(nbAttributes, attributes); });
    if (inRecord() && role == Role::Other) {
      for (int k = 0; k < 5; ++k) {
        if (!found_[k] && QualifiedNameIs(localname, prefix, kValueNames[k])) {
          found_[k] = true;
          collectDepth_[k] = depth();
          collected_[k].clear();
        }
      }
    }
    roles_.push_back(role);
    childCount_.push_back(0);
  }

  void endElement() {
    flushText();
    const int d = depth() - 1;
    const Role role = roles_.back();
    if (record_) {
      for (int k = 0; k < 5; ++k) {
        if (collectDepth_[k] == d) {
          assign(k, Utf8ToWide(collected_[k]));
          collectDepth_[k] = -1;
        }
      }
    }
    roles_.pop_back();
    childCount_.pop_back();
    if (role == Role::Record) record_ = nullptr;
    if (role == Role::Session) sessions.push_back(std::move(session_));
  }

  void characters(const xmlChar* text, int length) {
    text_.append(reinterpret_cast<const char*>(text),
                 static_cast<std::size_t>(length));
  }

  void cdata(const xmlChar* text, int length) {
    flushText();
    valueNode(reinterpret_cast<const char*>(text),
              static_cast<std::size_t>(length));
  }

  // Comments and processing instructions are nodes too.
  void otherNode() {
    flushText();
    nodeStarts(false, [] { return WideString(); });
  }

 private:
  int depth() const { return static_cast<int>(roles_.size()); }
  bool inRecord() const { return record_ != nullptr; }

  static WideString dateAttribute(int count, const xmlChar** attributes) {
    for (int i = 0; i < count; ++i) {
      const xmlChar** a = attributes + 5 * i;
      if (a[1] == nullptr &&
          std::strcmp(reinterpret_cast<const char*>(a[0]), "date") == 0) {
        return Utf8ToWide(std::string(reinterpret_cast<const char*>(a[3]),
                                      static_cast<std::size_t>(a[4] - a[3])));
      }
    }
    return u"";
  }

  // A node begins under the innermost open element: gives the role it takes
  // when it is an element, and does what the document rules say of it.
  template <typename DateOf>
  Role nodeStarts(bool element, DateOf dateOf) {
    if (roles_.empty()) return element ? Role::Root : Role::Other;
    const Role parent = roles_.back();
    const int index = childCount_.back()++;
    switch (parent) {
      case Role::Root:
        return element && index == 0 ? Role::Tracking : Role::Other;
      case Role::Tracking:
        return element && index == 0 ? Role::Sessions : Role::Other;
      case Role::Sessions:
        session_ = std::make_unique<TSessionTracking>(parcours_, today_);
        session_->Date = element ? dateOf() : WideString();
        if (!element) {
          sessions.push_back(std::move(session_));
          return Role::Other;
        }
        return Role::Session;
      case Role::Session:
        return element && index == 0 ? Role::Units : Role::Other;
      case Role::Units: {
        if (!session_ ||
            static_cast<std::size_t>(index) >= session_->SCOTrackings.size()) {
          return Role::Other;
        }
        TSCOTracking& record =
            session_->SCOTrackings[static_cast<std::size_t>(index)];
        record.Date = element ? dateOf() : WideString();
        if (!element) return Role::Other;
        record_ = &record;
        for (int k = 0; k < 5; ++k) {
          found_[k] = false;
          collectDepth_[k] = -1;
        }
        return Role::Record;
      }
      default:
        return Role::Other;
    }
  }

  // A text or CDATA node: counts as a node, and is part of a value when its
  // parent is a value element being read.
  void valueNode(const char* text, std::size_t length) {
    nodeStarts(false, [] { return WideString(); });
    if (!record_) return;
    const int parentDepth = depth() - 1;
    for (int k = 0; k < 5; ++k) {
      if (collectDepth_[k] == parentDepth) collected_[k].append(text, length);
    }
  }

  void flushText() {
    if (text_.empty()) return;
    // A CR can only come from a character reference: it is content.
    const bool blank = text_.find_first_not_of(" \t\n") == std::string::npos;
    // Structure changes only after a flush, so the run belongs to the
    // element open now.
    if (!blank) valueNode(text_.data(), text_.size());
    text_.clear();
  }

  void assign(int k, WideString value) {
    WideString* fields[5] = {&record_->LessonLocation, &record_->LessonStatus,
                             &record_->Score, &record_->SessionTime,
                             &record_->SuspendData};
    *fields[k] = std::move(value);
  }

  const TParcours* parcours_;
  const WideString& today_;
  std::vector<Role> roles_;
  std::vector<int> childCount_;
  std::unique_ptr<TSessionTracking> session_;
  TSCOTracking* record_ = nullptr;
  bool found_[5] = {};
  int collectDepth_[5] = {-1, -1, -1, -1, -1};
  Utf8String collected_[5];
  Utf8String text_;
};

Reader* Of(void* user) { return static_cast<Reader*>(user); }

}  // namespace

std::optional<TSessionList> ReadTrackingSessions(const Utf8String& text,
                                                 const TParcours* parcours,
                                                 const WideString& today) {
  if (text.empty() || text.size() > INT_MAX) return std::nullopt;
  // The tree readers share libxml2's set-up; a document parse makes sure
  // it has run (external entities refused, errors silent).
  XmlDocument::ParseUtf8("<x/>");

  xmlSAXHandler sax;
  std::memset(&sax, 0, sizeof sax);
  sax.initialized = XML_SAX2_MAGIC;
  sax.startElementNs = [](void* ctx, const xmlChar* localname,
                          const xmlChar* prefix, const xmlChar*, int,
                          const xmlChar**, int nbAttributes, int,
                          const xmlChar** attributes) {
    Of(ctx)->startElement(localname, prefix, nbAttributes, attributes);
  };
  sax.endElementNs = [](void* ctx, const xmlChar*, const xmlChar*,
                        const xmlChar*) { Of(ctx)->endElement(); };
  sax.characters = [](void* ctx, const xmlChar* ch, int len) {
    Of(ctx)->characters(ch, len);
  };
  sax.cdataBlock = [](void* ctx, const xmlChar* ch, int len) {
    Of(ctx)->cdata(ch, len);
  };
  sax.comment = [](void* ctx, const xmlChar*) { Of(ctx)->otherNode(); };
  sax.processingInstruction = [](void* ctx, const xmlChar*, const xmlChar*) {
    Of(ctx)->otherNode();
  };

  xmlParserCtxtPtr ctxt =
      xmlCreateMemoryParserCtxt(text.data(), static_cast<int>(text.size()));
  if (!ctxt) return std::nullopt;
  Reader reader(parcours, today);
  xmlSAXHandlerPtr original = ctxt->sax;
  ctxt->sax = &sax;
  ctxt->userData = &reader;
  // Entities: only the predefined ones and character references exist here
  // (no declaration is recorded), so substituting them is safe.
  xmlCtxtUseOptions(ctxt, XML_PARSE_NONET | XML_PARSE_IGNORE_ENC |
                              XML_PARSE_NOENT | XML_PARSE_NOERROR |
                              XML_PARSE_NOWARNING);
  xmlParseDocument(ctxt);
  const bool wellFormed = ctxt->wellFormed != 0;
  ctxt->sax = original;
  xmlFreeParserCtxt(ctxt);
  if (!wellFormed) return std::nullopt;
  return std::move(reader.sessions);
}

}  // namespace zept
