// Large inputs at a size that keeps the suite quick: deep nesting, many attributes, huge
// values and texts, many screens, many text-table records.
//
// Every case runs the menuconv executable in a fresh folder and compares everything in that
// folder afterwards with what the case expects, entry by entry. A child that does not end
// within its time is killed and the case fails.
#include <gtest/gtest.h>

#include "tests/fault_support.h"

namespace menuconv {
namespace {

using namespace fault_tests;

// ---------------------------------------------------------------------------------------
// 4. Large inputs, at sizes that keep the suite quick. Outputs are checked, not times.

constexpr std::size_t kDeep = 100000;
constexpr std::size_t kMany = 100000;
constexpr std::size_t kHuge = 10u << 20;

std::string Repeat(const std::string& piece, std::size_t times) {
  std::string out;
  out.reserve(piece.size() * times);
  for (std::size_t i = 0; i < times; ++i) out += piece;
  return out;
}

// `count` attributes named x0, x1, ... (or with another prefix) each with the value v.
std::string Attributes(std::size_t count, const std::string& prefix = "x") {
  std::string out;
  for (std::size_t i = 0; i < count; ++i) out += " " + prefix + std::to_string(i) + "=\"v\"";
  return out;
}

// The menu document of one screen with ctr `ctr` and the given children lines.
std::string MenuWith(const std::string& ctr, const std::string& children) {
  std::string file =
      "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\r\n"
      "<menu ddur=\"\" dtr=\"\" on_del_anim=\"\" cdur=\"\" ctr=\"" +
      ctr + "\" on_create_anim=\"\"";
  file += children.empty() ? "/>" : ">" + children + "\r\n</menu>";
  file += '\0';
  return file;
}

// A screen and a sprite with many attributes each, the sprite's in two runs of names.
std::string ManyAttributesDocument() {
  return EditorDocument("<MENU_MODULE" + Attributes(kMany) + " ctr=\"9\">wide<SPRITE_MODULE ld.x=\"5\"" +
                        Attributes(kMany / 2) + " _colObj=\"0\"" + Attributes(kMany / 2, "y") +
                        " ld.y=\"6\" ld.x=\"late\"/></MENU_MODULE>");
}

struct ExtremeCase {
  const char* name;
  std::string inputName;
  std::function<Tree()> lay;      // the files before the run (the input among them)
  std::function<Tree()> written;  // the files the run creates or rewrites
  std::function<std::vector<std::string>()> warnings = [] { return std::vector<std::string>(); };  // stderr
};

void PrintTo(const ExtremeCase& c, std::ostream* os) { *os << c.name; }

const std::vector<ExtremeCase>& ExtremeCases() {
  static const std::vector<ExtremeCase> cases = {
      {"deep_nesting_before_a_widget", "screens",
       [] {
         return Tree{
             {"screens", File(EditorDocument("<MENU_MODULE ctr=\"1\">deep" + Repeat("<a>", kDeep) +
                                             Repeat("</a>", kDeep) + "<SPRITE_MODULE ld.x=\"2\"/></MENU_MODULE>"))}};
       },
       [] {
         return Tree{{"deep.xml", File(MenuWith("1", "\r\n    <sprite rect=\"2,,,,,,,\"/>"))}};
       }},
      {"deep_nesting_inside_a_widget", "screens",
       [] {
         return Tree{{"screens", File(EditorDocument(
                                     "<MENU_MODULE ctr=\"1\">deep<SPRITE_MODULE ld.x=\"3\">t" +
                                     Repeat("<SPRITE_MODULE>", kDeep) + Repeat("</SPRITE_MODULE>", kDeep) +
                                     "</SPRITE_MODULE><SPRITE_MODULE ld.x=\"8\"/></MENU_MODULE>" + Screen("after")))}};
       },
       [] {
         return Tree{{"deep.xml", File(MenuWith("1",
                                                "\r\n    <sprite rect=\"3,,,,,,,\">t</sprite>"
                                                "\r\n    <sprite rect=\"8,,,,,,,\"/>"))},
                     {"after.xml", File(MenuFile())}};
       }},
      {"screen_at_the_end_of_a_deep_chain", "screens",
       [] {
         return Tree{{"screens", File("<?xml version=\"1.0\" encoding=\"utf-8\"?>" + Repeat("<a>", kDeep) +
                                      Screen("chain", "4") + Repeat("</a>", kDeep))}};
       },
       [] {
         return Tree{{"chain.xml", File(MenuFile("4"))}};
       }},
      {"many_attributes", "screens",
       [] {
         return Tree{{"screens", File(ManyAttributesDocument())}};
       },
       [] {
         return Tree{{"wide.xml", File(MenuWith("9", "\r\n    <sprite color=\"255,0,0,0\" rect=\"5,6,,,,,,\"/>"))}};
       },
       [] {
         // One repeated name among them all, on the second line: its first value counts.
         const std::string document = ManyAttributesDocument();
         const std::size_t line = document.find('\n') + 1;
         const std::size_t column = document.find("ld.x=\"late\"") - line + 1;
         return std::vector<std::string>{"screens:2:" + std::to_string(column) +
                                         ": warning: attribute \"ld.x\" given again: its first value \"5\" counts, "
                                         "not \"late\""};
       }},
      {"many_children", "screens",
       [] {
         return Tree{
             {"screens", File(EditorDocument("<MENU_MODULE ctr=\"1\">many" +
                                             Repeat("<SPRITE_MODULE ld.x=\"1\"/>", kMany) + "</MENU_MODULE>"))}};
       },
       [] {
         return Tree{{"many.xml", File(MenuWith("1", Repeat("\r\n    <sprite rect=\"1,,,,,,,\"/>", kMany)))}};
       }},
      {"huge_attribute_value", "screens",
       [] {
         return Tree{{"screens", File(EditorDocument(Screen("huge", Repeat("0123456789", kHuge / 10))))}};
       },
       [] {
         return Tree{{"huge.xml", File(MenuFile(Repeat("0123456789", kHuge / 10)))}};
       }},
      // The blanks of an element text are dropped, however long the text.
      {"huge_text", "screens",
       [] {
         return Tree{
             {"screens", File(EditorDocument("<MENU_MODULE ctr=\"1\">long<SPRITE_MODULE>" +
                                             Repeat("012345678 ", kHuge / 10) + "</SPRITE_MODULE></MENU_MODULE>"))}};
       },
       [] {
         return Tree{{"long.xml", File(MenuWith("1", "\r\n    <sprite rect=\",,,,,,,\">" +
                                                         Repeat("012345678", kHuge / 10) + "</sprite>"))}};
       }},
      {"many_screens", "screens",
       [] {
         std::string screens;
         for (std::size_t i = 0; i < 5000; ++i) screens += Screen("s" + std::to_string(i));
         return Tree{{"screens", File(EditorDocument(screens))}};
       },
       [] {
         Tree files;
         for (std::size_t i = 0; i < 5000; ++i) files["s" + std::to_string(i) + ".xml"] = File(MenuFile());
         return files;
       }},
      // Records in descending order come out ascending.
      {"many_records", "menus.xml",
       [] {
         std::vector<std::pair<std::string, std::string>> records;
         for (std::size_t i = kMany; i-- > 0;)
           records.emplace_back("k" + std::to_string(1000000 + i), "t" + std::to_string(i));
         return Tree{{"menus.xml", File(EditorDocument(Screen("menu")))}, {"menus.txt", File(TableFile(records))}};
       },
       [] {
         std::vector<std::pair<std::string, std::string>> records;
         for (std::size_t i = 0; i < kMany; ++i)
           records.emplace_back("k" + std::to_string(1000000 + i), "t" + std::to_string(i));
         return Tree{{"menu.xml", File(MenuFile())}, {"menus_txts.txt", File(TableFile(records))}};
       }},
      {"long_keys", "menus.xml",
       [] {
         return Tree{{"menus.xml", File(EditorDocument(Screen("menu")))},
                     {"menus.txt", File(TableFile({{std::string(kMany, 'K') + "b", "second"},
                                                   {std::string(kMany, 'K'), "first"},
                                                   {"A", std::string(kMany, 'T')}}))}};
       },
       [] {
         return Tree{{"menu.xml", File(MenuFile())},
                     {"menus_txts.txt", File(TableFile({{"A", std::string(kMany, 'T')},
                                                        {std::string(kMany, 'K'), "first"},
                                                        {std::string(kMany, 'K') + "b", "second"}}))}};
       }},
  };
  return cases;
}

class FaultExtremeTest : public ::testing::TestWithParam<ExtremeCase> {};

TEST_P(FaultExtremeTest, ConvertsWhole) {
  const ExtremeCase& c = GetParam();
  Workspace space;
  Tree want = c.lay();
  Lay(space.path(), want);

  const Outcome outcome = RunMenuconv(space.path(), {c.inputName}, std::nullopt, 120);
  ASSERT_FALSE(outcome.timedOut);
  EXPECT_EQ(outcome.exitStatus, 0);
  EXPECT_EQ(outcome.out, "");
  ExpectStderr(outcome, c.warnings());
  for (auto& [name, entry] : c.written()) want[name] = std::move(entry);
  ExpectTree(TreeOf(space.path()), want);
  space.ExpectNothingBeside();
}

INSTANTIATE_TEST_SUITE_P(Fault, FaultExtremeTest, ::testing::ValuesIn(ExtremeCases()),
                         [](const ::testing::TestParamInfo<ExtremeCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace menuconv
