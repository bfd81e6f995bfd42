#include "democourse/demo_course.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>

namespace zept::democourse {

namespace fs = std::filesystem;

namespace {

// ---------------------------------------------------------------- reading

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

struct XmlDocFree {
  void operator()(xmlDoc* d) const { xmlFreeDoc(d); }
};
using XmlDoc = std::unique_ptr<xmlDoc, XmlDocFree>;

XmlDoc ParseXml(const fs::path& path) {
  const std::string text = Slurp(path);
  XmlDoc doc(xmlReadMemory(
      text.data(), static_cast<int>(text.size()), path.string().c_str(),
      nullptr, XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
  if (!doc || !xmlDocGetRootElement(doc.get()))
    throw std::runtime_error("cannot parse " + path.string());
  return doc;
}

// By local name: the manifest's metadata uses a prefix it never declares,
// which leaves the prefix in the element's name.
bool Named(const xmlNode* n, const char* name) {
  if (!n || n->type != XML_ELEMENT_NODE) return false;
  const char* full = reinterpret_cast<const char*>(n->name);
  const char* colon = std::strrchr(full, ':');
  return std::strcmp(colon ? colon + 1 : full, name) == 0;
}

const xmlNode* Child(const xmlNode* parent, const char* name) {
  for (const xmlNode* c = parent ? parent->children : nullptr; c; c = c->next)
    if (Named(c, name)) return c;
  return nullptr;
}

const xmlNode* Descendant(const xmlNode* parent, const char* name) {
  for (const xmlNode* c = parent ? parent->children : nullptr; c; c = c->next) {
    if (Named(c, name)) return c;
    if (const xmlNode* d = Descendant(c, name)) return d;
  }
  return nullptr;
}

std::string Text(const xmlNode* n) {
  if (!n) return {};
  xmlChar* content = xmlNodeGetContent(n);
  std::string out = content ? reinterpret_cast<const char*>(content) : "";
  xmlFree(content);
  const auto first = out.find_first_not_of(" \t\r\n");
  const auto last = out.find_last_not_of(" \t\r\n");
  return first == std::string::npos ? "" : out.substr(first, last - first + 1);
}

std::string Attribute(const xmlNode* n, const char* name) {
  xmlChar* value = xmlGetProp(n, reinterpret_cast<const xmlChar*>(name));
  std::string out = value ? reinterpret_cast<const char*>(value) : "";
  xmlFree(value);
  return out;
}

Rgb ParseColour(const std::string& text, Rgb fallback) {
  if (text.size() != 7 || text[0] != '#') return fallback;
  try {
    const unsigned long v = std::stoul(text.substr(1), nullptr, 16);
    return {static_cast<std::uint8_t>(v >> 16),
            static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
  } catch (const std::logic_error&) {
    return fallback;
  }
}

int ParseInt(const std::string& text, int fallback) {
  try {
    std::size_t used = 0;
    const int v = std::stoi(text, &used);
    return used == text.size() ? v : fallback;
  } catch (const std::logic_error&) {
    return fallback;
  }
}

// The look a SCO's course.xml names, as _shared/<look>/look.xml gives it.
void ReadLook(const fs::path& course, int number, UnitInfo& unit) {
  char folder[16];
  std::snprintf(folder, sizeof folder, "SCO_%04d", number);
  const fs::path descriptor = course / folder / "_course" / "course.xml";
  if (!fs::exists(descriptor)) return;
  const XmlDoc doc = ParseXml(descriptor);
  const std::string look =
      Text(Descendant(xmlDocGetRootElement(doc.get()), "look"));
  const fs::path lookFile = course / "_shared" / look / "look.xml";
  if (look.empty() || !fs::exists(lookFile)) return;
  const XmlDoc lookDoc = ParseXml(lookFile);
  const xmlNode* root = xmlDocGetRootElement(lookDoc.get());
  unit.width = ParseInt(Attribute(root, "width"), unit.width);
  unit.height = ParseInt(Attribute(root, "height"), unit.height);
  unit.background = ParseColour(Attribute(root, "bgcolor"), unit.background);
}

// ---------------------------------------------------------------- looks

const Rgb kNavy{0x1E, 0x3A, 0x5F};
const Rgb kInk{0x22, 0x2A, 0x33};
const Rgb kMuted{0x55, 0x60, 0x6C};
const Rgb kWhite{0xFF, 0xFF, 0xFF};
const Rgb kPanelLine{0xC9, 0xD3, 0xDE};
const Rgb kWarning{0xB4, 0x23, 0x18};

const ButtonStyle kPrimary{
    {0x2F, 0x6F, 0xB0}, {0x3F, 0x86, 0xCC}, kWhite, {0x24, 0x57, 0x8C}, 17};
const ButtonStyle kSecondary{
    {0xE4, 0xE9, 0xEF}, {0xD0, 0xDA, 0xE6}, kNavy, {0xB8, 0xC4, 0xD2}, 17};
const ChoiceStyle kChoice{kSecondary,
                          {0xE3, 0xF4, 0xE6},
                          {0x2E, 0x7D, 0x32},
                          {0xFB, 0xE9, 0xE7},
                          kWarning};
const InputStyle kInput{kWhite,
                        {0xB8, 0xC4, 0xD2},
                        {0x11, 0x11, 0x11},
                        {0x2F, 0x6F, 0xB0},
                        {0xD6, 0xE6, 0xF7}};

TextStyle Heading(int size = 26) { return {size, kNavy, true, 0, false}; }
TextStyle Body(int size = 19) { return {size, kInk, false, 0, true}; }
TextStyle Muted(int size = 17) { return {size, kMuted, false, 0, false}; }
TextStyle Warning() { return {17, kWarning, false, 0, true}; }

// "Unit 2: Raising the alarm" and "Raising the alarm" both give the title
// without its unit number.
std::string BareTitle(const std::string& title, int number) {
  const std::string prefix = "Unit " + std::to_string(number) + ": ";
  return title.rfind(prefix, 0) == 0 ? title.substr(prefix.size()) : title;
}

std::string AsArray(const std::vector<std::string>& items) {
  std::string out = "[";
  for (const std::string& item : items)
    out += (out.size() > 1 ? ", " : "") + item;
  return out + "]";
}

}  // namespace

CourseInfo ReadCourse(const fs::path& folder) {
  CourseInfo course;
  const XmlDoc manifest = ParseXml(folder / "imsmanifest.xml");
  const xmlNode* organization =
      Descendant(xmlDocGetRootElement(manifest.get()), "organization");
  if (!organization)
    throw std::runtime_error("no organization in the manifest of " +
                             folder.string());
  course.title = Text(Child(organization, "title"));
  course.description = Text(
      Descendant(Descendant(Child(organization, "metadata"), "description"),
                 "langstring"));
  int number = 0;
  for (const xmlNode* item = organization->children; item; item = item->next) {
    if (!Named(item, "item")) continue;
    UnitInfo unit;
    unit.title = Text(Child(item, "title"));
    unit.masteryScore =
        ParseInt(Text(Child(item, "masteryscore")), unit.masteryScore);
    ReadLook(folder, ++number, unit);
    course.units.push_back(unit);
  }

  // WindowSize=(1024,768)
  std::istringstream launch(Slurp(folder / "cdrom" / "launch.ini"));
  for (std::string line; std::getline(launch, line);) {
    if (line.rfind("WindowSize=(", 0) != 0) continue;
    const auto comma = line.find(',');
    const auto close = line.find(')');
    if (comma == std::string::npos || close == std::string::npos) continue;
    course.width = ParseInt(line.substr(12, comma - 12), course.width);
    course.height =
        ParseInt(line.substr(comma + 1, close - comma - 1), course.height);
  }
  return course;
}

Scripts ReadScripts(const fs::path& folder) {
  return {Slurp(folder / "ui.as"), Slurp(folder / "menu.as"),
          Slurp(folder / "unit.as")};
}

std::string BuildMenuMovie(const CourseInfo& course, const Scripts& scripts) {
  const int w = course.width, h = course.height;
  MovieBuilder m(w, h, {0xEE, 0xF2, 0xF6});

  // Behind every screen: the course's name and who is learning.
  m.panel(nullptr, {0, 0, w, 100}, kNavy);
  m.label(nullptr, {40, 18, w - 380, 44}, course.title,
          {30, kWhite, true, 0, false});
  m.label(nullptr, {40, 62, w - 380, 28}, course.description,
          {17, {0xC8, 0xD6, 0xE5}, false, 0, false});
  m.label(nullptr, {w - 320, 36, 280, 30}, "", {18, kWhite, false, 1, false},
          "learner");

  Screen& loading = m.screen("loadingScreen");
  m.label(&loading, {0, h / 2 - 20, w, 40}, "", {22, kNavy, false, 2, false},
          "message");

  // Pick a name on the left, or add one on the right.
  const int slots = 6;
  const int pw = (w - 120) / 2, top = 130, ph = h - 170;
  const int left = 70, right = 80 + pw + 30, inner = pw - 60;
  Screen& users = m.screen("usersScreen");
  m.panel(&users, {40, top, pw, ph}, kWhite, kPanelLine);
  m.panel(&users, {80 + pw, top, pw, ph}, kWhite, kPanelLine);
  m.label(&users, {left, 150, inner, 40}, "Who is learning?", Heading());
  m.label(&users, {left, 196, inner, 28}, "Pick your name:", Muted());
  m.label(&users, {left, 240, inner, 60},
          "No learners yet. Add yourself on the right.", Body(18), "noUsers");
  for (int i = 0; i < slots; ++i) {
    m.button(&users, "user" + std::to_string(i),
             {left, 240 + i * 62, inner, 50}, "",
             "pickUser(" + std::to_string(i) + ");", kSecondary);
  }
  m.button(&users, "moreUsers", {left, 240 + slots * 62, inner, 44},
           "More names", "nextUserPage();", kSecondary);
  m.label(&users, {right, 150, inner, 40}, "New learner", Heading());
  m.label(&users, {right, 210, inner, 28}, "Your name", Muted());
  m.input(&users, "newName", {right, 240, inner, 40}, false, kInput);
  m.label(&users, {right, 296, inner, 28}, "Choose a password", Muted());
  m.input(&users, "newPassword", {right, 326, inner, 40}, true, kInput);
  m.button(&users, "create", {right, 392, inner, 50}, "Create and start",
           "createLearner();", kPrimary);
  m.label(&users, {right, 456, inner, 90}, "", Warning(), "newMessage");

  Screen& password = m.screen("passwordScreen");
  const int px = w / 2 - 260;
  m.panel(&password, {px, 170, 520, 380}, kWhite, kPanelLine);
  m.label(&password, {px + 30, 200, 460, 40}, "", Heading(), "greeting");
  m.label(&password, {px + 30, 256, 460, 28}, "Type your password:", Muted());
  m.input(&password, "password", {px + 30, 290, 460, 40}, true, kInput);
  m.button(&password, "logIn", {px + 30, 346, 460, 50}, "Log in",
           "checkPassword();", kPrimary);
  m.button(&password, "back", {px + 30, 410, 460, 44}, "Back to the names",
           "showScreen(usersScreen);", kSecondary);
  m.label(&password, {px + 30, 466, 460, 60}, "", Warning(), "message");

  // The units with their status and score, and what else the menu does.
  Screen& units = m.screen("unitsScreen");
  const int statusX = w - 420, scoreX = w - 210;
  m.panel(&units, {40, top, w - 80, h - 250}, kWhite, kPanelLine);
  m.label(&units, {left, 150, 400, 40}, "Your units", Heading());
  const TextStyle column{16, kMuted, true, 0, false};
  m.label(&units, {left, 200, 200, 26}, "Unit", column);
  m.label(&units, {statusX, 200, 180, 26}, "Status", column);
  m.label(&units, {scoreX, 200, 140, 26}, "Score", column);
  std::vector<std::string> titles;
  for (std::size_t i = 0; i < course.units.size(); ++i) {
    const int n = static_cast<int>(i) + 1;
    const std::string title = BareTitle(course.units[i].title, n);
    titles.push_back(AsString(title));
    const int y = 236 + static_cast<int>(i) * 76;
    m.button(&units, "unit" + std::to_string(n), {left, y, statusX - 100, 56},
             std::to_string(n) + ". " + title,
             "openUnit(" + std::to_string(n) + ");", kSecondary);
    const TextStyle cell{19, kInk, false, 0, false};
    m.label(&units, {statusX, y + 14, 200, 30}, "", cell,
            "status" + std::to_string(n));
    m.label(&units, {scoreX, y + 14, 140, 30}, "", cell,
            "score" + std::to_string(n));
  }
  m.label(&units,
          {left, 236 + static_cast<int>(course.units.size()) * 76, 600, 28},
          "Pick a unit to open it.", Muted());
  const int by = h - 100, bw = (w - 80 - 3 * 20) / 4;
  m.button(&units, "results", {40, by, bw, 52}, "Results as PDF",
           "saveResults();", kPrimary);
  m.button(&units, "guide", {40 + (bw + 20), by, bw, 52}, "Open the guide",
           "openGuide();", kSecondary);
  m.button(&units, "changeLearner", {40 + 2 * (bw + 20), by, bw, 52},
           "Change learner", "changeLearner();", kSecondary);
  m.button(&units, "quit", {40 + 3 * (bw + 20), by, bw, 52}, "Quit", "quit();",
           kSecondary);

  m.script("ui.as", scripts.ui);
  m.script("the course", "var courseTitle = " + AsString(course.title) + ";\n" +
                             "var unitTitles = " + AsArray(titles) + ";\n" +
                             "var userSlots = " + std::to_string(slots) +
                             ";\n" + "var guidePath = \"docs/guide.html\";\n");
  m.script("menu.as", scripts.menu);
  return m.bytes();
}

std::string BuildUnitMovie(const CourseInfo& course, int number,
                           const UnitContent& content, const Scripts& scripts) {
  const UnitInfo& unit = course.units.at(number - 1);
  const int w = unit.width, h = unit.height;
  MovieBuilder m(w, h, unit.background);

  // The frame around the pages, with the navigation.
  m.label(
      nullptr, {24, 14, w - 200, 36},
      "Unit " + std::to_string(number) + ": " + BareTitle(unit.title, number),
      {24, kWhite, true, 0, false});
  m.label(nullptr, {w - 164, 20, 140, 28},
          "Unit " + std::to_string(number) + " of " +
              std::to_string(course.units.size()),
          {16, {0xC8, 0xD6, 0xE5}, false, 1, false});
  m.panel(nullptr, {20, 64, w - 40, h - 144}, kWhite, kPanelLine);
  const int fy = h - 64;
  m.button(nullptr, "homeButton", {20, fy, 100, 44}, "Home", "goHome();",
           kSecondary);
  m.button(nullptr, "saveButton", {130, fy, 240, 44}, "Save this screen as PDF",
           "savePage();", kSecondary);
  m.label(nullptr, {380, fy + 10, w - 690, 28}, "",
          {16, kWhite, false, 2, false}, "pageNumber");
  m.button(nullptr, "previousButton", {w - 300, fy, 130, 44}, "< Previous",
           "goPage(page - 1);", kSecondary);
  m.button(nullptr, "nextButton", {w - 150, fy, 130, 44}, "Next >",
           "goPage(page + 1);", kPrimary);
  m.button(nullptr, "nextUnitButton", {w - 150, fy, 130, 44}, "Next unit >",
           "goNextUnit();", kPrimary);

  std::vector<std::string> pages;
  const auto newPage = [&]() -> Screen& {
    pages.push_back("page" + std::to_string(pages.size() + 1));
    return m.screen(pages.back());
  };
  const int tw = w - 100;
  for (const Page& p : content.pages) {
    Screen& s = newPage();
    m.label(&s, {50, 84, tw, 40}, p.heading, Heading());
    m.label(&s, {50, 136, tw, p.boxes.empty() ? h - 230 : h - 330}, p.text,
            Body());
    const int n = static_cast<int>(p.boxes.size());
    static const Rgb kBoxes[] = {
        {0xFD, 0xE7, 0xD9}, {0xE4, 0xF1, 0xE4}, {0xDD, 0xEB, 0xF7}};
    for (int i = 0; i < n; ++i) {
      const int bw = (tw - (n - 1) * 20) / n;
      const Rect box{50 + i * (bw + 20), h - 190, bw, 70};
      m.panel(&s, box, kBoxes[i % 3], kPanelLine);
      m.label(&s, {box.x, box.y + 20, box.width, 34}, p.boxes[i],
              {22, kNavy, true, 2, false});
    }
  }
  std::string questions;
  for (std::size_t q = 0; q < content.quiz.size(); ++q) {
    const Question& question = content.quiz[q];
    Screen& s = newPage();
    m.label(&s, {50, 84, tw, 26},
            "Question " + std::to_string(q + 1) + " of " +
                std::to_string(content.quiz.size()),
            Muted(16));
    m.label(&s, {50, 112, tw, 64}, question.text, {22, kNavy, true, 0, true});
    std::vector<std::string> letters;
    for (std::size_t a = 0; a < question.answers.size(); ++a) {
      const std::string letter(1, static_cast<char>('a' + a));
      letters.push_back(AsString(letter));
      m.choice(&s, letter, {70, 190 + static_cast<int>(a) * 64, tw - 40, 52},
               letter + ")  " + question.answers[a],
               "answer(" + std::to_string(q) + ", \"" + letter + "\");",
               kChoice);
    }
    m.label(&s, {50, 390, tw, 90}, "", Body(18), "feedback");
    questions += std::string(questions.empty() ? "" : ",\n  ") +
                 "{page: " + std::to_string(pages.size()) +
                 ", screen: " + pages.back() +
                 ", choices: " + AsArray(letters) + ", correct: \"" +
                 std::string(1, question.correct) +
                 "\", why: " + AsString(question.why) + "}";
  }
  std::size_t resultPage = 0;
  if (!content.quiz.empty()) {
    Screen& s = newPage();
    resultPage = pages.size();
    m.label(&s, {50, 84, tw, 40}, "Your result", Heading());
    m.label(&s, {50, 150, tw, 50}, "", {30, kNavy, true, 0, false}, "score");
    m.label(&s, {50, 220, tw, 60}, "", Body(20), "verdict");
    // Shown under the verdict it answers, when the script offers it.
    m.button(&s, "retry", {50, 292, 280, 50}, "Try the questions again",
             "retryQuiz();", kPrimary);
    m.label(&s, {50, 372, tw, 60},
            "Home takes you back to the menu, where your score is shown.",
            {17, kMuted, false, 0, true});
  }

  m.script("ui.as", scripts.ui);
  m.script("the unit", "var pages = " + AsArray(pages) + ";\n" +
                           "var questions = [" + questions + "];\n" +
                           "var resultPage = " + std::to_string(resultPage) +
                           ";\n" + "var masteryScore = " +
                           std::to_string(unit.masteryScore) + ";\n");
  m.script("unit.as", scripts.unit);
  return m.bytes();
}

void WriteDemoCourse(const fs::path& source, const fs::path& scripts,
                     const fs::path& out) {
  const CourseInfo course = ReadCourse(source);
  const Scripts code = ReadScripts(scripts);
  fs::create_directories(out);
  fs::copy(source, out,
           fs::copy_options::recursive | fs::copy_options::overwrite_existing);
  const auto write = [](const fs::path& path, const std::string& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << bytes;
    if (!file.flush())
      throw std::runtime_error("cannot write " + path.string());
  };
  write(out / "cdrom" / "cdrom.swf", BuildMenuMovie(course, code));
  for (std::size_t i = 0; i < course.units.size(); ++i) {
    const int n = static_cast<int>(i) + 1;
    char folder[16];
    std::snprintf(folder, sizeof folder, "SCO_%04d", n);
    fs::create_directories(out / folder);
    write(out / folder / "player.swf",
          BuildUnitMovie(course, n, DemoUnitContent(n), code));
  }
}

}  // namespace zept::democourse
