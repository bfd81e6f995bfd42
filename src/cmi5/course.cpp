// cmi5.xml is read on libxml2 through the manifest reader's safe parse, and
// checked against the structure the cmi5 schema describes by hand: the
// schema is small, and a fault is reported with its line and in words.

#include "cmi5/course.h"

#include <libxml/tree.h>

#include <charconv>
#include <map>
#include <string_view>

#include "package/manifest.h"
#include "package/manifest_xml.h"
#include "package/package.h"
#include "util/utf8.h"

namespace zept::cmi5 {
namespace {

namespace mx = scorm::manifest_xml;

constexpr std::string_view kNamespace =
    "https://w3id.org/xapi/profiles/cmi5/v1/CourseStructure.xsd";

// Packages made for the drafts before cmi5's first edition name this one;
// their structure differs, so they are refused by name.
constexpr std::string_view kDraftNamespace =
    "http://aicc.org/CMI5/CourseStructure.xsd";

// What the launch puts in the AU's query; an AU URL naming one of them
// would be launched with two values for it.
constexpr std::string_view kLaunchParameters[] = {"endpoint", "fetch", "actor",
                                                  "registration", "activityId"};

std::string_view Chars(const xmlChar* text) {
  return text ? std::string_view(reinterpret_cast<const char*>(text))
              : std::string_view();
}

bool IsHex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') ||
         (c >= 'A' && c <= 'F');
}

bool IsAlpha(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// The length of a URI scheme at the start of text followed by ":"; 0 for
// none. One letter is taken for a Windows drive, not a scheme.
std::size_t SchemeLength(std::string_view text) {
  if (text.empty() || !IsAlpha(text[0])) return 0;
  std::size_t i = 1;
  while (i < text.size() &&
         (IsAlpha(text[i]) || (text[i] >= '0' && text[i] <= '9') ||
          text[i] == '+' || text[i] == '-' || text[i] == '.')) {
    ++i;
  }
  return i < text.size() && text[i] == ':' && i > 1 ? i : 0;
}

// No blanks, controls or the characters URIs exclude; "%" only as an
// escape.
bool ValidUriCharacters(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c <= 0x20 || c == 0x7F ||
        std::string_view("<>\"{}|\\^`").find(static_cast<char>(c)) !=
            std::string_view::npos) {
      return false;
    }
    if (c == '%' &&
        (i + 2 >= text.size() || !IsHex(text[i + 1]) || !IsHex(text[i + 2]))) {
      return false;
    }
  }
  return true;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  return (c | 0x20) - 'a' + 10;
}

std::string PercentDecoded(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && IsHex(text[i + 1]) &&
        IsHex(text[i + 2])) {
      out +=
          static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      out += text[i] == '+' ? ' ' : text[i];
    }
  }
  return out;
}

// The first launch parameter the query of url names; "" for none.
std::string LaunchParameterIn(std::string_view url) {
  const std::size_t question = url.find('?');
  if (question == std::string_view::npos) return "";
  std::string_view query = url.substr(question + 1);
  query = query.substr(0, query.find('#'));
  while (!query.empty()) {
    const std::size_t amp = query.find('&');
    const std::string_view pair = query.substr(0, amp);
    const std::string name = PercentDecoded(pair.substr(0, pair.find('=')));
    for (const std::string_view parameter : kLaunchParameters) {
      if (name == parameter) return name;
    }
    if (amp == std::string_view::npos) break;
    query.remove_prefix(amp + 1);
  }
  return "";
}

// An xs:decimal ("0.85", ".5", "+1"); nullopt for anything else.
std::optional<double> Decimal(std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  std::size_t digits = 0, dots = 0;
  for (const char c : text) {
    if (c >= '0' && c <= '9') {
      ++digits;
    } else if (c == '.' && dots++ == 0) {
    } else {
      return std::nullopt;
    }
  }
  if (digits == 0) return std::nullopt;
  std::string plain(text);
  if (plain.front() == '.') plain.insert(0, "0");
  if (plain.back() == '.') plain.pop_back();
  double value = 0;
  const auto [end, ec] =
      std::from_chars(plain.data(), plain.data() + plain.size(), value);
  if (ec != std::errc() || end != plain.data() + plain.size())
    return std::nullopt;
  return negative ? -value : value;
}

class Parser {
 public:
  Parser(const scorm::PackageFiles* package, bool qualified)
      : package_(package), qualified_(qualified) {}

  Course take(xmlNode* root) {
    Elements list(*this, root, "courseStructure");
    xmlNode* course = list.expect("course");
    course_.id = iri(course, "id", "course");
    unique(structureIds_, course_.id, course, "course");
    Elements inner(*this, course, "course");
    course_.title = text(inner.expect("title"));
    course_.description = text(inner.expect("description"));
    inner.end();
    if (xmlNode* objectives = list.take("objectives"))
      readObjectives(objectives);
    course_.children = children(list, kNoBlock, 0);
    list.end();
    if (course_.children.empty())
      fail(root, "<courseStructure> holds no au or block");
    checkReferences();
    return std::move(course_);
  }

 private:
  // Where an id was first given, and to what.
  struct Seen {
    long line = 0;
    const char* what = "";
  };
  // The element children of an element, read in the schema's order; what
  // follows the schema's own elements may only be another namespace's.
  class Elements {
   public:
    Elements(Parser& parser, xmlNode* parent, const char* name)
        : parser_(parser), parent_(parent), name_(name) {
      for (xmlNode* node = parent->children; node; node = node->next) {
        if (node->type == XML_ELEMENT_NODE) nodes_.push_back(node);
      }
    }

    // The next element when it is name; nullptr otherwise.
    xmlNode* take(std::string_view name) {
      if (at_ < nodes_.size() && parser_.own(nodes_[at_]) &&
          Chars(nodes_[at_]->name) == name) {
        return nodes_[at_++];
      }
      return nullptr;
    }
    xmlNode* expect(std::string_view name) {
      if (xmlNode* node = take(name)) return node;
      if (at_ < nodes_.size()) {
        parser_.fail(nodes_[at_], "<" + std::string(name) + "> expected in <" +
                                      name_ + ">, found <" +
                                      std::string(Chars(nodes_[at_]->name)) +
                                      ">");
      }
      parser_.fail(parent_,
                   "<" + name_ + "> has no <" + std::string(name) + ">");
    }
    // The next element when it is au or block.
    xmlNode* takeChild() {
      if (xmlNode* node = take("au")) return node;
      return take("block");
    }
    void end() {
      for (; at_ < nodes_.size(); ++at_) {
        if (!parser_.foreign(nodes_[at_])) {
          parser_.fail(nodes_[at_],
                       "<" + std::string(Chars(nodes_[at_]->name)) +
                           "> is not expected here in <" + name_ + ">");
        }
      }
    }

   private:
    Parser& parser_;
    xmlNode* parent_;
    std::string name_;
    std::vector<xmlNode*> nodes_;
    std::size_t at_ = 0;
  };

  [[noreturn]] void fail(const xmlNode* node, std::string what) const {
    mx::OneLine(what);
    throw ECourseError("cmi5.xml: " + mx::Line(node) + what);
  }

  // An element of the course structure's namespace (of none, in a
  // cmi5.xml written without one).
  bool own(const xmlNode* node) const {
    if (!node->ns) return !qualified_;
    return Chars(node->ns->href) == kNamespace;
  }
  // An extension: an element of another namespace than the structure's.
  bool foreign(const xmlNode* node) const {
    return node->ns && Chars(node->ns->href) != kNamespace;
  }

  // The trimmed value of an attribute without namespace; nullopt when it
  // is missing.
  static std::optional<std::string> attribute(xmlNode* node, const char* name) {
    xmlChar* value =
        xmlGetNoNsProp(node, reinterpret_cast<const xmlChar*>(name));
    if (!value) return std::nullopt;
    std::string out = mx::Trimmed(Chars(value));
    xmlFree(value);
    return out;
  }

  std::string iri(xmlNode* node, const char* name, const std::string& what) {
    const std::optional<std::string> value = attribute(node, name);
    if (!value) fail(node, what + " has no " + name);
    if (!IsIri(*value)) {
      fail(node, what + " " + name + " '" + *value + "' is not an IRI");
    }
    return *value;
  }

  // The course, its blocks and AUs share one set of ids: satisfaction
  // and the statements that say it name them by id alone.
  void unique(std::map<std::string, Seen>& seen, const std::string& id,
              xmlNode* node, const char* what) {
    const auto [it, added] = seen.emplace(id, Seen{xmlGetLineNo(node), what});
    if (added) return;
    const std::string line = std::to_string(it->second.line);
    if (it->second.what == std::string_view(what)) {
      fail(node, std::string(what) + " id '" + id +
                     "' is used twice (first on line " + line + ")");
    }
    fail(node, std::string(what) + " id '" + id +
                   "' is already the id of the " + it->second.what +
                   " on line " + line);
  }

  LangStrings text(xmlNode* element) {
    Elements list(*this, element, Chars(element->name).data());
    LangStrings out;
    out.push_back(langstring(list.expect("langstring")));
    while (xmlNode* next = list.take("langstring"))
      out.push_back(langstring(next));
    list.end();
    return out;
  }
  LangString langstring(xmlNode* node) {
    return LangString{attribute(node, "lang").value_or(""), mx::Text(node)};
  }

  void readObjectives(xmlNode* element) {
    Elements list(*this, element, "objectives");
    xmlNode* node = list.expect("objective");
    for (; node; node = list.take("objective")) {
      Objective objective;
      objective.id = iri(node, "id", "objective");
      unique(objectiveIds_, objective.id, node, "objective");
      // Title and description in either order, each once.
      xmlNode* title = nullptr;
      xmlNode* description = nullptr;
      for (xmlNode* child = node->children; child; child = child->next) {
        if (child->type != XML_ELEMENT_NODE) continue;
        xmlNode** slot = !own(child)                           ? nullptr
                         : Chars(child->name) == "title"       ? &title
                         : Chars(child->name) == "description" ? &description
                                                               : nullptr;
        if (!slot || *slot) {
          fail(child, "<" + std::string(Chars(child->name)) +
                          "> is not expected here in <objective>");
        }
        *slot = child;
      }
      if (!title) fail(node, "<objective> has no <title>");
      if (!description) fail(node, "<objective> has no <description>");
      objective.title = text(title);
      objective.description = text(description);
      course_.objectives.push_back(std::move(objective));
    }
    list.end();
  }

  std::vector<std::string> references(xmlNode* element) {
    Elements list(*this, element, "objectives");
    std::vector<std::string> out;
    xmlNode* node = list.expect("objective");
    for (; node; node = list.take("objective")) {
      const std::optional<std::string> idref = attribute(node, "idref");
      if (!idref) continue;  // the schema lets it be left out
      out.push_back(*idref);
      referenceLines_.push_back({*idref, xmlGetLineNo(node)});
    }
    list.end();
    return out;
  }

  void checkReferences() {
    for (const auto& [idref, line] : referenceLines_) {
      if (!objectiveIds_.contains(idref)) {
        std::string note = "line " + std::to_string(line) +
                           ": objective reference '" + idref +
                           "' names no objective of the course";
        mx::OneLine(note);
        course_.notes.push_back(std::move(note));
      }
    }
  }

  std::vector<Child> children(Elements& list, std::size_t block, int depth) {
    std::vector<Child> out;
    while (xmlNode* node = list.takeChild()) {
      if (Chars(node->name) == "au") {
        out.push_back({Child::Kind::kAu, readAu(node, block)});
      } else {
        out.push_back({Child::Kind::kBlock, readBlock(node, block, depth + 1)});
      }
    }
    return out;
  }

  std::size_t readBlock(xmlNode* node, std::size_t parent, int depth) {
    if (depth > mx::kMaxDepth) {
      fail(node, "blocks are nested more than " +
                     std::to_string(mx::kMaxDepth) + " deep");
    }
    const std::size_t index = course_.blocks.size();
    course_.blocks.emplace_back();
    Block block;
    block.block = parent;
    block.id = iri(node, "id", "block");
    unique(structureIds_, block.id, node, "block");
    Elements list(*this, node, "block");
    block.title = text(list.expect("title"));
    block.description = text(list.expect("description"));
    if (xmlNode* objectives = list.take("objectives"))
      block.objectives = references(objectives);
    block.children = children(list, index, depth);
    if (block.children.empty()) {
      list.end();
      fail(node, "block '" + block.id + "' holds no au or block");
    }
    list.end();
    course_.blocks[index] = std::move(block);
    return index;
  }

  std::size_t readAu(xmlNode* node, std::size_t parent) {
    if (course_.aus.size() >= mx::kMaxItems) {
      fail(node, "the course has more than " + std::to_string(mx::kMaxItems) +
                     " AUs");
    }
    Au au;
    au.block = parent;
    au.id = iri(node, "id", "au");
    unique(structureIds_, au.id, node, "au");
    readAuAttributes(node, au);
    Elements list(*this, node, "au");
    au.title = text(list.expect("title"));
    au.description = text(list.expect("description"));
    if (xmlNode* objectives = list.take("objectives"))
      au.objectives = references(objectives);
    xmlNode* url = list.expect("url");
    au.url = mx::Text(url);
    readUrl(url, au);
    if (xmlNode* parameters = list.take("launchParameters"))
      au.launchParameters = mx::Text(parameters);
    if (xmlNode* key = list.take("entitlementKey"))
      au.entitlementKey = mx::Text(key);
    list.end();
    course_.aus.push_back(std::move(au));
    return course_.aus.size() - 1;
  }

  void readAuAttributes(xmlNode* node, Au& au) {
    if (const auto moveOn = attribute(node, "moveOn")) {
      static constexpr MoveOn kAll[] = {
          MoveOn::kNotApplicable, MoveOn::kPassed, MoveOn::kCompleted,
          MoveOn::kCompletedAndPassed, MoveOn::kCompletedOrPassed};
      bool known = false;
      for (const MoveOn value : kAll) {
        if (*moveOn == Name(value)) {
          au.moveOn = value;
          known = true;
        }
      }
      if (!known)
        fail(node, "au moveOn '" + *moveOn + "' is not a moveOn value");
    }
    if (const auto mastery = attribute(node, "masteryScore")) {
      const std::optional<double> value = Decimal(*mastery);
      if (!value || *value < 0 || *value > 1) {
        fail(node,
             "au masteryScore '" + *mastery + "' is not a decimal from 0 to 1");
      }
      au.masteryScore = *value == 0 ? 0.0 : *value;  // no "-0"
    }
    if (const auto method = attribute(node, "launchMethod")) {
      if (*method == "OwnWindow") {
        au.launchMethod = LaunchMethod::kOwnWindow;
      } else if (*method != "AnyWindow") {
        fail(node, "au launchMethod '" + *method +
                       "' is neither AnyWindow nor OwnWindow");
      }
    }
    au.activityType = attribute(node, "activityType").value_or("");
  }

  void readUrl(xmlNode* node, Au& au) {
    const std::string& url = au.url;
    if (url.empty()) fail(node, "au '" + au.id + "' has an empty url");
    if (const std::string name = LaunchParameterIn(url); !name.empty()) {
      fail(node, "au url '" + url + "' names '" + name +
                     "' in its query, which the launch adds itself");
    }
    if (SchemeLength(url) > 0) {
      if (!ValidUriCharacters(url))
        fail(node, "au url '" + url + "' is not a URL");
      return;
    }
    if (!package_) {
      fail(node, "au url '" + url +
                     "' is relative, which needs the course in a package "
                     "(a cmi5.xml alone needs fully qualified URLs)");
    }
    const std::size_t cut = url.find_first_of("?#");
    const std::optional<std::string> path =
        scorm::PackagePath("", url.substr(0, cut));
    if (!path || path->empty() || path->back() == '/') {
      fail(node, "au url '" + url + "' is not a file of the package");
    }
    if (!package_->exists(*path)) {
      fail(node, "au url '" + url + "' names a file the package lacks");
    }
    au.packagePath = *path;
    au.packageSuffix = cut == std::string::npos ? "" : url.substr(cut);
  }

  const scorm::PackageFiles* package_;
  bool qualified_;
  Course course_;
  std::map<std::string, Seen> structureIds_;
  std::map<std::string, Seen> objectiveIds_;
  std::vector<std::pair<std::string, long>> referenceLines_;
};

}  // namespace

const char* Name(MoveOn moveOn) {
  switch (moveOn) {
    case MoveOn::kPassed:
      return "Passed";
    case MoveOn::kCompleted:
      return "Completed";
    case MoveOn::kCompletedAndPassed:
      return "CompletedAndPassed";
    case MoveOn::kCompletedOrPassed:
      return "CompletedOrPassed";
    case MoveOn::kNotApplicable:
      break;
  }
  return "NotApplicable";
}

std::string Pick(const LangStrings& strings, const std::string& language) {
  if (strings.empty()) return "";
  const auto primary = [](std::string_view tag) {
    return tag.substr(0, tag.find('-'));
  };
  for (const LangString& s : strings) {
    if (mx::SameLetters(s.lang, language)) return s.text;
  }
  for (const LangString& s : strings) {
    if (mx::SameLetters(primary(s.lang), primary(language))) return s.text;
  }
  return strings.front().text;
}

std::optional<std::size_t> Course::findAu(const std::string& id) const {
  for (std::size_t i = 0; i < aus.size(); ++i) {
    if (aus[i].id == id) return i;
  }
  return std::nullopt;
}

bool IsIri(const std::string& text) {
  const std::size_t scheme = SchemeLength(text);
  return scheme > 0 && scheme + 1 < text.size() && ValidUriCharacters(text);
}

Course ParseCourse(const std::string& bytes,
                   const scorm::PackageFiles* package) {
  mx::DocPtr doc;
  try {
    doc = mx::ParseManifest(bytes, "cmi5.xml");
  } catch (const scorm::EManifestError& e) {
    throw ECourseError(e.what());
  }
  xmlNode* root = xmlDocGetRootElement(doc.get());
  if (root && Chars(root->name) == "courseStructure" && root->ns &&
      Chars(root->ns->href) != kNamespace) {
    const std::string found(Chars(root->ns->href));
    throw ECourseError(
        "cmi5.xml: the document is not a cmi5 course structure: its "
        "<courseStructure> is of the namespace " +
        found + (found == kDraftNamespace ? ", an early cmi5 draft's" : "") +
        ", not of " + std::string(kNamespace));
  }
  if (!root || Chars(root->name) != "courseStructure") {
    throw ECourseError(
        "cmi5.xml: the document is not a cmi5 course structure (its root "
        "is not <courseStructure> of " +
        std::string(kNamespace) + ")");
  }
  return Parser(package, root->ns != nullptr).take(root);
}

}  // namespace zept::cmi5
