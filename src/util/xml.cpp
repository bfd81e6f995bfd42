#include "util/xml.h"

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>

#include <algorithm>
#include <bitset>
#include <climits>
#include <cstring>
#include <mutex>

#include "platform/codepage.h"
#include "util/file_io.h"
#include "util/textlib.h"
#include "util/utf8.h"

namespace zept {
namespace {

xmlParserInputPtr RefuseExternalEntity(const char*, const char*,
                                       xmlParserCtxtPtr) {
  return nullptr;
}

void Silent(void*, const char*, ...) {}

void EnsureXmlInit() {
  static std::once_flag once;
  std::call_once(once, [] {
    xmlInitParser();
    xmlSetExternalEntityLoader(RefuseExternalEntity);
    xmlSetGenericErrorFunc(nullptr, Silent);
  });
}

constexpr int kParseOptions =
    XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;

// Line ends are normalised to LF when parsed, so a CR in text can only come
// from a character reference: it is content, never layout.
bool IsBlank(const xmlChar* text) {
  if (!text) return true;
  for (; *text; ++text) {
    if (*text != ' ' && *text != '\t' && *text != '\n') return false;
  }
  return true;
}

bool Skipped(const xmlNode* n) {
  return (n->type == XML_TEXT_NODE && IsBlank(n->content)) ||
         n->type == XML_XINCLUDE_START || n->type == XML_XINCLUDE_END;
}

xmlNode* FirstKept(xmlNode* n) {
  while (n && Skipped(n)) n = n->next;
  return n;
}

bool NameIs(const xmlNode* n, const char* name) {
  return n->type == XML_ELEMENT_NODE &&
         QualifiedNameIs(n->name, n->ns ? n->ns->prefix : nullptr, name);
}

// Character data below n; entity references are not followed, so a
// document cannot make this expand without bound.
void AppendText(const xmlNode* n, Utf8String& out) {
  for (; n; n = n->next) {
    if ((n->type == XML_TEXT_NODE || n->type == XML_CDATA_SECTION_NODE) &&
        n->content) {
      out += reinterpret_cast<const char*>(n->content);
    } else if (n->type == XML_ELEMENT_NODE) {
      AppendText(n->children, out);
    }
  }
}

std::unique_ptr<XmlDocument> Read(const std::string& bytes,
                                  const char* encoding, int options) {
  EnsureXmlInit();
  if (bytes.size() > INT_MAX) return std::make_unique<XmlDocument>();
  return std::make_unique<XmlDocument>(
      xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), nullptr,
                    encoding, options));
}

bool IsXmlChar(char16_t c) {
  return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xFFFD);
}

// The value with characters XML cannot carry replaced; surrogates are kept
// only in pairs, C0 controls when keepControls says so.
WideString XmlSafe(const WideString& value, bool keepControls = false) {
  WideString out = value;
  for (std::size_t i = 0; i < out.size(); ++i) {
    char16_t c = out[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < out.size() &&
        out[i + 1] >= 0xDC00 && out[i + 1] <= 0xDFFF) {
      ++i;
    } else if (keepControls && c < 0x20) {
      continue;
    } else if (!IsXmlChar(c) || (c >= 0xD800 && c <= 0xDFFF)) {
      out[i] = 0xFFFD;
    }
  }
  return out;
}

bool NeedsCare(const WideString& value, bool attribute) {
  for (char16_t c : value) {
    if (c < 0x20 || (c >= 0xD800 && c <= 0xDFFF) || c >= 0xFFFE) return true;
    if (attribute ? (c == u'&' || c == u'<' || c == u'>' || c == u'"')
                  : c == u']') {
      return true;
    }
  }
  return false;
}

// The length of the character reference "&#N;" or "&#xN;" at text[at],
// whose code point goes to *value (0x110000 for any beyond Unicode); 0 when
// there is none.
std::size_t ReferenceAt(const WideString& text, std::size_t at,
                        char32_t* value) {
  if (text.compare(at, 2, u"&#") != 0) return 0;
  std::size_t i = at + 2;
  const bool hex = i < text.size() && text[i] == u'x';
  if (hex) ++i;
  const std::size_t digits = i;
  char32_t n = 0;
  for (; i < text.size(); ++i) {
    const char16_t c = text[i];
    unsigned digit;
    if (c >= u'0' && c <= u'9') {
      digit = c - u'0';
    } else if (hex && c >= u'a' && c <= u'f') {
      digit = c - u'a' + 10;
    } else if (hex && c >= u'A' && c <= u'F') {
      digit = c - u'A' + 10;
    } else {
      break;
    }
    n = std::min<char32_t>(n * (hex ? 16 : 10) + digit, 0x110000);
  }
  if (i == digits || i >= text.size() || text[i] != u';') return 0;
  *value = n;
  return i + 1 - at;
}

// A control that XML forbids even as a reference.
bool ForbiddenControl(char32_t c) {
  return c < 0x20 && !IsXmlChar(static_cast<char16_t>(c));
}

}  // namespace

WideString ControlReferences::hide(const WideString& text) {
  // The private-use area in blocks of 32, one stand-in for each control. A
  // block that the text holds, as a character or a reference, is not taken.
  constexpr char16_t kFirst = 0xE000;
  constexpr std::size_t kBlocks = (0xF900 - kFirst) / 32;
  std::bitset<kBlocks> used;
  bool found = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c == u'&' && ReferenceAt(text, i, &c) > 0 && ForbiddenControl(c))
      found = true;
    if (c >= kFirst && c < kFirst + 32 * kBlocks) used.set((c - kFirst) / 32);
  }
  base_ = 0;
  if (!found) return text;
  std::size_t block = 0;
  while (block < kBlocks && used.test(block)) ++block;
  // With every block taken the controls read as U+FFFD, as other documents
  // write them, rather than make the text unreadable.
  if (block < kBlocks) base_ = static_cast<char16_t>(kFirst + 32 * block);
  WideString out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    char32_t c = 0;
    const std::size_t length = text[i] == u'&' ? ReferenceAt(text, i, &c) : 0;
    if (length > 0 && ForbiddenControl(c)) {
      out += base_ != 0 ? static_cast<char16_t>(base_ + c) : u'\uFFFD';
      i += length;
    } else {
      out += text[i++];
    }
  }
  return out;
}

WideString ControlReferences::restore(const WideString& value) const {
  if (base_ == 0) return value;
  WideString out = value;
  for (char16_t& c : out) {
    if (c >= base_ && c < base_ + 32) c = static_cast<char16_t>(c - base_);
  }
  return out;
}

bool QualifiedNameIs(const unsigned char* localname,
                     const unsigned char* prefix, const char* name) {
  // Compares one part of name from *at; true when it matches to its end.
  auto part = [&](const unsigned char* text, const char*& at, char stop) {
    for (; *text; ++text, ++at) {
      if (*at == 0 || AsciiLower(static_cast<char>(*text)) != AsciiLower(*at))
        return false;
    }
    return *at == stop;
  };
  const char* at = name;
  if (prefix) {
    if (!part(prefix, at, ':')) return false;
    ++at;
  }
  return part(localname, at, 0);
}

bool XmlNode::isElement() const {
  return node_ && node_->type == XML_ELEMENT_NODE;
}

Utf8String XmlNode::name() const {
  if (!isElement()) return "";
  Utf8String out;
  if (node_->ns && node_->ns->prefix) {
    out = reinterpret_cast<const char*>(node_->ns->prefix);
    out += ':';
  }
  out += reinterpret_cast<const char*>(node_->name);
  return out;
}

XmlNode XmlNode::firstChild() const {
  if (!node_ || node_->type == XML_ENTITY_REF_NODE) return XmlNode();
  return XmlNode(FirstKept(node_->children));
}

XmlNode XmlNode::nextSibling() const {
  return node_ ? XmlNode(FirstKept(node_->next)) : XmlNode();
}

XmlNode XmlNode::child(const char* name) const {
  for (XmlNode n = firstChild(); n; n = n.nextSibling()) {
    if (NameIs(n.node_, name)) return n;
  }
  return XmlNode();
}

std::vector<XmlNode> XmlNode::children(const char* name) const {
  std::vector<XmlNode> found;
  for (XmlNode n = firstChild(); n; n = n.nextSibling()) {
    if (NameIs(n.node_, name)) found.push_back(n);
  }
  return found;
}

std::vector<XmlNode> XmlNode::childNodes() const {
  std::vector<XmlNode> found;
  for (XmlNode n = firstChild(); n; n = n.nextSibling()) found.push_back(n);
  return found;
}

WideString XmlNode::attribute(const char* name,
                              const WideString& defaultValue) const {
  if (!isElement()) return defaultValue;
  for (xmlAttr* a = node_->properties; a; a = a->next) {
    if (a->ns == nullptr &&
        std::strcmp(reinterpret_cast<const char*>(a->name), name) == 0) {
      Utf8String value;
      AppendText(a->children, value);
      return value.empty() ? defaultValue : Utf8ToWide(value);
    }
  }
  return defaultValue;
}

WideString XmlNode::text() const {
  if (!node_) return u"";
  if (!isElement()) return value();
  Utf8String out;
  AppendText(node_->children, out);
  return Utf8ToWide(out);
}

bool XmlNode::isCData() const {
  return node_ && node_->type == XML_CDATA_SECTION_NODE;
}

bool XmlNode::isText() const { return node_ && node_->type == XML_TEXT_NODE; }

std::optional<WideString> XmlNode::findAttribute(const char* name) const {
  if (!isElement()) return std::nullopt;
  for (xmlAttr* a = node_->properties; a; a = a->next) {
    if (QualifiedNameIs(a->name, a->ns ? a->ns->prefix : nullptr, name)) {
      Utf8String value;
      AppendText(a->children, value);
      return Utf8ToWide(value);
    }
  }
  return std::nullopt;
}

Utf8String XmlNode::xml() const { return FormatElement(*this); }

WideString XmlNode::value() const {
  if (!node_ ||
      (node_->type != XML_TEXT_NODE && node_->type != XML_CDATA_SECTION_NODE &&
       node_->type != XML_COMMENT_NODE) ||
      !node_->content) {
    return u"";
  }
  return Utf8ToWide(reinterpret_cast<const char*>(node_->content));
}

XmlDocument::~XmlDocument() {
  if (doc_) xmlFreeDoc(doc_);
}

XmlNode XmlDocument::root() const {
  return doc_ ? XmlNode(xmlDocGetRootElement(doc_)) : XmlNode();
}

std::unique_ptr<XmlDocument> XmlDocument::ParseUtf8(const Utf8String& text,
                                                    bool keepLayout) {
  return Read(text, "UTF-8",
              kParseOptions | XML_PARSE_IGNORE_ENC |
                  (keepLayout ? 0 : XML_PARSE_NOBLANKS));
}

std::unique_ptr<XmlDocument> XmlDocument::ParseDeclared(
    const std::string& bytes) {
  auto doc = Read(bytes, nullptr, kParseOptions);
  if (doc->root()) return doc;
  return Read(bytes, "WINDOWS-1252", kParseOptions | XML_PARSE_IGNORE_ENC);
}

std::unique_ptr<XmlDocument> XmlDocument::ParseAnsi(const AnsiString& bytes,
                                                    std::string* error) {
  EnsureXmlInit();
  xmlResetLastError();
  auto doc = Read(bytes, "WINDOWS-1252", kParseOptions | XML_PARSE_IGNORE_ENC);
  if (!doc->root() && error) {
    const xmlError* e = xmlGetLastError();
    *error = e && e->message ? e->message : "the text is not an XML document";
    while (!error->empty() && (error->back() == '\n' || error->back() == ' '))
      error->pop_back();
  }
  return doc;
}

Utf8String FormatElement(XmlNode element) {
  if (!element.node_) return "";
  xmlBufferPtr buffer = xmlBufferCreate();
  xmlNodeDump(buffer, element.node_->doc, element.node_, 0, 1);
  Utf8String out(reinterpret_cast<const char*>(xmlBufferContent(buffer)),
                 static_cast<std::size_t>(xmlBufferLength(buffer)));
  xmlBufferFree(buffer);
  return out;
}

std::unique_ptr<XmlDocument> LoadXmlDocument(Context& ctx,
                                             const WideString& path,
                                             const WideString& encodingName) {
  if (!ctx.platform.files.fileExists(path)) return nullptr;
  WideString text = readTextFile(ctx, path);
  if (text.find(u"]]]>") != WideString::npos) {
    text = ReplaceLiteral(text, u"]]]>", u"] ]]>", kReplaceGlobal);
  }
  if (text.empty()) return std::make_unique<XmlDocument>();
  // readTextFile decoded the bytes as ANSI; that is reversible, so the
  // parser sees the file's own bytes and its own encoding.
  const std::string bytes = WideToAnsi(text);
  return encodingName == u"UTF8" ? XmlDocument::ParseUtf8(bytes)
                                 : XmlDocument::ParseDeclared(bytes);
}

std::unique_ptr<XmlDocument> LoadXmlRoot(Context& ctx, const WideString& path) {
  auto doc = LoadXmlDocument(ctx, path, u"");
  return doc && doc->root() ? std::move(doc) : nullptr;
}

std::unique_ptr<XmlDocument> LoadXmlRootUtf8(Context& ctx,
                                             const WideString& path) {
  auto doc = LoadXmlDocument(ctx, path, u"UTF8");
  return doc && doc->root() ? std::move(doc) : nullptr;
}

WideString NodeText(XmlNode element) {
  WideString out;
  for (XmlNode n = element.firstChild(); n; n = n.nextSibling())
    out += n.value();
  return out;
}

void AppendXmlAttributeValue(Utf8String& out, const WideString& value,
                             bool keepControls) {
  if (!NeedsCare(value, true)) {
    AppendUtf8(out, value);
    return;
  }
  const WideString safe = XmlSafe(value, keepControls);
  std::size_t start = 0;
  std::string number;
  for (std::size_t i = 0; i < safe.size(); ++i) {
    const char* entity = nullptr;
    switch (safe[i]) {
      case u'&':
        entity = "&amp;";
        break;
      case u'<':
        entity = "&lt;";
        break;
      case u'>':
        entity = "&gt;";
        break;
      case u'"':
        entity = "&quot;";
        break;
      // Attribute values turn these into blanks when read: keep them.
      case u'\t':
        entity = "&#9;";
        break;
      case u'\n':
        entity = "&#10;";
        break;
      case u'\r':
        entity = "&#13;";
        break;
      default:
        // Left in by XmlSafe only when keepControls says so.
        if (safe[i] >= 0x20) continue;
        number = "&#" + std::to_string(static_cast<int>(safe[i])) + ";";
        entity = number.c_str();
    }
    AppendUtf8(out, safe.substr(start, i - start));
    out += entity;
    start = i + 1;
  }
  AppendUtf8(out, safe.substr(start));
}

void AppendCData(Utf8String& out, const WideString& value) {
  out += "<![CDATA[";
  if (!NeedsCare(value, false)) {
    AppendUtf8(out, value);
  } else {
    const WideString safe = XmlSafe(value);
    std::size_t start = 0;
    for (std::size_t i = 0; i < safe.size(); ++i) {
      if (safe[i] == u'\r') {
        AppendUtf8(out, safe.substr(start, i - start));
        out += "]]>&#13;<![CDATA[";
        start = i + 1;
      } else if (safe.compare(i, 3, u"]]>") == 0) {
        // Close after "]]" and open again before ">".
        AppendUtf8(out, safe.substr(start, i + 2 - start));
        out += "]]><![CDATA[";
        start = i + 2;
      }
    }
    AppendUtf8(out, safe.substr(start));
  }
  out += "]]>";
}

void AppendXmlCommentText(Utf8String& out, const WideString& text) {
  WideString safe = XmlSafe(text);
  for (std::size_t at = safe.find(u"--"); at != WideString::npos;
       at = safe.find(u"--", at)) {
    safe.insert(at + 1, 1, u' ');
  }
  if (!safe.empty() && safe.back() == u'-') safe += u' ';
  AppendUtf8(out, safe);
}

}  // namespace zept
