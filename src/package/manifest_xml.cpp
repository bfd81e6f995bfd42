// Manifests are read on libxml2 directly, not through XmlDocument, for what
// a message about them needs: the line of every element and of the first
// well-formedness error. The safety options are the same: no network, no
// external entities, no entity expansion.

#include "package/manifest_xml.h"

#include <libxml/parser.h>
#include <libxml/xmlerror.h>

#include <climits>
#include <optional>

#include "package/manifest.h"
#include "package/package.h"
#include "util/utf8.h"

namespace zept::scorm::manifest_xml {
namespace {

constexpr int kParseOptions = XML_PARSE_NONET | XML_PARSE_NOERROR |
                              XML_PARSE_NOWARNING | XML_PARSE_BIG_LINES;

// What may stand in the path part of a launch location without being read
// as the start of a query or fragment.
std::string EscapedPath(const std::string& path) {
  std::string out;
  for (char c : path) {
    if (c == '%') {
      out += "%25";
    } else if (c == '?') {
      out += "%3F";
    } else if (c == '#') {
      out += "%23";
    } else {
      out += c;
    }
  }
  return out;
}

// The query and fragment of an href with the item's parameters added as
// content packaging says: leading "?" and "&" dropped; a "#..." parameter
// only where the href has no fragment yet; the rest joins the href's query
// with "&", or starts one. Unlike plain appending, a query is kept before
// the href's fragment, where a browser still reads it.
std::string WithParameters(std::string_view suffix,
                           std::string_view parameters) {
  std::string query;
  bool hasQuery = false;
  std::string fragment;  // with its "#"
  const std::size_t hash = suffix.find('#');
  if (!suffix.empty() && suffix[0] == '?') {
    hasQuery = true;
    query = suffix.substr(1, hash == std::string_view::npos ? hash : hash - 1);
  }
  if (hash != std::string_view::npos) fragment = suffix.substr(hash);
  while (!parameters.empty() &&
         (parameters[0] == '?' || parameters[0] == '&')) {
    parameters.remove_prefix(1);
  }
  if (!parameters.empty()) {
    const std::size_t ownHash = parameters.find('#');
    const std::string_view added = parameters.substr(0, ownHash);
    if (!added.empty()) {
      if (!query.empty()) query += '&';
      query += added;
      hasQuery = true;
    }
    if (ownHash != std::string_view::npos && fragment.empty())
      fragment = parameters.substr(ownHash);
  }
  return (hasQuery ? "?" + query : std::string()) + fragment;
}

struct FirstError {
  bool set = false;
  int code = 0;
  long line = 0;
  std::string message;
};

void RecordError(void* userData, xmlErrorPtr error) {
  auto* ctxt = static_cast<xmlParserCtxtPtr>(userData);
  auto* first = static_cast<FirstError*>(ctxt->_private);
  if (!first || first->set || !error || error->level != XML_ERR_FATAL) return;
  first->set = true;
  first->code = error->code;
  first->line = error->line;
  first->message = Trimmed(error->message ? error->message : "");
}

DocPtr Parse(const std::string& bytes, const char* encoding,
             FirstError* error) {
  std::unique_ptr<xmlParserCtxt, decltype(&xmlFreeParserCtxt)> ctxt(
      xmlNewParserCtxt(), &xmlFreeParserCtxt);
  if (!ctxt) throw EManifestError("the manifest cannot be read: out of memory");
  ctxt->_private = error;
  ctxt->sax->serror = RecordError;
  DocPtr doc(xmlCtxtReadMemory(ctxt.get(), bytes.data(),
                               static_cast<int>(bytes.size()), nullptr,
                               encoding, kParseOptions));
  if (doc && !ctxt->wellFormed) doc.reset();
  if (!doc && !error->set) {
    error->set = true;
    error->line = ctxt->lastError.line;
    error->message = "the document cannot be parsed";
  }
  return doc;
}

}  // namespace

DocPtr ParseManifest(const std::string& bytes, const std::string& what) {
  static const bool initialised = [] {
    xmlInitParser();
    return true;
  }();
  (void)initialised;
  if (bytes.size() > INT_MAX) {
    throw EManifestError(what + " is larger than " + std::to_string(INT_MAX) +
                         " bytes");
  }
  FirstError error;
  DocPtr doc = Parse(bytes, nullptr, &error);
  // Manifests written on Windows often hold Windows-1252 text without
  // saying so; such a manifest is read as that rather than refused.
  if (!doc && error.code == XML_ERR_INVALID_CHAR &&
      error.message.find("UTF-8") != std::string::npos) {
    FirstError again;
    doc = Parse(bytes, "windows-1252", &again);
  }
  if (!doc) {
    throw EManifestError(what + " is not well-formed: line " +
                         std::to_string(error.line) + ": " + error.message);
  }
  return doc;
}

bool SameLetters(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

std::string Trimmed(std::string_view text) {
  const auto blank = [](char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
  };
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && blank(text[begin])) ++begin;
  while (end > begin && blank(text[end - 1])) --end;
  return std::string(text.substr(begin, end - begin));
}

void AppendText(const xmlNode* node, std::string& out) {
  for (; node; node = node->next) {
    if ((node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE) &&
        node->content) {
      out += reinterpret_cast<const char*>(node->content);
    } else if (node->type == XML_ELEMENT_NODE) {
      AppendText(node->children, out);
    }
  }
}

std::string Text(const xmlNode* element) {
  std::string out;
  if (element) AppendText(element->children, out);
  return Trimmed(out);
}

bool IsXmlNamespace(const xmlNs* ns) {
  return ns && ns->href &&
         std::string_view(reinterpret_cast<const char*>(ns->href)) ==
             reinterpret_cast<const char*>(XML_XML_NAMESPACE);
}

std::string XmlBase(const xmlNode* node) {
  if (!node) return "";
  for (const xmlAttr* a = node->properties; a; a = a->next) {
    if (IsXmlNamespace(a->ns) &&
        std::string_view(reinterpret_cast<const char*>(a->name)) == "base") {
      std::string value;
      AppendText(a->children, value);
      return Trimmed(value);
    }
  }
  return "";
}

std::string Line(const xmlNode* node) {
  return "line " + std::to_string(xmlGetLineNo(node)) + ": ";
}

void OneLine(std::string& text) {
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  }
}

std::string LaunchLocation(const Bases& bases, const xmlNode* resource,
                           const std::string& id, const std::string& href,
                           const std::string& parameters,
                           const std::string& itemId,
                           std::vector<std::string>& problems) {
  if (href.empty()) {
    problems.push_back(Line(resource) + "resource " + id +
                       " has no href; item " + itemId + " cannot be launched");
    return "";
  }
  // Each xml:base is a folder, even without its last "/", as authors
  // mean it.
  std::optional<std::string> folder = "";
  for (const std::string& base :
       {bases.manifest, bases.resources, XmlBase(resource)}) {
    if (base.empty() || !folder) continue;
    folder = PackagePath(*folder, base.back() == '/' ? base : base + "/");
    if (!folder) {
      problems.push_back(Line(resource) + "resource " + id + ": xml:base '" +
                         base + "' is not a folder of the package; item " +
                         itemId + " cannot be launched");
      return "";
    }
  }
  const std::size_t cut = href.find_first_of("?#");
  const std::optional<std::string> path =
      PackagePath(*folder, href.substr(0, cut));
  if (!path || path->empty() || path->back() == '/') {
    problems.push_back(Line(resource) + "resource " + id + ": href '" + href +
                       "' is not a file of the package; item " + itemId +
                       " cannot be launched");
    return "";
  }
  return EscapedPath(*path) +
         WithParameters(cut == std::string::npos
                            ? std::string_view()
                            : std::string_view(href).substr(cut),
                        parameters);
}

void ItemWalk::tooMany(const xmlNode* where) {
  if (tooMany_) return;
  tooMany_ = true;
  problem_(where, "more than " + std::to_string(kMaxItems) +
                      " items; the rest are left out");
}

void ItemWalk::tooDeep(const xmlNode* where) {
  if (tooDeep_) return;
  tooDeep_ = true;
  problem_(where, "items nested deeper than " + std::to_string(kMaxDepth) +
                      " are left out");
}

}  // namespace zept::scorm::manifest_xml
