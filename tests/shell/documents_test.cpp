// Documents, links, text files, print and PDF requests and the capture,
// driven through the commands as the movies send them.

#include <gtest/gtest.h>

#include "platform/errors.h"
#include "shell/shell_fixture.h"

namespace zept {
namespace {

using testing::ShellEnv;

class DocumentsTest : public ::testing::Test, protected ShellEnv {
 protected:
  void SetUp() override {
    addCourse(3);
    start();
  }
  std::string file(const WideString& path) {
    const auto* f = fake.files.file(path);
    return f ? f->bytes : "<missing>";
  }
  void answer(const WideString& file) { dialogs.queue({true, file}); }
};

TEST_F(DocumentsTest, WriteTextFile) {
  form->menuCommand(u"WriteTextFile", u"[$APPLICATION]\\out\\log.txt;a;b");
  EXPECT_EQ(file(u"C:\\Course\\out\\log.txt"), "a;b");
  form->menuCommand(u"WriteTextFile",
                    u"[$APPLICATION]/out/log.txt;caf\u00e9 \u20ac \u0141");
  EXPECT_EQ(file(u"C:\\Course\\out\\log.txt"), "caf\xE9 \x80 ?");  // ANSI text
  form->menuCommand(u"WriteTextFile", u"[$MYDOCUMENTS]\\notes.txt");
  EXPECT_EQ(file(u"C:\\Users\\u\\Documents\\notes.txt"),
            "<missing>");  // only a path
  form->menuCommand(u"WriteTextFile", u"[$programfiles]\\x.txt;hello");
  EXPECT_EQ(file(u"[$programfiles]\\x.txt"),
            "hello");  // lower case is no macro
  // A folder that cannot be created: nothing written, nothing raised.
  fake.files.failWritesUnder(u"C:\\Locked");
  form->menuCommand(u"WriteTextFile", u"C:\\Locked\\sub\\x.txt;hello");
  EXPECT_TRUE(errors.empty());
}

TEST_F(DocumentsTest, WriteTextFileAsKeepsTheDialogSettings) {
  answer(u"C:\\Course\\chosen.txt");
  form->menuCommand(u"WriteTextFileAs", u"txt;notes.txt;hello;world");
  EXPECT_TRUE(
      said("dialog: save ext=txt filter=*.txt|*.txt name=notes.txt folder="));
  EXPECT_EQ(file(u"C:\\Course\\chosen.txt"), "hello;world");
  EXPECT_EQ(form->SaveDialog.FileName, u"C:\\Course\\chosen.txt");
  form->menuCommand(u"WriteTextFileAs", u"txt");  // too few pieces: nothing
  form->menuCommand(u"WriteTextFileAs", u"csv;data.csv;1;2");  // cancelled
  EXPECT_EQ(file(u"C:\\Course\\data.csv"), "<missing>");
  EXPECT_EQ(form->SaveDialog.Filter, u"*.csv|*.csv");
}

TEST_F(DocumentsTest, PrintDocumentSavesAPdfAndOffersTheSameNameNextTime) {
  form->menuCommand(u"SetTrackPath", u"[$APPLICATION]\\tracking");
  answer(u"C:\\Course\\results.pdf");
  form->menuCommand(u"PrintDocument", u"<export><p>Results: 92</p></export>");
  EXPECT_TRUE(
      said("dialog: save ext=.pdf filter=*.pdf|*.pdf name= "
           "folder=C:/Course/tracking"));
  EXPECT_EQ(file(u"C:\\Course\\results.pdf").rfind("%PDF-", 0), 0u);
  form->menuCommand(u"PrintDocument",
                    u"<export><p>Again</p></export>");  // cancelled
  EXPECT_TRUE(said(
      "dialog: save ext=.pdf filter=*.pdf|*.pdf name=C:/Course/results.pdf "
      "folder=C:/Course/tracking"));
  answer(u"C:\\Course\\broken.pdf");
  // The error leaves the command (the movie host's handler reports it).
  EXPECT_THROW(
      form->menuCommand(u"PrintDocument", u"<export><p>never closed</export>"),
      EXmlError);
  EXPECT_EQ(file(u"C:\\Course\\broken.pdf"), "<missing>");
}

TEST_F(DocumentsTest, PrintReportGoesToThePrinterOrNowhere) {
  form->menuCommand(u"PrintReport",
                    u"<export><p>x</p></export>");  // no printer
  EXPECT_FALSE(said("dialog: print-setup"));
  printers.names = {u"office", u"lab"};
  form->menuCommand(u"PrintReport", u"<export><p>x</p></export>");  // cancelled
  EXPECT_TRUE(said("dialog: print-setup"));
  EXPECT_TRUE(printers.jobs.empty());
  answer(u"");
  form->menuCommand(u"PrintReport",
                    u"<export><p>one</p><pg/><p>two</p></export>");
  ASSERT_EQ(printers.jobs.size(), 1u);
  EXPECT_EQ(printers.jobs[0].printer, u"office");
  EXPECT_TRUE(said("print: office 2"));
  answer(u"");
  form->menuCommand(u"PrintReport", u"");  // OK, then nothing to print
  EXPECT_EQ(printers.jobs.size(), 1u);
  // A script's answer naming a destination picks it; the program folder the
  // headless host puts before it is not part of the name.
  answer(u"C:\\Course\\lab");
  form->menuCommand(u"PrintReport", u"<export><p>lab</p></export>");
  ASSERT_EQ(printers.jobs.size(), 2u);
  EXPECT_EQ(printers.jobs[1].printer, u"lab");
  EXPECT_TRUE(said("dialog: answer ok C:\\Course\\lab"));
  answer(u"C:\\Course\\nolab");
  form->menuCommand(u"PrintReport", u"<export><p>x</p></export>");
  EXPECT_EQ(printers.jobs.back().printer, u"office");
}

TEST_F(DocumentsTest, DocumentsAndLinks) {
  fake.files.addFile(u"C:\\Course\\docs\\guide.pdf", "");
  fake.files.addFile(u"C:\\Course\\SCO_0002\\docs\\guide.pdf", "");
  form->menuCommand(u"OnOpenDocument", u"docs/guide.pdf");
  EXPECT_TRUE(said("open: C:/Course/docs/guide.pdf"));
  form->menuCommand(u"OnOpenDocument", u"HTTP://example.org/Page");
  EXPECT_TRUE(said("open: HTTP://example.org/Page"));
  form->menuCommand(u"OnOpenDocument", u"mailto:team@example.org");
  EXPECT_TRUE(said("open: mailto:team@example.org"));
  form->menuCommand(u"OnOpenDocument", u"see http://example.org/x");
  EXPECT_TRUE(said("open: see http://example.org/x"));
  form->menuCommand(u"OnOpenDocument", u"D:\\elsewhere\\a.doc");
  EXPECT_TRUE(said("open: D:/elsewhere/a.doc"));
  EXPECT_TRUE(said("message: No such file or directory"));
  form->menuCommand(u"OnOpenDocument", u"");
  EXPECT_EQ(line("open: ").size() > 0, true);

  form->openSco(u"2", u"");
  run();
  form->courseCommand(u"OnOpenDocument", u"docs/guide.pdf");
  EXPECT_TRUE(said("open: C:/Course/SCO_0002/docs/guide.pdf"));
}

TEST_F(DocumentsTest, CaptureUsesAFreshNumberedFolderAndDeletesIt) {
  const WideString temp = u"C:\\Users\\u\\AppData\\Local\\Temp\\";
  const std::string shown = "Capture dans : C:/Users/u/AppData/Local/Temp/";
  addFile(u"SCO_0001\\player.swf.movie.xml", "<movie/>");
  form->openSco(u"1", u"");
  run();
  answer(u"C:\\Course\\screen.pdf");
  form->courseCommand(u"sendPrintPagePDF", u"");
  EXPECT_TRUE(said(shown + "fennick1/"));
  const std::string pdf = file(u"C:\\Course\\screen.pdf");
  EXPECT_EQ(pdf.rfind("%PDF-", 0), 0u);
  EXPECT_NE(pdf.find("/DCTDecode"), std::string::npos);
  EXPECT_FALSE(fake.files.directoryExists(temp + u"fennick1"));

  // Cancelled: no PDF, the folder goes all the same; fennick1 again.
  form->courseCommand(u"sendPrintPagePDF", u"");
  EXPECT_EQ(std::count(lines.begin(), lines.end(), shown + "fennick1/"), 2);
  EXPECT_FALSE(fake.files.directoryExists(temp + u"fennick1"));

  // A fennick1 left over (its deletion failed): the next one is fennick2.
  fake.files.addFile(temp + u"fennick1\\locked.txt", "", /*readOnly=*/true);
  form->courseCommand(u"sendPrintPagePDF", u"");
  EXPECT_TRUE(said(shown + "fennick2/"));
  EXPECT_FALSE(fake.files.directoryExists(temp + u"fennick2"));

  // A TEMP folder whose name is no plain XML text still gives the picture.
  fake.folders.temp = u"C:\\Temp & <Co> \"\u0142\u00e9\u20ac\U0001F600\"";
  fake.files.addDirectory(fake.folders.temp);
  answer(u"C:\\Course\\odd.pdf");
  form->courseCommand(u"sendPrintPagePDF", u"");
  EXPECT_TRUE(
      said("Capture dans : C:/Temp & <Co> "
           "\"\u0142\u00e9\u20ac\U0001F600\"/fennick1/"));
  EXPECT_NE(file(u"C:\\Course\\odd.pdf").find("/DCTDecode"), std::string::npos);

  // No TEMP folder: nothing happens.
  fake.folders.temp = u"C:\\NoTemp";
  const std::size_t before = lines.size();
  form->courseCommand(u"sendPrintPagePDF", u"");
  EXPECT_EQ(lines.size(), before + 1);  // only the journal line of the command
}

}  // namespace
}  // namespace zept
