// The walk over the editor document: screens found, pictures read, failures, and screens
// built in pieces on two threads.
#include <gtest/gtest.h>

#include "tests/convert_support.h"

namespace menuconv {
namespace {

using namespace convert_tests;

// ---------------------------------------------------------------------------------------------
// The walk over the editor document

struct WalkCase {
  const char* label;
  const char* document;
  bool converted;
  std::vector<std::string> files;  // the menu documents written
};

class ConvertDocumentTest : public ConvertTestBase {
 protected:
  ScratchFolder scratch;
};

TEST_F(ConvertDocumentTest, FindsTheScreensAlongTheChainOfFirstChildren) {
  const std::vector<WalkCase> cases = {
      {"empty document", "no element here", false, {}},
      {"screen at top level with top-level siblings",
       "<MENU_MODULE>a</MENU_MODULE><OTHER /><MENU_MODULE>b</MENU_MODULE>",
       true,
       {"a.xml", "b.xml"}},
      {"wrapper whose first child is a screen",
       "<ROOT><MENU_MODULE>a</MENU_MODULE><X /><MENU_MODULE>b</MENU_MODULE></ROOT>",
       true,
       {"a.xml", "b.xml"}},
      {"two wrappers down",
       "<ROOT><SCREENS><MENU_MODULE>a</MENU_MODULE></SCREENS><MENU_MODULE>outer</MENU_MODULE></ROOT>",
       true,
       {"a.xml"}},
      {"wrapper whose first child is something else", "<ROOT><INFO /><MENU_MODULE>a</MENU_MODULE></ROOT>", false, {}},
      {"first child has children of its own", "<ROOT><INFO><X /></INFO><MENU_MODULE>a</MENU_MODULE></ROOT>", false, {}},
      {"names are case-sensitive", "<ROOT><menu_module>a</menu_module></ROOT>", false, {}},
      {"later siblings of another name are passed over",
       "<ROOT><MENU_MODULE>a</MENU_MODULE><menu_module>b</menu_module><MENU_MODULE>c</MENU_MODULE></ROOT>",
       true,
       {"a.xml", "c.xml"}},
  };
  for (const WalkCase& c : cases) {
    for (const std::string& f : scratch.Files()) fs::remove(scratch.path() / f);
    XmlDocument doc;
    ASSERT_TRUE(ParseDocument(doc, std::string_view(c.document)).ok()) << c.label;
    doc.SetEncoding(Encoding{65001});
    const Status converted = ConvertDocument(doc, context);
    EXPECT_EQ(converted.code(), c.converted ? StatusCode::kOk : StatusCode::kNotFound) << c.label;
    EXPECT_EQ(scratch.Files(), c.files) << c.label;
  }
  EXPECT_TRUE(messages.empty());
}

TEST_F(ConvertDocumentTest, ReadsOnlyTheFirstPictureListAfterTheFirstScreen) {
  XmlDocument doc;
  ASSERT_TRUE(
      ParseDocument(
          doc, std::string_view("<ROOT>"
                                "<MENU_MODULE>s1<SPRITE_MODULE _keyImg=\"pic\"/><SPRITE_MODULE "
                                "_keyImg=\"other\"/><SPRITE_MODULE _keyImg=\"far\"/></MENU_MODULE>"
                                "<PICTURES_MODULE><IMAGE_MODULE path=\"a.png\">pic</IMAGE_MODULE></PICTURES_MODULE>"
                                "<PICTURES_MODULE><IMAGE_MODULE path=\"b.png\">pic</IMAGE_MODULE><IMAGE_MODULE "
                                "path=\"o.png\">other</IMAGE_MODULE></PICTURES_MODULE>"
                                "</ROOT>"
                                "<PICTURES_MODULE><IMAGE_MODULE path=\"far.png\">far</IMAGE_MODULE></PICTURES_MODULE>"))
          .ok());
  doc.SetEncoding(Encoding{65001});
  ASSERT_TRUE(ConvertDocument(doc, context).ok());
  EXPECT_EQ(ReadFile("s1.xml"),
            MenuFile("utf-8", {R"(<menu ddur="" dtr="" on_del_anim="" cdur="" ctr="" on_create_anim="">)",
                               R"(    <sprite img="a.png" rect=",,,,,,,"/>)", R"(    <sprite img="" rect=",,,,,,,"/>)",
                               R"(    <sprite img="" rect=",,,,,,,"/>)", "</menu>"}));
  ASSERT_EQ(warnings.size(), 2u);
  EXPECT_NE(warnings[0].find("other"), std::string::npos) << warnings[0];
  EXPECT_NE(warnings[1].find("far"), std::string::npos) << warnings[1];
}

TEST_F(ConvertDocumentTest, StopsAtTheFirstScreenThatCannotBeSaved) {
  XmlDocument doc;
  ASSERT_TRUE(
      ParseDocument(doc, std::string_view("<ROOT><MENU_MODULE>one</MENU_MODULE><MENU_MODULE>missing/two</MENU_MODULE>"
                                          "<MENU_MODULE>three</MENU_MODULE></ROOT>"))
          .ok());
  doc.SetEncoding(Encoding{65001});
  EXPECT_EQ(ConvertDocument(doc, context).code(), StatusCode::kAlreadyReported);
  EXPECT_EQ(scratch.Files(), (std::vector<std::string>{"one.xml"}));
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].caption, "missing/two.xml");
  EXPECT_EQ(messages[0].text, "Cannot save menu file");
}

// Screens are built on two threads; what the user sees and what lands on disk must be as if
// one screen followed the other.
TEST_F(ConvertDocumentTest, LargeScreensReportInOrderAndStopAtTheFirstFailedSave) {
  auto screen = [](const std::string& name, const std::string& picture) {
    std::string text = "<MENU_MODULE>" + name;
    for (int i = 0; i < 600; ++i) {
      text += "<SPRITE_MODULE _keyImg=\"" + picture + "\" ld.x=\"" + std::to_string(i) + std::string(60, '7') + "\"/>";
    }
    return text + "</MENU_MODULE>";
  };
  XmlDocument doc;
  ASSERT_TRUE(ParseDocument(doc, "<ROOT>" + screen("big1", "pa") + screen("missing/big2", "pb") + screen("big3", "pc") +
                                     "</ROOT>")
                  .ok());
  doc.SetEncoding(Encoding{65001});
  std::vector<std::string> events;
  RecordEventsInto(events);
  EXPECT_EQ(ConvertDocument(doc, context).code(), StatusCode::kAlreadyReported);
  ASSERT_EQ(events.size(), 3u);
  EXPECT_NE(events[0].find("\"pa\""), std::string::npos) << events[0];
  EXPECT_NE(events[1].find("\"pb\""), std::string::npos) << events[1];
  EXPECT_EQ(events[2], "missing/big2.xml: Cannot save menu file");
  // The third screen was never written, and its warning never shown.
  EXPECT_EQ(scratch.Files(), (std::vector<std::string>{"big1.xml"}));

  // The file written while the next screen was built holds what the screen alone gives.
  const std::string threaded = ReadFile("big1.xml");
  EXPECT_GT(threaded.size(), 32u * 1024u);
  EXPECT_EQ(threaded, WholeScreenFile(doc, context.pictures));
}

// A screen of thousands of widgets is built in pieces, on two threads: the warnings still
// come in document order, once per name, and the file holds what building the screen in one
// go gives.
TEST_F(ConvertDocumentTest, ScreensBuiltInPiecesWarnInDocumentOrder) {
  std::string big = "<MENU_MODULE>big";
  for (int i = 0; i < 2500; ++i) {
    if (i == 10 || i == 1500 || i == 2400) {
      big += "<ODD_MODULE/>";
    } else if (i == 1100) {
      big += "<OTHER_MODULE/>";
    } else if (i == 5 || i == 1030 || i == 2050) {
      big += "<SPRITE_MODULE _keyImg=\"u1\"/>";
    } else if (i == 2100) {
      big += "<BTN_MODULE _keyImg=\"u2\"/>";
    } else {
      big += "<TEXT_MODULE _keyImg=\"pic\" ld.x=\"" + std::to_string(i) + "\">t" + std::to_string(i) + "</TEXT_MODULE>";
    }
  }
  big += "</MENU_MODULE>";
  const std::string pictures =
      "<PICTURES_MODULE><IMAGE_MODULE path=\"p.png\" column=\"2\">pic</IMAGE_MODULE></PICTURES_MODULE>";
  std::string small;
  for (int i = 0; i < 20; ++i) {
    small += "<MENU_MODULE>s" + std::to_string(i) + "<ODD_MODULE/><QUAD_MODULE _keyImg=\"u" + std::to_string(i % 3) +
             "\"/></MENU_MODULE>";
  }
  XmlDocument doc;
  ASSERT_TRUE(ParseDocument(doc, "<ROOT>" + big + pictures + small + "</ROOT>").ok());
  doc.SetEncoding(Encoding{65001});
  ASSERT_TRUE(ConvertDocument(doc, context).ok());
  const std::vector<std::string> expected = {
      "picture \"u1\" is not defined in the picture list", "screen \"big\": ODD_MODULE is not converted",
      "screen \"big\": OTHER_MODULE is not converted",     "picture \"u2\" is not defined in the picture list",
      "picture \"u0\" is not defined in the picture list",
  };
  EXPECT_EQ(warnings, expected);
  EXPECT_TRUE(messages.empty());
  EXPECT_EQ(scratch.Files().size(), 21u);
  // The run reports the names looked up in vain, and leaves the registry as the list made it.
  EXPECT_EQ(context.undefinedPictures, (std::set<std::string, std::less<>>{"u0", "u1", "u2"}));
  EXPECT_EQ(context.pictures.Size(), 1u);
  for (const char* name : {"u0", "u1", "u2"}) EXPECT_EQ(context.pictures.Find(name), nullptr) << name;

  const std::string pieces = ReadFile("big.xml");
  EXPECT_EQ(pieces, WholeScreenFile(doc, context.pictures));
  EXPECT_NE(pieces.find("<text img=\"p.png\" rect=\"2499,,,,,,,\" cols=\"2\">t2499</text>"), std::string::npos);
}

// A screen of several pieces is written while its later pieces are built: whatever happens to
// the writing, the user sees and the disk holds what saving the screen whole gives.
class PieceByPieceTest : public ConvertDocumentTest {
 protected:
  // A screen of 2,600 widgets (three pieces); the one at `odd` carries `oddText`.
  static std::string BigScreen(const std::string& name, int odd = -1, const std::string& oddText = "") {
    std::string text = "<MENU_MODULE>" + name;
    for (int i = 0; i < 2600; ++i) {
      text += "<TEXT_MODULE ld.x=\"" + std::to_string(i) + "\">" + (i == odd ? oddText : "t" + std::to_string(i)) +
              "</TEXT_MODULE>";
      if (i % 1000 == 999) text += "<ODD" + std::to_string(i) + "_MODULE/>";
    }
    return text + "</MENU_MODULE>";
  }
};

TEST_F(PieceByPieceTest, WritesWhatTheWholeScreenWrites) {
  struct Case {
    const char* label;
    std::string oddText;  // the text of widget 1500, in the second piece
  };
  const std::vector<Case> cases = {
      {"well-formed UTF-8", "\xD0\xBC\xD0\xB5\xD0\xBD\xD1\x8E"},
      // Parsed from bytes that were never checked: the document is saved whole, repaired.
      {"ill-formed UTF-8 in a later piece", "bad\xC3(\xFF"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    for (const std::string& f : scratch.Files()) fs::remove(scratch.path() / f);
    XmlDocument doc;
    ASSERT_TRUE(ParseDocument(doc, "<ROOT>" + BigScreen("big", 1500, c.oddText) + "</ROOT>").ok());
    doc.SetEncoding(Encoding{65001});
    // An older file of that name is replaced, keeping its permissions.
    testing_support::WriteBytes("big.xml", "old");
#ifndef _WIN32
    ASSERT_EQ(::chmod("big.xml", 0640), 0);
#endif
    warnings.clear();
    RunContext run(reporter);  // each case warns as a run of its own
    ASSERT_TRUE(ConvertDocument(doc, run).ok());
    EXPECT_EQ(warnings.size(), 2u);
    EXPECT_EQ(scratch.Files(), (std::vector<std::string>{"big.xml"}));  // no temporary file left
#ifndef _WIN32
    struct stat info;
    ASSERT_EQ(::stat("big.xml", &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
#endif
    const std::string written = ReadFile("big.xml");
    EXPECT_EQ(written, WholeScreenFile(doc, run.pictures));
    EXPECT_NE(written.find("<text rect=\"2599,,,,,,,\">t2599</text>\r\n</menu>"), std::string::npos);
  }
}

TEST_F(PieceByPieceTest, FailureShowsAfterTheScreensWarningsAndStopsTheRun) {
  XmlDocument doc;
  ASSERT_TRUE(ParseDocument(doc, "<ROOT>" + BigScreen("missing/big") + BigScreen("next") + "</ROOT>").ok());
  doc.SetEncoding(Encoding{65001});
  std::vector<std::string> events;
  RecordEventsInto(events);
  EXPECT_EQ(ConvertDocument(doc, context).code(), StatusCode::kAlreadyReported);
  const std::vector<std::string> expected = {
      "warning: screen \"missing/big\": ODD999_MODULE is not converted",
      "warning: screen \"missing/big\": ODD1999_MODULE is not converted",
      "missing/big.xml: Cannot save menu file",
  };
  EXPECT_EQ(events, expected);
  EXPECT_EQ(scratch.Files(), std::vector<std::string>{});
}

#ifndef _WIN32
TEST_F(PieceByPieceTest, WriteFailingMidwayKeepsTheOldFile) {
  XmlDocument doc;
  ASSERT_TRUE(ParseDocument(doc, "<ROOT>" + BigScreen("big") + "</ROOT>").ok());
  doc.SetEncoding(Encoding{65001});
  testing_support::WriteBytes("big.xml", "old");
  // Files may not grow past 64 KiB: the second piece no longer fits.
  const bool converted =
      testing_support::WithFileSizeLimit(64 * 1024, [&] { return ConvertDocument(doc, context).ok(); });
  EXPECT_FALSE(converted);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].caption, "big.xml");
  EXPECT_EQ(ReadFile("big.xml"), "old");
  EXPECT_EQ(scratch.Files(), (std::vector<std::string>{"big.xml"}));
}
#endif

}  // namespace
}  // namespace menuconv
