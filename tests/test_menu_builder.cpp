// The menu builder, called directly: root attributes in the store's order, encodings, names.
//
// For the six attributes of the root the store's iteration order is:
//   ddur, dtr, on_del_anim, cdur, ctr, on_create_anim
#include <gtest/gtest.h>

#include "tests/convert_support.h"

namespace menuconv {
namespace {

using namespace convert_tests;

class MenuBuilderTest : public ConvertTestBase {
 protected:
  // Parses the editor text (held as UTF-8 in memory) and converts its screens.
  bool Convert(std::string_view text) {
    const Status status = ParseDocument(input, text);
    EXPECT_TRUE(status.ok());
    input.SetEncoding(Encoding{1251});
    return ConvertDocument(input, context).ok();
  }

  ScratchFolder scratch;
  XmlDocument input;
};

TEST_F(MenuBuilderTest, WritesRootAttributesInStoreOrderAndOneChildPerWidget) {
  Register("pic", "pics/pic.png", 2, 1);
  ASSERT_TRUE(
      Convert("<MENU_MODULE ddur=\"6\" cdur=\"5\" dtr=\"4\" ctr=\"3\" on_del_anim=\"2\" on_create_anim=\"1\">"
              "  main \n\t menu "
              "<SPRITE_MODULE _keyImg=\"pic\">a</SPRITE_MODULE>"
              "<IMAGE_MODULE path=\"x.png\">x</IMAGE_MODULE>"
              "<sprite_module>lower</sprite_module>"
              "<SPRITE_MODULE>b<BTN_MODULE _keyText=\"nested\"/></SPRITE_MODULE>"
              "<GROUP />"
              "<SPRITE_MODULF _keyImg=\"pic\"/><Q/>"  // a name one byte from a module's, a name of one byte
              "<BTN_MODULE _keyText=\"K\"/>"
              "</MENU_MODULE>"));
  EXPECT_EQ(scratch.Files(), (std::vector<std::string>{"mainmenu.xml"}));
  EXPECT_EQ(ReadFile("mainmenu.xml"),
            MenuFile("windows-1251", {R"(<menu ddur="6" dtr="4" on_del_anim="2" cdur="5" ctr="3" on_create_anim="1">)",
                                      R"(    <sprite img="pics/pic.png" rect=",,,,,,," cols="2">a</sprite>)",
                                      R"(    <sprite rect=",,,,,,,">b</sprite>)",
                                      R"(    <button rect=",,,,,,," key_text="K"/>)", "</menu>"}));
  // IMAGE_MODULE is a module that no translation handles; the others are no modules at all.
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find("IMAGE_MODULE"), std::string::npos) << warnings[0];
  EXPECT_TRUE(messages.empty());
}

TEST_F(MenuBuilderTest, ScreenWithoutAttributesOrChildren) {
  ASSERT_TRUE(Convert("<MENU_MODULE>bare</MENU_MODULE>"));
  EXPECT_EQ(ReadFile("bare.xml"),
            MenuFile("windows-1251", {R"(<menu ddur="" dtr="" on_del_anim="" cdur="" ctr="" on_create_anim=""/>)"}));
}

TEST_F(MenuBuilderTest, EmptyScreenTextGivesDotXml) {
  ASSERT_TRUE(Convert("<MENU_MODULE ctr=\"1\"><SPRITE_MODULE /></MENU_MODULE>"));
  EXPECT_EQ(scratch.Files(), (std::vector<std::string>{".xml"}));
  EXPECT_EQ(ReadFile(".xml"),
            MenuFile("windows-1251", {R"(<menu ddur="" dtr="" on_del_anim="" cdur="" ctr="1" on_create_anim="">)",
                                      R"(    <sprite rect=",,,,,,,"/>)", "</menu>"}));
}

// The texts held in memory are UTF-8 on POSIX; on Windows they are in the ANSI code page, so
// these bytes would be other characters there.
#ifndef _WIN32
TEST_F(MenuBuilderTest, SavesInTheInputDocumentsEncoding) {
  const Status status = ParseDocument(
      input,
      std::string_view("<MENU_MODULE>enc<TEXT_MODULE _keyText=\"\xD0\x96\">\xD0\xAF</TEXT_MODULE></MENU_MODULE>"));
  ASSERT_TRUE(status.ok());
  const std::vector<std::pair<uint32_t, std::string>> encodings = {{1251, "windows-1251"}, {65001, "utf-8"}};
  // U+042F and U+0416: D0 AF and D0 96 in UTF-8, DF and C6 in windows-1251.
  const std::vector<std::string> bodies = {"\xC6", "\xD0\x96"};
  const std::vector<std::string> texts = {"\xDF", "\xD0\xAF"};
  for (std::size_t i = 0; i < encodings.size(); ++i) {
    input.SetEncoding(Encoding{encodings[i].first});
    ASSERT_TRUE(ConvertDocument(input, context).ok());
    EXPECT_EQ(
        ReadFile("enc.xml"),
        MenuFile(encodings[i].second,
                 {R"(<menu ddur="" dtr="" on_del_anim="" cdur="" ctr="" on_create_anim="">)",
                  "    <text rect=\",,,,,,,\" key_text=\"" + bodies[i] + "\">" + texts[i] + "</text>", "</menu>"}))
        << encodings[i].second;
  }
}
#endif

TEST_F(MenuBuilderTest, SameOutputTwiceReplacesAndWarns) {
  ASSERT_TRUE(Convert("<MENU_MODULE ctr=\"first\">same</MENU_MODULE>"));
  EXPECT_TRUE(warnings.empty());
  XmlDocument second;
  ASSERT_TRUE(ParseDocument(second, std::string_view("<MENU_MODULE ctr=\"second\">same</MENU_MODULE>")).ok());
  second.SetEncoding(Encoding{1251});
  ASSERT_TRUE(ConvertDocument(second, context).ok());
  EXPECT_EQ(
      ReadFile("same.xml"),
      MenuFile("windows-1251", {R"(<menu ddur="" dtr="" on_del_anim="" cdur="" ctr="second" on_create_anim=""/>)"}));
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find("same.xml"), std::string::npos) << warnings[0];

  // Other spellings of the same file.
  for (const char* screen : {"./same", ".//same"}) {
    warnings.clear();
    XmlDocument again;
    ASSERT_TRUE(ParseDocument(again, std::string_view(std::string("<MENU_MODULE>") + screen + "</MENU_MODULE>")).ok());
    again.SetEncoding(Encoding{1251});
    ASSERT_TRUE(ConvertDocument(again, context).ok());
    EXPECT_EQ(warnings.size(), 1u) << screen;
  }
  // A different file is no repetition.
  warnings.clear();
  XmlDocument different;
  ASSERT_TRUE(ParseDocument(different, std::string_view("<MENU_MODULE>same2</MENU_MODULE>")).ok());
  different.SetEncoding(Encoding{1251});
  ASSERT_TRUE(ConvertDocument(different, context).ok());
  EXPECT_TRUE(warnings.empty());
}

struct SaveFailureCase {
  const char* label;
  std::string screen;  // the MENU_MODULE text
  std::string caption;
};

TEST_F(MenuBuilderTest, RefusedOrFailedSaveShowsTheNameAndReturnsFalse) {
  const std::string here = scratch.path().string();
  const std::vector<SaveFailureCase> cases = {
      {"folder does not exist", "missing/inner", "missing/inner.xml"},
      {"absolute name", here + "/absolute", here + "/absolute.xml"},
      {"parent folder", "../outside", "../outside.xml"},
      {"parent folder inside the name", "sub/../escaped", "sub/../escaped.xml"},
  };
  fs::create_directory("sub");
  for (const SaveFailureCase& c : cases) {
    messages.clear();
    XmlDocument doc;
    ASSERT_TRUE(ParseDocument(doc, std::string_view("<MENU_MODULE>" + c.screen + "</MENU_MODULE>")).ok());
    doc.SetEncoding(Encoding{65001});
    EXPECT_EQ(ConvertDocument(doc, context).code(), StatusCode::kAlreadyReported) << c.label;
    ASSERT_EQ(messages.size(), 1u) << c.label;
    EXPECT_EQ(messages[0].caption, c.caption) << c.label;
    EXPECT_EQ(messages[0].text, "Cannot save menu file") << c.label;
  }
  // Nothing was written, neither here nor beside the folder.
  EXPECT_TRUE(scratch.Files().empty());
  EXPECT_FALSE(fs::exists(scratch.path().parent_path() / "outside.xml"));
}

TEST_F(MenuBuilderTest, RelativeNamesWithSubFoldersAreAllowed) {
  fs::create_directory("sub");
  std::vector<std::string> screens = {"sub/inner", "..dots", "sub/..x", "./here"};
  std::vector<std::string> written = {"..dots.xml", "here.xml", "sub/..x.xml", "sub/inner.xml"};
#ifndef _WIN32
  // A colon is an ordinary byte of a file name on POSIX; on Windows it names a drive.
  screens.push_back("a:b");
  written.insert(written.begin() + 1, "a:b.xml");
#endif
  for (const std::string& screen : screens) {
    XmlDocument doc;
    ASSERT_TRUE(ParseDocument(doc, std::string_view("<MENU_MODULE>" + screen + "</MENU_MODULE>")).ok());
    doc.SetEncoding(Encoding{65001});
    EXPECT_TRUE(ConvertDocument(doc, context).ok()) << screen;
  }
  EXPECT_TRUE(messages.empty());
  EXPECT_EQ(scratch.Files(), written);
}

struct EscapeCase {
  const char* name;
  bool escapes;
};

TEST(MenuBuilderNames, EscapesCurrentFolder) {
  const std::vector<EscapeCase> cases = {
      {"menu.xml", false},   {"sub/menu.xml", false},
      {"a/b/c.xml", false},  {"..menu.xml", false},
      {"menu...xml", false}, {"sub/..x.xml", false},
      {"./menu.xml", false}, {".xml", false},
      {"/abs.xml", true},    {"/", true},
      {"../up.xml", true},   {"sub/../x.xml", true},
      {"sub/...xml", false}, {"sub/..", true},
      {"..", true},          {"a/../../b.xml", true},
      {"//x.xml", true},
  };
  for (const EscapeCase& c : cases) EXPECT_EQ(EscapesCurrentFolder(c.name), c.escapes) << c.name;
  // A backslash and a drive letter separate folders on Windows only.
  for (const char* name : {"..\\up.xml", "sub\\..\\x.xml", "\\x.xml", "C:x.xml", "C:\\x.xml", "a:b.xml"}) {
#ifdef _WIN32
    EXPECT_TRUE(EscapesCurrentFolder(name)) << name;
#else
    EXPECT_FALSE(EscapesCurrentFolder(name)) << name;
#endif
  }
}

}  // namespace
}  // namespace menuconv
