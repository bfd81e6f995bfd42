#pragma once
// XML documents on libxml2: loading with the repair of CDATA ends, a small
// read-only view of the tree, and the escaping used when writing documents.
// Parsing never reaches the network and never loads external entities.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "util/context.h"

typedef struct _xmlDoc xmlDoc;
typedef struct _xmlNode xmlNode;

namespace zept {

// A node of a parsed document, valid while its document lives. Text nodes
// made of white space only are not part of the tree, so the first child of
// an element written with indentation is its first element.
class XmlNode {
 public:
  XmlNode() = default;
  explicit XmlNode(xmlNode* node) : node_(node) {}
  explicit operator bool() const { return node_ != nullptr; }

  bool isElement() const;
  // For an element its qualified name ("lom:title"); "" otherwise.
  Utf8String name() const;
  XmlNode firstChild() const;
  XmlNode nextSibling() const;
  // The first child element with that name, compared without regard to case.
  XmlNode child(const char* name) const;
  std::vector<XmlNode> children(const char* name) const;
  std::vector<XmlNode> childNodes() const;
  // The attribute's value; defaultValue when it is missing or empty.
  WideString attribute(const char* name,
                       const WideString& defaultValue = u"") const;
  // All the character data below the node (entity references not expanded).
  WideString text() const;
  bool isCData() const;
  bool isText() const;  // character data, not CDATA
  // The value of a text, CDATA or comment node; "" for other nodes.
  WideString value() const;
  // The attribute whose name matches without regard to ASCII letter case;
  // nullopt when there is none.
  std::optional<WideString> findAttribute(const char* name) const;
  // The node written out by the library in its indented form.
  Utf8String xml() const;

 private:
  friend Utf8String FormatElement(XmlNode element);
  xmlNode* node_ = nullptr;
};

// The element written out in the library's indented form, UTF-8.
Utf8String FormatElement(XmlNode element);

class XmlDocument {
 public:
  XmlDocument() = default;
  explicit XmlDocument(xmlDoc* doc) : doc_(doc) {}
  ~XmlDocument();
  XmlDocument(const XmlDocument&) = delete;
  XmlDocument& operator=(const XmlDocument&) = delete;

  // The root element; none for an empty or unparsable document.
  XmlNode root() const;

  // Parses UTF-8 text whatever its declaration says. An unparsable text
  // gives a document without root. keepLayout false drops the white space
  // between elements, so the tree can be written out indented afresh.
  static std::unique_ptr<XmlDocument> ParseUtf8(const Utf8String& text,
                                                bool keepLayout = true);
  // Parses bytes in the encoding their declaration names (UTF-8 without
  // one); bytes that are not valid in it are read as Windows-1252.
  static std::unique_ptr<XmlDocument> ParseDeclared(const std::string& bytes);
  // Parses Windows-1252 bytes whatever the declaration says; the library's
  // error message when they are not well-formed.
  static std::unique_ptr<XmlDocument> ParseAnsi(const AnsiString& bytes,
                                                std::string* error);

 private:
  xmlDoc* doc_ = nullptr;
};

// The file as a document: nullptr when no file exists. encodingName "UTF8"
// reads the text as UTF-8 whatever the declaration says; otherwise the
// declaration decides. A text that cannot be parsed gives a document
// without root.
std::unique_ptr<XmlDocument> LoadXmlDocument(Context& ctx,
                                             const WideString& path,
                                             const WideString& encodingName);
// The document of LoadXmlDocument, only when it has a root element.
std::unique_ptr<XmlDocument> LoadXmlRoot(Context& ctx, const WideString& path);
std::unique_ptr<XmlDocument> LoadXmlRootUtf8(Context& ctx,
                                             const WideString& path);

// The element's value: all its text and CDATA children joined. For a value
// element as written by the program that is its first child, the CDATA
// section; an element without children gives "".
WideString NodeText(XmlNode element);

// Writing. Characters XML 1.0 cannot carry (most C0 controls, lone
// surrogates, U+FFFE and U+FFFF) are written as U+FFFD.
// An attribute value: "&", "<", ">" and '"' become entity references.
// keepControls writes the other C0 controls as character references too,
// which XML 1.0 forbids: such a document is read through ControlReferences.
void AppendXmlAttributeValue(Utf8String& out, const WideString& value,
                             bool keepControls = false);
// A CDATA section holding value. "]]>" splits the section and a carriage
// return is written as a character reference between two sections, so that
// every value reads back exactly.
void AppendCData(Utf8String& out, const WideString& value);

// Reads the control references that keepControls writes, which the parser
// refuses: hide() swaps each for a private-use character that the text does
// not hold, so the text parses, and restore() swaps them back in the
// attribute values read from it.
class ControlReferences {
 public:
  WideString hide(const WideString& text);
  WideString restore(const WideString& value) const;

 private:
  char16_t base_ = 0;  // the stand-in for U+0000; 0 when nothing is hidden
};

// True when prefix:localname (localname alone without prefix) equals name,
// without regard to ASCII letter case.
bool QualifiedNameIs(const unsigned char* localname,
                     const unsigned char* prefix, const char* name);

// Text inside a comment: "--" (which would end the comment, and with it the
// document) becomes "- -", and a last "-" gets a blank after it.
void AppendXmlCommentText(Utf8String& out, const WideString& text);

}  // namespace zept
