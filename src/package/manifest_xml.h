#pragma once
// What the readers of SCORM 1.2 and SCORM 2004 manifests share: parsing
// with the safety options and the first error's line, text and xml:base of
// elements, and the launch location of a resource. Not for the rest of the
// program.

#include <libxml/tree.h>

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "package/manifest.h"

namespace zept::scorm::manifest_xml {

// Bounds for hostile manifests: far beyond any real course.
constexpr int kMaxDepth = 64;
constexpr std::size_t kMaxItems = 100000;

struct DocFree {
  void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
using DocPtr = std::unique_ptr<xmlDoc, DocFree>;

// The whole imsmanifest.xml parsed without network, external entities or
// entity expansion; a Windows-1252 manifest that does not say so is read as
// that. Throws EManifestError naming the first well-formedness error's line,
// its message beginning with what (another description's file name).
DocPtr ParseManifest(const std::string& bytes,
                     const std::string& what = "the manifest");

// Equal without regard to ASCII letter case.
bool SameLetters(std::string_view a, std::string_view b);

// Without the XML blanks around it.
std::string Trimmed(std::string_view text);

// Character data below element, trimmed; entity references are not
// followed.
std::string Text(const xmlNode* element);
// Character data of node and its siblings, appended untrimmed.
void AppendText(const xmlNode* node, std::string& out);

bool IsXmlNamespace(const xmlNs* ns);

// The node's xml:base, trimmed; "" without one.
std::string XmlBase(const xmlNode* node);

// "line N: " for a problem about node.
std::string Line(const xmlNode* node);

// Control characters in a problem line, which would break it, become " ".
void OneLine(std::string& text);

// Where the xml:base of the manifest and of its resources element lead.
struct Bases {
  std::string manifest;
  std::string resources;
};

// The launch location of resource (identifier id, href as written) for the
// item itemId with its parameters: xml:base applied, the path escaped so
// that the first "?" or "#" starts the query or fragment, the parameters
// joined as content packaging says. "" with a problem line when the href is
// no file of the package.
std::string LaunchLocation(const Bases& bases, const xmlNode* resource,
                           const std::string& id, const std::string& href,
                           const std::string& parameters,
                           const std::string& itemId,
                           std::vector<std::string>& problems);

// The item tree of an organization as both versions read it: as deep as
// kMaxDepth and as many items as kMaxItems, what is left out said once.
class ItemWalk {
 public:
  using Problem =
      std::function<void(const xmlNode* where, const std::string& text)>;
  explicit ItemWalk(Problem problem) : problem_(std::move(problem)) {}

  // The items under parent at depth (1 for an organization's) into out,
  // each by readItem(node), and theirs into its children; items(node) are
  // the item elements of node.
  template <typename Node, typename Items, typename ReadItem>
  void read(const xmlNode* parent, int depth, std::vector<Node>& out,
            const Items& items, const ReadItem& readItem) {
    for (const xmlNode* node : items(parent)) {
      if (depth > kMaxDepth) {
        tooDeep(node);
        return;
      }
      if (count_ >= kMaxItems) {
        tooMany(node);
        return;
      }
      ++count_;
      out.push_back(readItem(node));
      read(node, depth + 1, out.back().children, items, readItem);
    }
  }
  // More than kMaxItems: said once, at where.
  void tooMany(const xmlNode* where);

 private:
  void tooDeep(const xmlNode* where);

  Problem problem_;
  std::size_t count_ = 0;
  bool tooDeep_ = false;
  bool tooMany_ = false;
};

// ReadManifest on a document parsed already (root may be null), so that a
// 2004 package's manifest is parsed once for both readers.
Manifest ReadManifestRoot(const xmlNode* root);

}  // namespace zept::scorm::manifest_xml
