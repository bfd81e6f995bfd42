// zept's own screens as a screen reader and the keyboard meet them: the
// real window on the private X server, read through AT-SPI on a D-Bus
// session of the test's own (names, descriptions, roles, levels, states,
// and the events a screen reader speaks), and checked by axe-core.

#include <atspi/atspi.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <thread>

#include "app/test_channel_line.h"
#include "desktop/display.h"

namespace fs = std::filesystem;
using namespace zept::desktop::testing;

namespace {

// A D-Bus session bus of the test's own, where the accessibility bus
// starts on demand; ended with the test program.
std::string SessionBus() {
  static std::string address;
  static bool tried = false;
  if (tried) return address;
  tried = true;
  if (!HaveProgram("dbus-daemon") ||
      !fs::exists("/usr/libexec/at-spi-bus-launcher"))
    return address;
  const std::string out = RunCommand(
      "dbus-daemon --session --fork --print-address=1 --print-pid=1");
  const std::size_t line = out.find('\n');
  if (line == std::string::npos) return address;
  address = out.substr(0, line);
  static const pid_t pid =
      static_cast<pid_t>(std::atol(out.c_str() + line + 1));
  // A pid of 0 would end the test run's own process group.
  std::atexit([] {
    if (pid > 0) ::kill(pid, SIGTERM);
  });
  ::setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
  atspi_init();
  return address;
}

std::string Own(gchar* text) {
  std::string out = text ? text : "";
  g_free(text);
  return out;
}

std::string Name(AtspiAccessible* a) {
  return Own(atspi_accessible_get_name(a, nullptr));
}
std::string Description(AtspiAccessible* a) {
  return Own(atspi_accessible_get_description(a, nullptr));
}
AtspiRole Role(AtspiAccessible* a) {
  return atspi_accessible_get_role(a, nullptr);
}
std::string Role(AtspiRole role) { return Own(atspi_role_get_name(role)); }
std::string TextOf(AtspiAccessible* a) {
  AtspiText* text = atspi_accessible_get_text_iface(a);
  if (!text) return "";
  std::string out = Own(atspi_text_get_text(text, 0, -1, nullptr));
  g_object_unref(text);
  return out;
}
std::string Attribute(AtspiAccessible* a, const char* name) {
  GHashTable* all = atspi_accessible_get_attributes(a, nullptr);
  if (!all) return "";
  const char* value = static_cast<const char*>(g_hash_table_lookup(all, name));
  std::string out = value ? value : "";
  g_hash_table_unref(all);
  return out;
}
bool Has(AtspiAccessible* a, AtspiStateType state) {
  AtspiStateSet* set = atspi_accessible_get_state_set(a);
  const bool on = set && atspi_state_set_contains(set, state);
  if (set) g_object_unref(set);
  return on;
}
AtspiRect Extents(AtspiAccessible* a) {
  AtspiRect out{0, 0, 0, 0};
  AtspiComponent* component = atspi_accessible_get_component_iface(a);
  if (!component) return out;
  if (AtspiRect* r = atspi_component_get_extents(
          component, ATSPI_COORD_TYPE_SCREEN, nullptr)) {
    out = *r;
    g_free(r);
  }
  g_object_unref(component);
  return out;
}

// Every object under root (root first), each a new reference.
void Walk(AtspiAccessible* root, std::vector<AtspiAccessible*>& out,
          int depth = 0) {
  if (!root || depth > 40 || out.size() > 5000) return;
  out.push_back(static_cast<AtspiAccessible*>(g_object_ref(root)));
  const int n = atspi_accessible_get_child_count(root, nullptr);
  for (int i = 0; i < n; ++i) {
    AtspiAccessible* child =
        atspi_accessible_get_child_at_index(root, i, nullptr);
    Walk(child, out, depth + 1);
    if (child) g_object_unref(child);
  }
}

// What a screen reader heard: focus moves, and what was added to or said
// by the page, with the live setting of where it happened.
struct Heard {
  std::string type, name, description, text, live;
  AtspiRole role = ATSPI_ROLE_INVALID;
  std::string level, current;
  bool expanded = false, expandable = false;
};

std::vector<Heard>& Log() {
  static std::vector<Heard> log;
  return log;
}

std::string LiveOf(AtspiAccessible* a) {
  std::string live = Attribute(a, "container-live");
  return live.empty() ? Attribute(a, "live") : live;
}

void OnEvent(AtspiEvent* event, void*) {
  Heard heard;
  heard.type = event->type ? event->type : "";
  AtspiAccessible* source = event->source;
  if (heard.type.starts_with("object:state-changed:focused")) {
    if (!event->detail1 || !source) return;
    heard.name = Name(source);
    heard.description = Description(source);
    heard.role = Role(source);
    heard.level = Attribute(source, "level");
    heard.current = Attribute(source, "current");
    heard.expandable = Has(source, ATSPI_STATE_EXPANDABLE);
    heard.expanded = Has(source, ATSPI_STATE_EXPANDED);
  } else if (heard.type.starts_with("object:children-changed:add")) {
    if (G_VALUE_HOLDS_OBJECT(&event->any_data))
      if (auto* child =
              ATSPI_ACCESSIBLE(g_value_get_object(&event->any_data))) {
        heard.text = Name(child);
        if (AtspiText* text = atspi_accessible_get_text_iface(child)) {
          heard.text += Own(atspi_text_get_text(text, 0, -1, nullptr));
          g_object_unref(text);
        }
      }
    if (source) heard.live = LiveOf(source);
  } else {
    if (G_VALUE_HOLDS_STRING(&event->any_data))
      heard.text = g_value_get_string(&event->any_data) ?: "";
    if (source) heard.live = LiveOf(source);
  }
  Log().push_back(heard);
}

struct Listening {
  AtspiEventListener* listener;
  Listening() {
    listener = atspi_event_listener_new(OnEvent, nullptr, nullptr);
    for (const char* type :
         {"object:state-changed:focused", "object:children-changed:add",
          "object:text-changed:insert", "object:announcement"})
      atspi_event_listener_register(listener, type, nullptr);
  }
  ~Listening() {
    atspi_event_listener_deregister(listener, "object:", nullptr);
    g_object_unref(listener);
  }
};

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// One harness for every screen: zept on a package the case writes, with
// AT-SPI on, its test channel listened on, driven with the keys.
class ScreensTest : public ::testing::Test {
 protected:
  fs::path root;

  void SetUp() override {
    ZEPT_NEED_DISPLAY();
    if (SessionBus().empty())
      GTEST_SKIP() << "dbus-daemon or at-spi2-core is missing";
    static Listening* listening = new Listening;  // for the whole run
    (void)listening;
    if (!HaveProgram("xdotool")) GTEST_SKIP() << "xdotool is missing";
    char pattern[] = "/tmp/zept-screens-XXXXXX";
    root = ::mkdtemp(pattern);
    Log().clear();
  }
  void TearDown() override {
    stop();
    if (!root.empty()) fs::remove_all(root);
  }

  fs::path writePackage(const std::string& name,
                        const std::map<std::string, std::string>& files) {
    std::string plain = name;  // a path the shell's command line keeps whole
    for (char& c : plain)
      if (!std::isalnum(static_cast<unsigned char>(c))) c = '-';
    const fs::path folder = root / plain;
    for (const auto& [path, content] : files) {
      fs::create_directories((folder / path).parent_path());
      std::ofstream(folder / path, std::ios::binary) << content;
    }
    return folder;
  }

  // zept on arguments, with more of the environment ("NAME=VALUE ").
  void start(const std::string& arguments, const std::string& more = "") {
    stop();
    const fs::path path = root / "channel";
    fs::remove(path);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s",
                  path.c_str());
    listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener_, 1);
    const std::string command =
        "unset NO_AT_BRIDGE; HOME=" + (root / "home").string() +
        " XDG_DATA_HOME=" + (root / "data").string() +
        " ZEPT_REGISTRY_DIR=" + (root / "registry").string() +
        " ZEPT_TEST_CHANNEL=" + path.string() + " " + more +
        "exec " ZEPT_BINARY " " + arguments + " >" +
        (root / "zept.out").string() + " 2>&1";
    running_ = ::fork();
    if (running_ == 0) {
      ::execl("/bin/sh", "sh", "-c", command.c_str(), nullptr);
      ::_exit(127);
    }
  }
  void stop() {
    if (running_ > 0) {
      ::kill(running_, SIGTERM);
      for (int i = 0; i < 100 && ::waitpid(running_, nullptr, WNOHANG) == 0;
           ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      ::kill(running_, SIGKILL);
      ::waitpid(running_, nullptr, 0);
      running_ = -1;
    }
    for (int* fd : {&channel_, &listener_})
      if (*fd >= 0) ::close(std::exchange(*fd, -1));
    if (app_) g_object_unref(std::exchange(app_, nullptr));
  }

  // zept's application in AT-SPI, waited for.
  AtspiAccessible* app() {
    if (app_) return app_;
    PumpUntil([this] {
      AtspiAccessible* desktop = atspi_get_desktop(0);
      const int n = atspi_accessible_get_child_count(desktop, nullptr);
      for (int i = 0; i < n && !app_; ++i) {
        AtspiAccessible* a =
            atspi_accessible_get_child_at_index(desktop, i, nullptr);
        if (!a) continue;
        if (static_cast<pid_t>(atspi_accessible_get_process_id(a, nullptr)) ==
            running_) {
          app_ = a;
          // What the screens are now, never what they were.
          atspi_accessible_set_cache_mask(app_, ATSPI_CACHE_NONE);
        } else
          g_object_unref(a);
      }
      g_object_unref(desktop);
      return app_ != nullptr;
    });
    return app_;
  }

  // The first object of zept's tree that matches, waited for; null if none
  // came. The caller owns it.
  AtspiAccessible* find(const std::function<bool(AtspiAccessible*)>& matches,
                        int timeoutMs = 20000) {
    AtspiAccessible* found = nullptr;
    PumpUntil(
        [&] {
          if (!app()) return false;
          atspi_accessible_clear_cache(app_);
          std::vector<AtspiAccessible*> all;
          Walk(app_, all);
          for (AtspiAccessible* a : all) {
            if (!found && matches(a))
              found = a;
            else
              g_object_unref(a);
          }
          return found != nullptr;
        },
        timeoutMs);
    return found;
  }
  AtspiAccessible* findNamed(AtspiRole role, const std::string& name) {
    return find(
        [&](AtspiAccessible* a) { return Role(a) == role && Name(a) == name; });
  }

  // Every object of zept's tree now.
  std::vector<AtspiAccessible*> everything() {
    std::vector<AtspiAccessible*> all;
    atspi_accessible_clear_cache(app());
    Walk(app_, all);
    return all;
  }

  // Keys pressed in zept's window (xdotool's names).
  void keys(const std::string& names) {
    const std::string id =
        RunCommand("xdotool search --onlyvisible --pid " +
                   std::to_string(running_) + " | head -n 1");
    RunCommand("xdotool windowfocus --sync " + id.substr(0, id.find('\n')) +
               " key --delay 120 " + names);
  }

  // The next focus event of a screen reader after `from`, waited for. The
  // web view's own widget, which takes the focus with the window, is not
  // a stop of the page.
  std::optional<Heard> focusAfter(std::size_t& from, int timeoutMs = 2000) {
    std::optional<Heard> got;
    PumpUntil(
        [&] {
          for (; from < Log().size() && !got; ++from)
            if (Log()[from].type.starts_with("object:state-changed:focused") &&
                Log()[from].role != ATSPI_ROLE_FILLER)
              got = Log()[from];
          return got.has_value();
        },
        timeoutMs);
    return got;
  }

  // Tab (or the keys given) until an object that matches has the focus;
  // false when a few presses found none.
  bool tabTo(const std::function<bool(const Heard&)>& matches,
             const std::string& key = "Tab") {
    std::size_t at = Log().size();
    for (int presses = 0; presses < 8; ++presses) {
      keys(key);
      for (std::optional<Heard> h; (h = focusAfter(at, 1000));)
        if (matches(*h)) return true;
    }
    return false;
  }

  // Whether something containing words was said from a live region within
  // 2 s of `from`.
  bool said(std::size_t from, const std::string& words) {
    return PumpUntil(
        [&] {
          for (std::size_t i = from; i < Log().size(); ++i)
            if (!Log()[i].live.empty() &&
                Log()[i].text.find(words) != std::string::npos)
              return true;
          return false;
        },
        2000);
  }

  // One command on the test channel and its answer of kind, or "".
  std::string ask(const std::vector<std::string>& command,
                  const std::string& kind, int timeoutMs = 30000) {
    if (channel_ < 0) {
      pollfd waiting{listener_, POLLIN, 0};
      if (::poll(&waiting, 1, timeoutMs) <= 0) return "";
      channel_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    }
    const std::string line = zept::EncodeTestLine(command);
    ::send(channel_, line.data(), line.size(), MSG_NOSIGNAL);
    std::string buffer;
    const auto until =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < until) {
      pollfd readable{channel_, POLLIN, 0};
      if (::poll(&readable, 1, 200) <= 0) continue;
      char chunk[65536];
      const ssize_t n = ::read(channel_, chunk, sizeof chunk);
      if (n <= 0) return "";
      buffer.append(chunk, static_cast<std::size_t>(n));
      for (std::size_t end; (end = buffer.find('\n')) != std::string::npos;) {
        const std::vector<std::string> fields =
            zept::DecodeTestLine(buffer.substr(0, end));
        buffer.erase(0, end + 1);
        if (fields[0] == kind && fields.size() >= 2) return fields[1];
      }
    }
    return "";
  }

  // axe-core's serious and critical findings over the screens as they are
  // now: "[]" when there are none.
  std::string audit() {
    const fs::path axe = fs::path(ZEPT_AXE_DIR) / "axe.min.js";
    if (!fs::exists(axe))
      return "axe-core is missing: scripts/bootstrap installs it";
    return ask({"audit", axe.string()}, "audit");
  }

  std::string output() { return Slurp(root / "zept.out"); }
  pid_t running() const { return running_; }

 private:
  pid_t running_ = -1;
  int listener_ = -1, channel_ = -1;
  AtspiAccessible* app_ = nullptr;
};

#define EXPECT_CLEAN_AUDIT()                       \
  do {                                             \
    const std::string found = audit();             \
    EXPECT_TRUE(found.starts_with("[]")) << found; \
  } while (false)

}  // namespace

namespace {

// SCORM 1.2: a part with two lessons, the second held back by the first,
// then a summary.
std::string Manifest12(const std::string& sco) {
  return R"(<?xml version="1.0"?>
<manifest identifier="A11Y" version="1.0"
 xmlns="http://www.imsproject.org/xsd/imscp_rootv1p1p2"
 xmlns:adlcp="http://www.adlnet.org/xsd/adlcp_rootv1p2">
<metadata><schema>ADL SCORM</schema><schemaversion>1.2</schemaversion></metadata>
<organizations default="ORG"><organization identifier="ORG"><title>Course twelve</title>
<item identifier="G"><title>Part one</title>
<item identifier="A" identifierref="R"><title>Lesson A</title></item>
<item identifier="B" identifierref="R"><title>Lesson B</title>
<adlcp:prerequisites type="aicc_script">A</adlcp:prerequisites></item></item>
<item identifier="C" identifierref="R"><title>Summary</title></item>
</organization></organizations><resources>
<resource identifier="R" type="webcontent" adlcp:scormtype="sco" href=")" +
         sco + R"("><file href=")" + sco +
         R"("/></resource></resources></manifest>)";
}

// SCORM 2004: the same shape, the second lesson disabled by a rule.
constexpr char kManifest2004[] = R"(<?xml version="1.0"?>
<manifest identifier="A11Y" version="1"
 xmlns="http://www.imsglobal.org/xsd/imscp_v1p1"
 xmlns:adlcp="http://www.adlnet.org/xsd/adlcp_v1p3"
 xmlns:imsss="http://www.imsglobal.org/xsd/imsss">
<metadata><schema>ADL SCORM</schema><schemaversion>2004 4th Edition</schemaversion></metadata>
<organizations default="ORG"><organization identifier="ORG"><title>Course 2004</title>
<item identifier="G"><title>Part one</title>
<item identifier="A" identifierref="R"><title>Lesson A</title></item>
<item identifier="B" identifierref="R"><title>Lesson B</title>
<imsss:sequencing><imsss:sequencingRules><imsss:preConditionRule><imsss:ruleConditions>
<imsss:ruleCondition condition="always"/></imsss:ruleConditions>
<imsss:ruleAction action="disabled"/></imsss:preConditionRule></imsss:sequencingRules></imsss:sequencing></item>
<imsss:sequencing><imsss:controlMode choice="true" flow="true"/></imsss:sequencing></item>
<item identifier="C" identifierref="R"><title>Summary</title></item>
<imsss:sequencing><imsss:controlMode choice="true" flow="true"/></imsss:sequencing>
</organization></organizations><resources>
<resource identifier="R" type="webcontent" adlcp:scormType="sco" href="sco.html"><file href="sco.html"/></resource>
</resources></manifest>)";

// cmi5: a block of one AU, then an AU of the course's own.
constexpr char kCourse[] = R"(<?xml version="1.0"?>
<courseStructure xmlns="https://w3id.org/xapi/profiles/cmi5/v1/CourseStructure.xsd">
<course id="https://example.org/a11y"><title><langstring lang="en-US">Course five</langstring></title>
<description><langstring lang="en-US">d</langstring></description></course>
<block id="https://example.org/a11y/b"><title><langstring lang="en-US">Part one</langstring></title>
<description><langstring lang="en-US">d</langstring></description>
<au id="https://example.org/a11y/a"><title><langstring lang="en-US">Lesson A</langstring></title>
<description><langstring lang="en-US">d</langstring></description><url>sco.html</url></au></block>
<au id="https://example.org/a11y/c"><title><langstring lang="en-US">Summary</langstring></title>
<description><langstring lang="en-US">d</langstring></description><url>sco.html</url></au>
</courseStructure>)";

constexpr char kQuietSco[] =
    "<!DOCTYPE html><html lang=\"en\"><head><meta "
    "charset=\"utf-8\"><title>Lesson</title></head>"
    "<body><p>Lesson</p></body></html>";

// A row of the menu as a screen reader meets it: the start of its name,
// its level, whether it opens and closes rows under it, its description.
struct Row {
  std::string name;
  int level;
  bool expandable;
  std::string description;
};

struct MenuCase {
  const char* kind;
  std::map<std::string, std::string> files;
  std::vector<Row> rows;
  std::string current;  // the start of the current row's name
};

const std::vector<MenuCase>& MenuCases() {
  static const std::vector<MenuCase> cases = {
      {"SCORM 1.2",
       {{"imsmanifest.xml", Manifest12("sco.html")}, {"sco.html", kQuietSco}},
       {{"Part one", 1, true, ""},
        {"Lesson A, Not attempted", 2, false, ""},
        {"Lesson B, Not attempted", 2, false, "First complete: Lesson A"},
        {"Summary, Not attempted", 1, false, ""}},
       "Lesson A"},
      {"SCORM 2004",
       {{"imsmanifest.xml", kManifest2004}, {"sco.html", kQuietSco}},
       {{"Course 2004", 1, true, ""},
        {"Part one", 2, true, ""},
        {"Lesson A, Not attempted", 3, false, ""},
        {"Lesson B, Not attempted", 3, false, "?"},
        {"Summary, Not attempted", 2, false, ""}},
       ""},
      {"cmi5",
       {{"cmi5.xml", kCourse}, {"sco.html", kQuietSco}},
       {{"Course five", 1, true, ""},
        {"Part one", 2, true, ""},
        {"Lesson A, Not attempted", 3, false, ""},
        {"Summary, Not attempted", 2, false, ""}},
       "Lesson A"},
  };
  return cases;
}

bool IsRow(AtspiAccessible* a) {
  const AtspiRole role = Role(a);
  return role == ATSPI_ROLE_TABLE_ROW || role == ATSPI_ROLE_TREE_ITEM;
}

}  // namespace

// Each kind's menu is a tree a screen reader reads row by row: the title,
// status and score as each row's name, why it is held back as its
// description, its level, whether it is open, the current item; one tab
// stop, and the arrows walk every row, the parts too.
TEST_F(ScreensTest, TheMenuIsATreeReadRowByRow) {
  for (const MenuCase& c : MenuCases()) {
    SCOPED_TRACE(c.kind);
    start("--learner ann " + writePackage(c.kind, c.files).string());
    AtspiAccessible* tree = find([](AtspiAccessible* a) {
      return Role(a) == ATSPI_ROLE_TREE_TABLE && Name(a) == "Course items";
    });
    ASSERT_TRUE(tree) << output();
    g_object_unref(tree);
    std::vector<AtspiAccessible*> rows;
    for (AtspiAccessible* a : everything()) {
      if (IsRow(a) && !Attribute(a, "level").empty())
        rows.push_back(a);
      else
        g_object_unref(a);
    }
    ASSERT_EQ(rows.size(), c.rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
      const Row& want = c.rows[i];
      EXPECT_TRUE(Name(rows[i]).starts_with(want.name)) << Name(rows[i]);
      EXPECT_EQ(Attribute(rows[i], "level"), std::to_string(want.level))
          << want.name;
      EXPECT_EQ(Has(rows[i], ATSPI_STATE_EXPANDED), want.expandable)
          << want.name;
      if (want.description == "?")
        EXPECT_FALSE(Description(rows[i]).empty()) << want.name;
      else
        EXPECT_EQ(Description(rows[i]), want.description) << want.name;
      EXPECT_EQ(!Attribute(rows[i], "current").empty() &&
                    Attribute(rows[i], "current") != "false",
                !c.current.empty() && Name(rows[i]).starts_with(c.current))
          << Name(rows[i]);
      g_object_unref(rows[i]);
    }

    // From the menu's first button, Tab reaches the tree in named stops.
    std::size_t at = Log().size();
    std::optional<Heard> stop;
    for (int tabs = 0; tabs < 6; ++tabs) {
      keys("Tab");
      stop = focusAfter(at);
      ASSERT_TRUE(stop) << "Tab " << tabs
                        << " moved no focus a screen reader sees";
      EXPECT_FALSE(stop->name.empty())
          << "an unnamed tab stop: role " << Role(stop->role);
      if (!stop->level.empty()) break;
    }
    ASSERT_TRUE(stop && !stop->level.empty());
    // Home, then the arrows through every row, parts and all; the tree is
    // one tab stop.
    keys("Home");
    std::vector<std::string> walked;
    if (std::optional<Heard> first = focusAfter(at))
      walked.push_back(first->name);
    for (std::size_t i = 1; i < c.rows.size(); ++i) {
      keys("Down");
      std::optional<Heard> next = focusAfter(at);
      ASSERT_TRUE(next) << "Down stopped after " << walked.back();
      walked.push_back(next->name);
      EXPECT_EQ(next->level, std::to_string(c.rows[i].level));
    }
    ASSERT_EQ(walked.size(), c.rows.size());
    for (std::size_t i = 0; i < walked.size(); ++i)
      EXPECT_TRUE(walked[i].starts_with(c.rows[i].name)) << walked[i];
    keys("shift+Tab");
    std::optional<Heard> after = focusAfter(at);
    EXPECT_TRUE(after && after->name == "Exit")
        << "Shift+Tab stayed in the tree: " << (after ? after->name : "");
    EXPECT_CLEAN_AUDIT();
  }
}

// What the screens say comes to a screen reader as it is said: a held
// back item's reason, an item finished; focus comes back to the screens
// after the Save As dialog.
TEST_F(ScreensTest, MessagesAreSpokenAndFocusComesBack) {
  const std::string finishing =
      "<!DOCTYPE html><html lang=\"en\"><head><meta charset=\"utf-8\">"
      "<title>Lesson</title><script>var w = window;"
      "while (!w.API && w.parent !== w) w = w.parent; var A = w.API;"
      "A.LMSInitialize(''); setTimeout(function () { A.LMSFinish(''); }, "
      "1500);</script></head><body><p>Lesson</p></body></html>";
  const fs::path package = writePackage(
      "said",
      {{"imsmanifest.xml", Manifest12("sco.html")}, {"sco.html", finishing}});
  start("--learner ann " + package.string());
  AtspiAccessible* held = find([](AtspiAccessible* a) {
    return IsRow(a) && Name(a).starts_with("Lesson B");
  });
  ASSERT_TRUE(held) << output();
  g_object_unref(held);
  // Tab to the tree, down to Lesson B, Enter: its reason is said.
  const auto row = [](const Heard& h) { return !h.level.empty(); };
  ASSERT_TRUE(tabTo(row));
  std::size_t at = Log().size();
  keys("Home Down Down Return");
  EXPECT_TRUE(said(at, "First complete: Lesson A"));
  // Said again when asked again.
  at = Log().size();
  keys("Return");
  EXPECT_TRUE(said(at, "First complete: Lesson A"));

  // The Save As dialog of the results, cancelled: the focus is on the
  // screens again, on something named.
  ASSERT_TRUE(tabTo([](const Heard& h) { return h.name == "Results as PDF"; },
                    "shift+Tab"));
  keys("Return");
  ASSERT_TRUE(PumpUntil(
      [] {
        return !RunCommand("xdotool search --onlyvisible --name '^Save As$'")
                    .empty();
      },
      20000));
  at = Log().size();
  RunCommand(
      "xdotool search --onlyvisible --name '^Save As$' | head -n 1 | "
      "xargs -I{} xdotool windowfocus --sync {} key Escape");
  std::optional<Heard> back;
  PumpUntil(
      [&] {
        for (std::optional<Heard> h; (h = focusAfter(at, 200));)
          if (h->name == "Results as PDF") back = h;
        return back.has_value();
      },
      5000);
  EXPECT_TRUE(back) << "the focus did not come back to the screens";

  // An item played and finished: both said.
  ASSERT_TRUE(tabTo(row));
  at = Log().size();
  keys("Home Down Return");
  EXPECT_TRUE(said(at, "Now playing: Lesson A"));
  at = Log().size();
  PumpUntil(
      [&] {
        for (std::size_t i = at; i < Log().size(); ++i)
          if (!Log()[i].live.empty() &&
              Log()[i].text.find("finished") != std::string::npos)
            return true;
        return false;
      },
      10000);
  EXPECT_TRUE(said(at, "finished")) << output();
}

// The learners are one list and one tab stop: the arrows choose in it, Tab
// leaves it for the new learner's name.
TEST_F(ScreensTest, TheLearnersAreOneListAndOneTabStop) {
  const fs::path package = writePackage(
      "learners",
      {{"imsmanifest.xml", Manifest12("sco.html")}, {"sco.html", kQuietSco}});
  for (const char* learner : {"Anna", "Ben"}) {
    start(std::string("--learner ") + learner + " " + package.string());
    AtspiAccessible* tree = findNamed(ATSPI_ROLE_TREE_TABLE, "Course items");
    ASSERT_TRUE(tree) << output();
    g_object_unref(tree);
  }
  start(package.string());
  AtspiAccessible* list = findNamed(ATSPI_ROLE_LIST_BOX, "Learners");
  ASSERT_TRUE(list) << output();
  g_object_unref(list);
  EXPECT_CLEAN_AUDIT();
  std::size_t at = Log().size();
  keys("Down");
  std::optional<Heard> ben = focusAfter(at);
  ASSERT_TRUE(ben);
  EXPECT_EQ(ben->name, "Ben");
  keys("Tab");
  std::optional<Heard> field = focusAfter(at);
  ASSERT_TRUE(field);
  EXPECT_EQ(field->name, "New learner");
  keys("shift+Tab");
  std::optional<Heard> back = focusAfter(at);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->name, "Ben") << "each learner is a tab stop of its own";
}

// Where the learner is, in the player: the item's title as a heading, the
// content's frame named by it, the learner named; at twice the text size
// every control stays in the window. A page's question names its field.
struct PlayerCase {
  const char* kind;
  std::map<std::string, std::string> files;
  std::string item, environment;
};

TEST_F(ScreensTest, ThePlayerSaysWhereTheLearnerIs) {
  const std::string asking =
      "<!DOCTYPE html><html lang=\"en\"><head><meta charset=\"utf-8\">"
      "<title>Lesson</title></head><body><p>Lesson</p><script>"
      "setTimeout(function () { prompt('Your answer?', ''); }, 500);"
      "</script></body></html>";
  const std::vector<PlayerCase> cases = {
      {"SCORM 1.2",
       {{"imsmanifest.xml", Manifest12("sco.html")}, {"sco.html", kQuietSco}},
       "A",
       ""},
      {"SCORM 2004 at 200%",
       {{"imsmanifest.xml", kManifest2004}, {"sco.html", kQuietSco}},
       "A",
       "GDK_DPI_SCALE=2 "},
      {"a question",
       {{"imsmanifest.xml", Manifest12("sco.html")}, {"sco.html", asking}},
       "A",
       ""},
  };
  for (const PlayerCase& c : cases) {
    SCOPED_TRACE(c.kind);
    start("--learner ann --item " + c.item + " " +
              writePackage(c.kind, c.files).string(),
          c.environment);
    AtspiAccessible* heading = find([](AtspiAccessible* a) {
      return Role(a) == ATSPI_ROLE_HEADING &&
             Name(a).find("Lesson A") != std::string::npos;
    });
    ASSERT_TRUE(heading) << output();
    g_object_unref(heading);
    AtspiAccessible* frame = find([](AtspiAccessible* a) {
      return (Role(a) == ATSPI_ROLE_INTERNAL_FRAME ||
              Role(a) == ATSPI_ROLE_PANEL) &&
             Name(a) == "Lesson A";
    });
    EXPECT_TRUE(frame) << "the content's frame is not named by its item";
    if (frame) g_object_unref(frame);
    AtspiAccessible* learner = find(
        [](AtspiAccessible* a) { return TextOf(a) == "Learner: ann"; }, 3000);
    EXPECT_TRUE(learner) << "the learner's name is not in the tree";
    if (learner) g_object_unref(learner);
    if (c.kind == std::string("a question")) {
      AtspiAccessible* field = find([](AtspiAccessible* a) {
        return (Role(a) == ATSPI_ROLE_ENTRY || Role(a) == ATSPI_ROLE_TEXT) &&
               Name(a) == "Your answer?";
      });
      EXPECT_TRUE(field) << "the question's field has no name";
      if (field) g_object_unref(field);
      continue;
    }
    // Every control lies inside the window.
    AtspiAccessible* window =
        find([](AtspiAccessible* a) { return Role(a) == ATSPI_ROLE_FRAME; });
    ASSERT_TRUE(window);
    const AtspiRect inside = Extents(window);
    g_object_unref(window);
    int buttons = 0;
    for (AtspiAccessible* a : everything()) {
      if (Role(a) == ATSPI_ROLE_PUSH_BUTTON && Has(a, ATSPI_STATE_SHOWING) &&
          !Name(a).empty()) {
        const AtspiRect r = Extents(a);
        ++buttons;
        EXPECT_TRUE(r.x >= inside.x && r.y >= inside.y &&
                    r.x + r.width <= inside.x + inside.width &&
                    r.y + r.height <= inside.y + inside.height)
            << Name(a) << " at " << r.x << "," << r.y << " " << r.width << "x"
            << r.height << " outside " << inside.x << "," << inside.y << " "
            << inside.width << "x" << inside.height;
      }
      g_object_unref(a);
    }
    EXPECT_GE(buttons, 3);
    // Round the tab stops to Exit: each one named.
    std::vector<std::string> stops;
    EXPECT_TRUE(tabTo([&](const Heard& h) {
      stops.push_back(Role(h.role) + " " + h.name);
      EXPECT_FALSE(h.name.empty()) << "an unnamed tab stop: " << Role(h.role);
      return h.name == "Exit";
    }));
    EXPECT_CLEAN_AUDIT();
  }
}

// The screens follow the desktop: mirrored under a right-to-left language,
// and in its high-contrast theme, light on dark or dark on light.
struct LookCase {
  const char* look;
  std::string environment;
  bool mirrored;
  int background;  // the grey of the screens' page, 0 to 255
};

TEST_F(ScreensTest, TheScreensFollowTheDesktopsLook) {
  const std::vector<LookCase> cases = {
      {"as it comes", "", false, 0xf6},
      {"Hebrew", "LANG=C.UTF-8 LANGUAGE=he ", true, 0xf6},
      {"high contrast", "GTK_THEME=HighContrast ", false, 0xff},
      {"high contrast inverse", "GTK_THEME=HighContrastInverse ", false, 0},
  };
  const fs::path package = writePackage(
      "look",
      {{"imsmanifest.xml", Manifest12("sco.html")}, {"sco.html", kQuietSco}});
  for (const LookCase& c : cases) {
    SCOPED_TRACE(c.look);
    start(package.string(), c.environment);
    AtspiAccessible* heading = findNamed(ATSPI_ROLE_PUSH_BUTTON, "Start");
    ASSERT_TRUE(heading) << output();
    AtspiAccessible* window =
        find([](AtspiAccessible* a) { return Role(a) == ATSPI_ROLE_FRAME; });
    ASSERT_TRUE(window);
    const AtspiRect page = Extents(window), words = Extents(heading);
    g_object_unref(heading);
    g_object_unref(window);
    // The new learner's row starts at the side the language reads from:
    // Start, at its end, lies past the middle only when mirrored.
    const int middle = page.x + page.width / 2;
    EXPECT_EQ(words.x + words.width / 2 > middle, c.mirrored)
        << words.x << " in " << page.x << "+" << page.width;
    // Once the page is drawn (the Start button stands out from what lies
    // around it), its background is the look's.
    const auto near = [](int a, int b) { return std::abs(a - b) <= 12; };
    GdkPixbuf* shot = ScreenshotWhen(
        (root / "look.png").string(),
        [&](GdkPixbuf* picture) {
          const Rgb under = PixelAt(picture, page.x + page.width / 2,
                                    page.y + page.height - 8);
          int marks = 0;
          for (int x = words.x; x < words.x + words.width; ++x)
            marks += !near(PixelAt(picture, x, words.y + words.height / 2).r,
                           under.r);
          return marks > 4 && near(under.r, c.background);
        },
        10000);
    ASSERT_TRUE(shot);
    const Rgb p =
        PixelAt(shot, page.x + page.width / 2, page.y + page.height - 8);
    g_object_unref(shot);
    EXPECT_TRUE(near(p.r, c.background) && near(p.g, c.background))
        << p.r << " " << p.g << " " << p.b;
    EXPECT_CLEAN_AUDIT();
  }
}

// Ctrl with plus, minus and 0 zooms the screens.
TEST_F(ScreensTest, CtrlPlusZoomsTheScreens) {
  start("--learner ann " +
        writePackage("zoom", {{"imsmanifest.xml", Manifest12("sco.html")},
                              {"sco.html", kQuietSco}})
            .string());
  const auto height = [this] {
    AtspiAccessible* button = findNamed(ATSPI_ROLE_PUSH_BUTTON, "Continue");
    if (!button) return 0;
    const int h = Extents(button).height;
    g_object_unref(button);
    return h;
  };
  const int before = height();
  ASSERT_GT(before, 0) << output();
  keys("ctrl+plus ctrl+plus");
  EXPECT_TRUE(PumpUntil([&] { return height() >= before * 5 / 4; }, 5000));
  keys("ctrl+0");
  EXPECT_TRUE(PumpUntil([&] { return height() == before; }, 5000));
}

// A shell course's movie page: titled, and each movie a named region that
// takes its own keys.
TEST_F(ScreensTest, AMovieIsNamed) {
  const fs::path course = root / "course";
  fs::copy(ZEPT_DEMO_COURSE, course, fs::copy_options::recursive);
  start("--program-folder " + course.string(),
        "ZEPT_RUFFLE_DIR=" ZEPT_RUFFLE_DIR " ");
  AtspiAccessible* movie = find([](AtspiAccessible* a) {
    return Name(a) == "Course movie" && Has(a, ATSPI_STATE_SHOWING);
  });
  ASSERT_TRUE(movie) << output();
  g_object_unref(movie);
  AtspiAccessible* page = find(
      [](AtspiAccessible* a) { return Role(a) == ATSPI_ROLE_DOCUMENT_WEB; });
  ASSERT_TRUE(page);
  EXPECT_EQ(Name(page), "Course");
  g_object_unref(page);
}
