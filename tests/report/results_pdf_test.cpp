// Results PDFs of standard packages with learners and courses named in
// other scripts, read back with pdftotext: what a learner copies or a
// screen reader reads from the PDF is what was written.

#include "engine/results_pdf.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <clocale>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "engine/bidi.h"
#include "engine/pdf.h"
#include "moviehost/headless.h"
#include "report/ReportPrinter.h"
#include "scorm/results.h"
#include "util/fake_env.h"
#include "util/i18n.h"

namespace zept {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using testing::FakeEnv;

// A results report as the players write it: the course's title, the
// learner, and one row per item.
std::string Report(const std::string& course, const std::string& learner,
                   const std::string& item,
                   const std::string& cellWidth = "260") {
  return scorm::ReportHead(course, learner) + "<tr><td width=\"" + cellWidth +
         "\" border=\"1\"><s>ITEM</s></td><td border=\"1\"><s>STATUS</s></td>"
         "</tr>\n<tr><td width=\"" +
         cellWidth + "\" border=\"1\"><s>" + scorm::ReportText(item) +
         "</s></td><td border=\"1\"><s>Completed</s></td></tr>\n" +
         scorm::kReportTail;
}

struct ReadBack {
  std::vector<std::string> lines;  // without bidi marks, blank lines dropped
  std::string warnings;            // what pdftotext said on stderr
};

// pdftotext marks right-to-left lines with embedding controls (U+202A to
// U+202E); they are dropped, as is the blank at a line's end.
std::string WithoutBidiMarks(std::string line) {
  for (char c = '\xaa'; c <= '\xae'; ++c) {
    const std::string mark = std::string("\xe2\x80") + c;
    for (std::size_t at; (at = line.find(mark)) != std::string::npos;)
      line.erase(at, mark.size());
  }
  while (!line.empty() && (line.back() == ' ' || line.back() == '\f'))
    line.pop_back();
  return line;
}

class ResultsPdfTest : public ::testing::Test, protected FakeEnv {
 protected:
  // Each test's own folder: ctest runs tests side by side.
  fs::path dir_ = [] {
    std::string name =
        (fs::temp_directory_path() / "zept-results-pdf-XXXXXX").string();
    return fs::path(mkdtemp(name.data()) ? name : std::string());
  }();

  ResultsPdfTest() { fake.files.addDirectory(u"/out"); }
  ~ResultsPdfTest() override {
    if (!dir_.empty()) fs::remove_all(dir_);
  }

  // The PDF of a report, as the package window saves it.
  std::string write(const std::string& report,
                    std::vector<std::string>* notes = nullptr) {
    const std::vector<std::string> said =
        WriteResultsPdf(ctx, report, u"/out/results.pdf", 8.5, 11);
    if (notes) *notes = said;
    const auto* file = fake.files.file(u"/out/results.pdf");
    return file ? file->bytes : std::string();
  }

  // The PDF of a report printed by a system set up by the test, in memory.
  std::string print(PdfReportSystem& system, const std::string& report) {
    auto silent = [](const WideString&) {};
    platform::HeadlessWindow window(1280, 1024, silent);
    platform::ScriptedDialogs dialogs(silent);
    HeadlessHostFactory movies({ctx, silent, dialogs, window, u""});
    system.KeepInMemory = true;
    TReportPrinter printer({ctx, movies, u""});
    printer.SetXml(report);
    printer.SetReportSystem(&system);
    printer.SetMargins(0.5, 0.5, 0.5, 0.5);
    printer.Print();
    return system.document();
  }

  ReadBack pdftotext(const std::string& pdf) {
    const fs::path file = dir_ / "results.pdf", errors = dir_ / "stderr";
    std::ofstream(file, std::ios::binary) << pdf;
    ReadBack back;
    const std::string command = "pdftotext -enc UTF-8 '" + file.string() +
                                "' - 2>'" + errors.string() + "'";
    FILE* out = popen(command.c_str(), "r");
    if (!out) return back;
    std::string text;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, out)) > 0;)
      text.append(buffer, n);
    EXPECT_EQ(pclose(out), 0);
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
      line = WithoutBidiMarks(line);
      if (!line.empty()) back.lines.push_back(line);
    }
    std::ifstream said(errors);
    back.warnings.assign(std::istreambuf_iterator<char>(said), {});
    return back;
  }

  static bool Has(const ReadBack& back, const std::string& line) {
    return std::find(back.lines.begin(), back.lines.end(), line) !=
           back.lines.end();
  }
};

struct Script {
  const char* name;
  const char* course;
  const char* learner;
  const char* item;
};

// Arabic with the lam-alef ligature and letters in all four joined forms,
// Hebrew, Japanese (kanji, kana), Korean, Chinese, Hebrew and Arabic with
// vowel marks, Greek, and Latin letters both within WinAnsi and beyond it.
const Script kScripts[] = {
    {"Arabic", "دورة السلامة في العمل", "محمد علي", "الفصل الأول"},
    {"Hebrew", "קורס בטיחות בעבודה", "דוד כהן", "פרק ראשון"},
    {"Japanese", "安全講習コース", "山田 太郎", "第一章 はじめに"},
    {"Korean", "안전 교육 과정", "김민준", "제1장 소개"},
    {"Chinese", "安全培训课程", "李小龍", "第一章 简介"},
    // Vowel marks stay with their letters. (pdftotext moves a mark on the
    // last letter of a right-to-left run that follows left-to-right text,
    // as "Learner: " is, to the run's start; the page itself is right.)
    {"Marks", "שָׁלוֹם עֲלֵיכֶם", "عَلِيّ مُحَمَّد", "Item"},
    {"Greek", "Ασφάλεια στην εργασία", "Νίκος Παπαδόπουλος", "Κεφάλαιο πρώτο"},
    {"Latin", "Sécurité au travail – Łódź", "Łukasz Żółć, José Müller",
     "Nguyễn Văn Đức: Übung"},
};

TEST_F(ResultsPdfTest, EveryScriptReadsBackAsWritten) {
  for (const Script& s : kScripts) {
    SCOPED_TRACE(s.name);
    std::vector<std::string> notes;
    const ReadBack back =
        pdftotext(write(Report(s.course, s.learner, s.item), &notes));
    EXPECT_TRUE(Has(back, s.course));
    // pdftotext reads a line in the direction most of the page's letters
    // take: the label may come after a right-to-left name.
    EXPECT_TRUE(Has(back, std::string("Learner: ") + s.learner) ||
                Has(back, s.learner + std::string(" Learner:")));
    EXPECT_TRUE(Has(back, s.item));
    EXPECT_EQ(back.warnings, "");
    EXPECT_EQ(notes, std::vector<std::string>{});
    if (::testing::Test::HasFailure()) {
      for (const std::string& line : back.lines) ADD_FAILURE() << line;
      return;
    }
  }
}

// The fixed words of a results PDF come in the learner's language (a
// French or German locale need not be installed: LANGUAGE with C.UTF-8
// is enough for gettext); the C locale keeps them English.
TEST_F(ResultsPdfTest, FixedWordsAreInTheLearnersLanguage) {
  BindCatalogs("");
  const struct {
    const char* language;
    const char* learner;
    const char* status;
  } cases[] = {
      {"", "Learner: Ann", "Passed"},
      {"fr", "Apprenant : Ann", "Réussi"},
      {"de", "Teilnehmende Person: Ann", "Bestanden"},
      {"es", "Alumno: Ann", "Aprobado"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.language);
    ::setenv("LANGUAGE", c.language, 1);
    ::setenv("LC_ALL", *c.language ? "C.UTF-8" : "C", 1);
    std::setlocale(LC_MESSAGES, "");
    const ReadBack back = pdftotext(write(
        scorm::ReportHead("Course", "Ann") + "<tr><td><s>" +
        scorm::ReportText(scorm::StatusName("passed")) + "</s></td></tr>\n" +
        scorm::kReportTail));
    EXPECT_TRUE(Has(back, c.learner)) << ::testing::PrintToString(back.lines);
    EXPECT_TRUE(Has(back, c.status)) << ::testing::PrintToString(back.lines);
  }
  ::unsetenv("LANGUAGE");
  ::unsetenv("LC_ALL");
  std::setlocale(LC_MESSAGES, "C");
}

TEST_F(ResultsPdfTest, TextWinAnsiHoldsComesOutAsWithoutUtf8Text) {
  const std::string report =
      Report("Sécurité – niveau 1", "José Müller", "Übung “eins”");
  PdfReportSystem ansi(ctx, 8.5, 11), utf8(ctx, 8.5, 11);
  utf8.Utf8Text = true;
  const std::string expected = print(ansi, report);
  EXPECT_EQ(print(utf8, report), expected);
  EXPECT_EQ(write(report), expected);
  // No font is embedded for it.
  EXPECT_EQ(expected.find("FontFile2"), std::string::npos);
}

TEST_F(ResultsPdfTest, AWordLongerThanItsCellIsCutBetweenCharacters) {
  // Each 10-point kanji is wider than the 6 points left in the cell.
  const ReadBack back =
      pdftotext(write(Report("Title", "Learner", "安全講習", "14")));
  std::string starts;
  for (const std::string& line : back.lines) {
    EXPECT_EQ(line.find("\xEF\xBF\xBD"), std::string::npos) << line;
    if (static_cast<unsigned char>(line[0]) >= 0xE0)
      starts += line.substr(0, 3);
  }
  EXPECT_EQ(starts, "安全講習");
  EXPECT_EQ(back.warnings, "");
}

TEST_F(ResultsPdfTest, FontsAreEmbeddedOnlyForWhatIsDrawn) {
  const std::string latin = write(Report("Course", "José", "Item"));
  const std::string arabic = write(Report("Course", "محمد علي", "Item"));
  const std::string japanese = write(Report("Course", "山田 太郎", "Item"));
  // One font each, cut down to the few glyphs drawn.
  for (const std::string* pdf : {&arabic, &japanese}) {
    const std::size_t first = pdf->find("FontFile2");
    ASSERT_NE(first, std::string::npos);
    EXPECT_EQ(pdf->find("FontFile2", first + 1), std::string::npos);
  }
  // Droid's full code-to-glyph map alone would add some 50 kB.
  EXPECT_LT(arabic.size(), latin.size() + 30000);
  EXPECT_LT(japanese.size(), latin.size() + 70000);
}

std::uint32_t Be(const std::string& b, std::size_t at, int n) {
  std::uint32_t v = 0;
  for (int i = 0; i < n; ++i)
    v = v << 8 |
        static_cast<unsigned char>(b.at(at + static_cast<std::size_t>(i)));
  return v;
}

// The glyphs of an embedded TrueType font that are built of parts left out
// of it: drawn, such a glyph lacks strokes.
std::vector<std::uint32_t> GlyphsMissingParts(const std::string& font) {
  std::map<std::string, std::uint32_t> tables;
  for (std::uint32_t i = 0; i < Be(font, 4, 2); ++i)
    tables[font.substr(12 + 16 * i, 4)] = Be(font, 12 + 16 * i + 8, 4);
  const bool shortLoca = Be(font, tables.at("head") + 50, 2) == 0;
  const std::uint32_t glyphs = Be(font, tables.at("maxp") + 4, 2);
  const auto offset = [&](std::uint32_t g) {
    return shortLoca ? 2 * Be(font, tables.at("loca") + 2 * g, 2)
                     : Be(font, tables.at("loca") + 4 * g, 4);
  };
  const auto present = [&](std::uint32_t g) {
    return offset(g + 1) > offset(g);
  };
  std::vector<std::uint32_t> broken;
  for (std::uint32_t g = 0; g < glyphs; ++g) {
    if (!present(g)) continue;
    std::size_t at = tables.at("glyf") + offset(g);
    if (static_cast<std::int16_t>(Be(font, at, 2)) >= 0) continue;
    for (at += 10;;) {
      const std::uint32_t flags = Be(font, at, 2), part = Be(font, at + 2, 2);
      if (!present(part)) broken.push_back(g);
      at += 4 + ((flags & 1) ? 4 : 2) +
            ((flags & 8)      ? 2
             : (flags & 0x40) ? 4
             : (flags & 0x80) ? 8
                              : 0);
      if (!(flags & 0x20)) break;
    }
  }
  return broken;
}

TEST_F(ResultsPdfTest, GlyphsBuiltOfPartsAreEmbeddedWhole) {
  // Droid's kanji and Noto's isolated teh marbuta are built of parts, some
  // numbered past 32767 or built of parts themselves.
  PdfReportSystem system(ctx, 8.5, 11);
  system.Utf8Text = true;
  system.Compress = false;
  const std::string pdf =
      print(system, Report("安全講習コース 山田 太郎 第一章", "دورة", "Item"));
  std::size_t fonts = 0;
  for (std::size_t at = pdf.find("/Length1 "); at != std::string::npos;
       at = pdf.find("/Length1 ", at + 1)) {
    const std::size_t length = std::stoul(pdf.substr(at + 9));
    const std::size_t data = pdf.find("stream\r\n", at) + 8;
    EXPECT_EQ(GlyphsMissingParts(pdf.substr(data, length)),
              std::vector<std::uint32_t>{});
    ++fonts;
  }
  EXPECT_EQ(fonts, 2u);
}

// A font that is missing or is no font leaves the PDF written: what no
// font has prints as "?", and the journal is told.
TEST_F(ResultsPdfTest, MissingFontsFallBackToQuestionMarksWithANote) {
  const fs::path notAFont = dir_ / "not-a-font.ttf";
  std::ofstream(notAFont) << "plain text, not a font";
  struct Case {
    std::vector<std::string> fonts;
    std::string learner, readBack;
    std::vector<std::string> notes;
  };
  const std::string dejavu = DefaultTextFonts()[2];
  const Case cases[] = {
      {{"/nonexistent/font.ttf"},
       "محمد Ω",
       "???? ?",
       {"the PDF shows \"?\" for characters no font has (U+03A9, U+062D, "
        "U+062F, U+0645); fonts not installed: /nonexistent/font.ttf"}},
      {{notAFont.string(), dejavu},
       "Ω",
       "Ω",
       {"the font " + notAFont.string() +
        " is left out: it is no TrueType "
        "font"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.learner);
    PdfReportSystem system(ctx, 8.5, 11);
    system.Utf8Text = true;
    system.TextFonts = c.fonts;
    const ReadBack back =
        pdftotext(print(system, Report("Course", c.learner, "Item")));
    EXPECT_TRUE(Has(back, "Learner: " + c.readBack));
    ASSERT_EQ(system.notes().size(), c.notes.size());
    for (std::size_t i = 0; i < c.notes.size(); ++i)
      EXPECT_EQ(system.notes()[i].substr(0, c.notes[i].size()), c.notes[i]);
  }
}

// Glyphs in the order they stand on the page, and what each stands for.
TEST(VisualLineTest, RightToLeftRunsAreReversedAndArabicJoined) {
  struct Case {
    std::u32string line, drawn;
    std::vector<std::u32string> texts;
  };
  const Case cases[] = {
      {U"ab", U"ab", {U"a", U"b"}},
      // Hebrew in a left-to-right line: its run reversed, the rest kept.
      {U"A \u05D0\u05D1.",
       U"A \u05D1\u05D0.",
       {U"A", U" ", U"\u05D1", U"\u05D0", U"."}},
      // A right-to-left line: the number stays left to right.
      {U"\u05D0 12", U"12 \u05D0", {U"1", U"2", U" ", U"\u05D0"}},
      // Lam and alef become one ligature standing for both; meem takes its
      // initial form and the bidi mark draws nothing.
      {U"\u0645\u0644\u0627\u200F",
       U"\uFEFC\uFEE3",
       {U"\u0644\u0627", U"\u0645"}},
      // A vowel mark is drawn before the letter it sits on, where a
      // font's zero-width mark lands over the glyph that follows.
      {U"\u0645\u064F", U"\u064F\uFEE1", {U"\u064F", U"\u0645"}},
  };
  for (const Case& c : cases) {
    const std::vector<DrawnChar> drawn = VisualLine(c.line);
    std::u32string codes;
    std::vector<std::u32string> texts;
    for (const DrawnChar& d : drawn) {
      codes += d.code;
      texts.push_back(d.text);
    }
    EXPECT_EQ(codes, c.drawn);
    EXPECT_EQ(texts, c.texts);
  }
}

TEST(VisualLineTest, DrawnFormsKeepTheTextsOrder) {
  // Meem initial, then the ligature on the alef's place and nothing on the
  // lam's, whose glyph it is part of.
  EXPECT_EQ(DrawnForms(U"\u0645\u0644\u0627 x"), U"\uFEE3\0\uFEFC x"s);
  EXPECT_EQ(DrawnForms(U"a\u200Db"), U"a\0b"s);
}

}  // namespace
}  // namespace zept
