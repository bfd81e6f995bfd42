// The manifest is read on libxml2 directly (see manifest_xml.h); elements
// and attributes are matched leniently, as SCORM 1.2 packages need.

#include "package/manifest.h"

#include <libxml/tree.h>

#include <optional>
#include <unordered_map>

#include "package/manifest_xml.h"
#include "package/prerequisites.h"
#include "util/utf8.h"

namespace zept::scorm {
namespace {

using namespace manifest_xml;

// Elements and attributes are matched by local name, without regard to
// case or namespace: real packages bind the adlcp prefix to many URIs, or
// to none (then the parser keeps "adlcp:name" whole as the name).
std::string_view LocalName(const xmlChar* name) {
  std::string_view text = reinterpret_cast<const char*>(name);
  const std::size_t colon = text.rfind(':');
  return colon == std::string_view::npos ? text : text.substr(colon + 1);
}

bool IsElement(const xmlNode* node, std::string_view local) {
  return node && node->type == XML_ELEMENT_NODE &&
         SameLetters(LocalName(node->name), local);
}

std::vector<xmlNode*> Children(const xmlNode* parent, std::string_view local) {
  std::vector<xmlNode*> found;
  if (!parent) return found;
  for (xmlNode* n = parent->children; n; n = n->next) {
    if (IsElement(n, local)) found.push_back(n);
  }
  return found;
}

xmlNode* Child(const xmlNode* parent, std::string_view local) {
  if (!parent) return nullptr;
  for (xmlNode* n = parent->children; n; n = n->next) {
    if (IsElement(n, local)) return n;
  }
  return nullptr;
}

// The attribute by local name, one without a namespace first; the xml:
// attributes are left to XmlBase.
std::optional<std::string> Attribute(const xmlNode* node,
                                     std::string_view local) {
  if (!node) return std::nullopt;
  const xmlAttr* found = nullptr;
  for (const xmlAttr* a = node->properties; a; a = a->next) {
    if (IsXmlNamespace(a->ns) || !SameLetters(LocalName(a->name), local))
      continue;
    if (!a->ns) {
      found = a;
      break;
    }
    if (!found) found = a;
  }
  if (!found) return std::nullopt;
  std::string value;
  AppendText(found->children, value);
  return value;
}

std::string AttributeOr(const xmlNode* node, std::string_view local) {
  return Trimmed(Attribute(node, local).value_or(""));
}

class Reader {
 public:
  explicit Reader(Manifest& manifest) : m_(manifest) {}

  void read(const xmlNode* root) {
    m_.identifier = AttributeOr(root, "identifier");
    bases_.manifest = XmlBase(root);
    const xmlNode* resources = Child(root, "resources");
    bases_.resources = XmlBase(resources);
    for (const xmlNode* resource : Children(resources, "resource")) {
      const std::string id = AttributeOr(resource, "identifier");
      if (!resources_.emplace(id, resource).second) {
        m_.problems.push_back(Line(resource) + "resource " + id +
                              " repeats an identifier; the first is used");
      }
    }
    const xmlNode* organizations = Child(root, "organizations");
    const std::vector<xmlNode*> all = Children(organizations, "organization");
    if (all.empty()) {
      withoutOrganization(resources);
      return;
    }
    const xmlNode* chosen = all[0];
    const std::string preferred = AttributeOr(organizations, "default");
    if (!preferred.empty()) {
      const xmlNode* named = nullptr;
      for (const xmlNode* organization : all) {
        if (AttributeOr(organization, "identifier") == preferred) {
          named = organization;
          break;
        }
      }
      if (named) {
        chosen = named;
      } else {
        m_.problems.push_back(Line(organizations) +
                              "the default organization " + preferred +
                              " is missing; the first one is used");
      }
    }
    m_.organization = AttributeOr(chosen, "identifier");
    m_.title = Text(Child(chosen, "title"));
    if (m_.title.empty()) m_.title = m_.identifier;
    readItems(chosen, 1, m_.items);
    checkPrerequisites(m_.items);
  }

 private:
  // Each SCO resource in manifest order, as an item named by its resource.
  void withoutOrganization(const xmlNode* resources) {
    m_.title = m_.identifier;
    for (const xmlNode* resource : Children(resources, "resource")) {
      if (!isSco(resource)) continue;
      if (m_.items.size() >= kMaxItems) {
        walk_.tooMany(resource);
        break;
      }
      Item item;
      item.identifier = AttributeOr(resource, "identifier");
      item.title = item.identifier;
      item.resourceIdentifier = item.identifier;
      item.isSco = true;
      item.line = static_cast<int>(xmlGetLineNo(resource));
      item.launch = launch(resource, "", item.identifier);
      claimIdentifier(item);
      m_.items.push_back(std::move(item));
    }
  }

  static bool isSco(const xmlNode* resource) {
    return SameLetters(AttributeOr(resource, "scormtype"), "sco");
  }

  // Two items with one identifier would share one learner's values, the
  // second launching as the first: such a manifest is refused whole.
  void claimIdentifier(const Item& item) {
    if (item.identifier.empty()) return;
    const auto [first, added] = itemIds_.emplace(item.identifier, item.line);
    if (!added)
      throw EManifestError(
          "line " + std::to_string(item.line) + ": item " + item.identifier +
          " has the identifier of the item on line " +
          std::to_string(first->second) + "; the manifest is invalid");
  }

  void readItems(const xmlNode* parent, int depth, std::vector<Item>& out) {
    walk_.read(
        parent, depth, out,
        [](const xmlNode* node) { return Children(node, "item"); },
        [this](const xmlNode* node) { return readItem(node); });
  }

  Item readItem(const xmlNode* node) {
    Item item;
    item.identifier = AttributeOr(node, "identifier");
    item.line = static_cast<int>(xmlGetLineNo(node));
    claimIdentifier(item);
    item.title = Text(Child(node, "title"));
    if (item.title.empty()) item.title = item.identifier;
    const std::string visible = AttributeOr(node, "isvisible");
    item.visible = !(SameLetters(visible, "false") || visible == "0");
    item.masteryScore = Text(Child(node, "masteryscore"));
    item.dataFromLms = Text(Child(node, "datafromlms"));
    item.maxTimeAllowed = Text(Child(node, "maxtimeallowed"));
    item.timeLimitAction = Text(Child(node, "timelimitaction"));
    if (const xmlNode* prerequisites = Child(node, "prerequisites")) {
      // Packages that leave the type out mean the only type there is.
      const std::string type = AttributeOr(prerequisites, "type");
      if (type.empty() || SameLetters(type, "aicc_script")) {
        item.prerequisites = Text(prerequisites);
        try {
          Prerequisites::Parse(item.prerequisites);
        } catch (const EPrerequisitesError& e) {
          m_.problems.push_back(Line(prerequisites) + "item " +
                                item.identifier + ": " + e.what());
        }
      } else {
        m_.problems.push_back(Line(prerequisites) + "item " + item.identifier +
                              ": prerequisites of type '" + type +
                              "' are not read; the item has none");
      }
    }
    item.resourceIdentifier = AttributeOr(node, "identifierref");
    if (item.resourceIdentifier.empty()) return item;
    const auto found = resources_.find(item.resourceIdentifier);
    if (found == resources_.end()) {
      m_.problems.push_back(Line(node) + "item " + item.identifier +
                            " names resource " + item.resourceIdentifier +
                            ", which is missing");
      return item;
    }
    item.isSco = isSco(found->second);
    item.launch =
        launch(found->second, AttributeOr(node, "parameters"), item.identifier);
    return item;
  }

  // The launch location of resource with parameters; "" with a problem line
  // when its href is no file of the package.
  std::string launch(const xmlNode* resource, const std::string& parameters,
                     const std::string& itemId) {
    return LaunchLocation(bases_, resource, AttributeOr(resource, "identifier"),
                          AttributeOr(resource, "href"), parameters, itemId,
                          m_.problems);
  }

  void checkPrerequisites(const std::vector<Item>& items) {
    for (const Item& item : items) {
      try {
        for (const std::string& id :
             Prerequisites::Parse(item.prerequisites).identifiers()) {
          if (!itemIds_.count(id)) {
            m_.problems.push_back("line " + std::to_string(item.line) +
                                  ": item " + item.identifier +
                                  ": prerequisites name " + id +
                                  ", which is not an item");
          }
        }
      } catch (const EPrerequisitesError&) {
        // Already a problem line.
      }
      checkPrerequisites(item.children);
    }
  }

  Manifest& m_;
  Bases bases_;
  std::unordered_map<std::string, const xmlNode*> resources_;
  std::unordered_map<std::string, int> itemIds_;  // with the item's line
  ItemWalk walk_{[this](const xmlNode* where, const std::string& text) {
    m_.problems.push_back(Line(where) + text);
  }};
};

// The namespaces of SCORM 2004's own elements: content packaging,
// sequencing and navigation.
bool Is2004Namespace(const xmlNs* ns) {
  if (!ns || !ns->href) return false;
  const std::string uri = AsciiLower(reinterpret_cast<const char*>(ns->href));
  for (const char* part : {"adlcp_v1p3", "adlseq_v1p3", "adlnav_v1p3",
                           "imsglobal.org/xsd/imsss"}) {
    if (uri.find(part) != std::string::npos) return true;
  }
  return false;
}

// See Manifest::scorm2004. A schemaversion of 1.2 stands against stray 2004
// namespaces: a package that says it is 1.2 plays as before.
std::string Scorm2004(const xmlNode* root) {
  const std::string version =
      Text(Child(Child(root, "metadata"), "schemaversion"));
  if (version == "1.2") return "";
  if ((version.size() >= 4 && SameLetters(version.substr(0, 4), "2004")) ||
      SameLetters(version, "CAM 1.3") || version == "1.3")
    return version;
  // Every element, in document order, without recursion.
  const xmlNode* node = root;
  while (node) {
    if (node->type == XML_ELEMENT_NODE) {
      for (const xmlNs* ns = node->nsDef; ns; ns = ns->next) {
        if (Is2004Namespace(ns))
          return std::string("namespace ") +
                 reinterpret_cast<const char*>(ns->href);
      }
    }
    if (node->children && node->type == XML_ELEMENT_NODE) {
      node = node->children;
      continue;
    }
    while (node && node != root && !node->next) node = node->parent;
    node = node && node != root ? node->next : nullptr;
  }
  return "";
}

void AddLaunchable(const std::vector<Item>& items,
                   std::vector<const Item*>& out) {
  for (const Item& item : items) {
    if (!item.launch.empty()) out.push_back(&item);
    AddLaunchable(item.children, out);
  }
}

}  // namespace

Manifest ReadManifest(const std::string& bytes) {
  DocPtr doc = ParseManifest(bytes);
  return manifest_xml::ReadManifestRoot(xmlDocGetRootElement(doc.get()));
}

Manifest manifest_xml::ReadManifestRoot(const xmlNode* root) {
  if (!root) throw EManifestError("the manifest has no root element");
  if (!IsElement(root, "manifest")) {
    throw EManifestError("line " + std::to_string(xmlGetLineNo(root)) +
                         ": the root element is '" +
                         reinterpret_cast<const char*>(root->name) +
                         "', not 'manifest'");
  }
  Manifest manifest;
  Reader(manifest).read(root);
  manifest.scorm2004 = Scorm2004(root).substr(0, 200);
  // Text from the document may hold line breaks; a message stays one line.
  for (std::string& problem : manifest.problems) OneLine(problem);
  OneLine(manifest.scorm2004);
  return manifest;
}

std::vector<const Item*> LaunchableItems(const Manifest& manifest) {
  std::vector<const Item*> out;
  AddLaunchable(manifest.items, out);
  return out;
}

}  // namespace zept::scorm
