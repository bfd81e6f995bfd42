// tincan.xml is read on libxml2 through the manifest reader's safe parse.
// Elements are matched by local name in the package namespace or none, as
// exports write it; everything else in an activity (interaction details,
// resources, extensions) names statements' objects and is left alone.

#include "tincan/package.h"

#include <libxml/tree.h>

#include <map>
#include <set>
#include <string_view>

#include "package/manifest.h"
#include "package/manifest_xml.h"
#include "package/package.h"

namespace zept::tincan {
namespace {

namespace mx = scorm::manifest_xml;

constexpr std::string_view kNamespace = "http://projecttincan.com/tincan.xsd";

std::string_view Chars(const xmlChar* text) {
  return text ? std::string_view(reinterpret_cast<const char*>(text))
              : std::string_view();
}

bool Own(const xmlNode* node, std::string_view name) {
  return node && node->type == XML_ELEMENT_NODE && Chars(node->name) == name &&
         (!node->ns || Chars(node->ns->href) == kNamespace);
}

std::optional<std::string> Attribute(const xmlNode* node, const char* name) {
  xmlChar* value = xmlGetNoNsProp(node, reinterpret_cast<const xmlChar*>(name));
  if (!value) return std::nullopt;
  std::string out = mx::Trimmed(Chars(value));
  xmlFree(value);
  return out;
}

// The schema's langstrings carry a plain lang attribute.
std::string Lang(const xmlNode* node) {
  return Attribute(node, "lang").value_or("");
}

bool HasScheme(std::string_view url) {
  const std::size_t colon = url.find(':');
  if (colon == std::string_view::npos || colon < 2) return false;
  for (std::size_t i = 0; i < colon; ++i) {
    const char c = url[i];
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (!letter && (i == 0 || !((c >= '0' && c <= '9') || c == '+' ||
                                c == '-' || c == '.')))
      return false;
  }
  return true;
}

class Reader {
 public:
  explicit Reader(const scorm::PackageFiles* package) : package_(package) {}

  Package read(const xmlNode* root) {
    std::map<std::string, long> ids;
    std::set<std::string> launched;
    for (const xmlNode* list = root->children; list; list = list->next) {
      if (!Own(list, "activities")) continue;
      for (const xmlNode* node = list->children; node; node = node->next) {
        if (!Own(node, "activity")) continue;
        Activity activity = readActivity(node);
        const auto [it, added] = ids.emplace(activity.id, activity.line);
        if (!added) {
          // Only a launch needs its id to be the package's only one: the
          // others just describe statements' objects.
          const std::string what = "activity id '" + activity.id +
                                   "' is used twice (first on line " +
                                   std::to_string(it->second) + ")";
          if (activity.launchable() || launched.contains(activity.id))
            fail(node, what);
          out_.notes.push_back(mx::Line(node) + what);
          mx::OneLine(out_.notes.back());
        }
        if (activity.launchable()) {
          launched.insert(activity.id);
          out_.launchable.push_back(out_.activities.size());
        }
        out_.activities.push_back(std::move(activity));
      }
    }
    if (out_.launchable.empty())
      fail(root, "no activity has a <launch>: there is nothing to play");
    return std::move(out_);
  }

 private:
  [[noreturn]] void fail(const xmlNode* node, std::string what) const {
    mx::OneLine(what);
    throw EPackageError("tincan.xml: " + mx::Line(node) + what);
  }

  Activity readActivity(const xmlNode* node) {
    Activity activity;
    activity.line = static_cast<int>(xmlGetLineNo(node));
    const std::optional<std::string> id = Attribute(node, "id");
    if (!id || id->empty()) fail(node, "activity has no id");
    if (!cmi5::IsIri(*id))
      fail(node, "activity id '" + *id + "' is not an IRI");
    activity.id = *id;
    activity.type = Attribute(node, "type").value_or("");
    if (!activity.type.empty() && !cmi5::IsIri(activity.type))
      fail(node, "activity '" + activity.id + "' has type '" + activity.type +
                     "', which is not an IRI");
    for (const xmlNode* child = node->children; child; child = child->next) {
      if (Own(child, "name")) {
        activity.name.push_back({Lang(child), mx::Text(child)});
      } else if (Own(child, "description")) {
        activity.description.push_back({Lang(child), mx::Text(child)});
      } else if (Own(child, "launch")) {
        activity.launches.push_back(readLaunch(child, activity.id));
      }
    }
    return activity;
  }

  Launch readLaunch(const xmlNode* node, const std::string& id) {
    Launch launch;
    launch.lang = Lang(node);
    launch.url = mx::Text(node);
    if (launch.url.empty())
      fail(node, "activity '" + id + "' has an empty <launch>");
    if (HasScheme(launch.url)) return launch;
    if (!package_)
      fail(node, "launch '" + launch.url +
                     "' is relative, which needs the package's files (a "
                     "tincan.xml alone needs fully qualified URLs)");
    const std::size_t cut = launch.url.find_first_of("?#");
    const std::optional<std::string> path =
        scorm::PackagePath("", launch.url.substr(0, cut));
    if (!path || path->empty() || path->back() == '/')
      fail(node, "launch '" + launch.url + "' is not a file of the package");
    if (!package_->exists(*path))
      fail(node, "launch '" + launch.url + "' names a file the package lacks");
    launch.packagePath = *path;
    launch.packageSuffix =
        cut == std::string::npos ? "" : launch.url.substr(cut);
    return launch;
  }

  const scorm::PackageFiles* package_;
  Package out_;
};

}  // namespace

std::optional<std::size_t> Package::find(const std::string& id) const {
  for (const std::size_t i : launchable) {
    if (activities[i].id == id) return i;
  }
  return std::nullopt;
}

const Launch& PickLaunch(const Activity& activity,
                         const std::string& language) {
  const auto primary = [](std::string_view tag) {
    return tag.substr(0, tag.find('-'));
  };
  for (const Launch& launch : activity.launches) {
    if (mx::SameLetters(launch.lang, language)) return launch;
  }
  for (const Launch& launch : activity.launches) {
    if (mx::SameLetters(primary(launch.lang), primary(language))) return launch;
  }
  return activity.launches.front();
}

Package ReadPackage(const std::string& bytes,
                    const scorm::PackageFiles* package) {
  mx::DocPtr doc;
  try {
    doc = mx::ParseManifest(bytes, "tincan.xml");
  } catch (const scorm::EManifestError& e) {
    throw EPackageError(e.what());
  }
  const xmlNode* root = xmlDocGetRootElement(doc.get());
  if (!root || !Own(root, "tincan"))
    throw EPackageError(
        "tincan.xml: the document is not a Tin Can package description (its "
        "root is not <tincan> of " +
        std::string(kNamespace) + ")");
  return Reader(package).read(root);
}

}  // namespace zept::tincan
