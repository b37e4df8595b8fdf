// The widget translations, each called directly.
//
// Expected attribute lists are written in the store's iteration order. For the names a widget
// element can carry (never more than 32, so 8 buckets) that order is:
//   color, alt_max, enabled, font, img_selector, img_progress, scale, speed, vel, mode, rows,
//   cnt_chars, img, pivot, rect, align, key_text, time, cols, tex, vel_max, img_center
#include <gtest/gtest.h>

#include "tests/convert_support.h"

namespace menuconv {
namespace {

using namespace convert_tests;

// ---------------------------------------------------------------------------------------------
// Shared sprite attributes

struct SpriteCase {
  const char* label;
  const char* module;  // one element, parsed
  Attributes expected;
};

class ConvertSpriteAttributesTest : public ConvertTestBase {};

TEST_F(ConvertSpriteAttributesTest, TranslatesEachRuleAndWritesInStoreOrder) {
  RegisterCommonPictures();
  const std::vector<SpriteCase> cases = {
      {"no attributes at all", "<M />", {{"rect", ",,,,,,,"}}},
      {"all six attributes",
       R"(<M _keyImg="grid" ld.x="1" ld.y="2" lu.x="3" lu.y="4" rd.x="5" rd.y="6" ru.x="7" ru.y="8" _colObj="1193046" _iAlph="17" _sModeDraw="OVERLAY"/>)",
       {{"color", "17,86,52,18"},
        {"mode", "3"},
        {"rows", "2"},
        {"img", "pics/grid.png"},
        {"rect", "1,2,3,4,5,6,7,8"},
        {"cols", "3"}}},
      // Pictures and their grids.
      {"single picture: img alone", R"(<M _keyImg="single"/>)", {{"img", "pics/single.png"}, {"rect", ",,,,,,,"}}},
      {"four columns, one row",
       R"(<M _keyImg="strip"/>)",
       {{"img", "pics/strip.png"}, {"rect", ",,,,,,,"}, {"cols", "4"}}},
      {"one column, three rows",
       R"(<M _keyImg="tall"/>)",
       {{"rows", "3"}, {"img", "pics/tall.png"}, {"rect", ",,,,,,,"}}},
      {"zero columns and rows are written",
       R"(<M _keyImg="zero"/>)",
       {{"rows", "0"}, {"img", "pics/zero.png"}, {"rect", ",,,,,,,"}, {"cols", "0"}}},
      {"negative column",
       R"(<M _keyImg="negative"/>)",
       {{"rows", "7"}, {"img", "pics/negative.png"}, {"rect", ",,,,,,,"}, {"cols", "-2"}}},
      {"empty picture name", R"(<M _keyImg=""/>)", {{"rect", ",,,,,,,"}}},
      {"unknown picture: empty path, no grid", R"(<M _keyImg="nowhere"/>)", {{"img", ""}, {"rect", ",,,,,,,"}}},
      {"picture names are case-sensitive", R"(<M _keyImg="Grid"/>)", {{"img", ""}, {"rect", ",,,,,,,"}}},
      // Rectangle.
      {"corner texts pass unchanged", R"(<M ld.x="10.5" ld.y="-3"/>)", {{"rect", "10.5,-3,,,,,,"}}},
      {"only the last corner", R"(<M ru.y="9"/>)", {{"rect", ",,,,,,,9"}}},
      {"corners in any input order",
       R"(<M ru.y="h" ru.x="g" rd.y="f" rd.x="e" lu.y="d" lu.x="c" ld.y="b" ld.x="a"/>)",
       {{"rect", "a,b,c,d,e,f,g,h"}}},
      {"a rectangle longer than 63 bytes is written whole",
       R"(<M ld.x="1000000001" ld.y="1000000002" lu.x="1000000003" lu.y="1000000004" rd.x="1000000005" rd.y="1000000006" ru.x="1000000007" ru.y="1000000008"/>)",
       {{"rect", "1000000001,1000000002,1000000003,1000000004,1000000005,1000000006,1000000007,1000000008"}}},
      // Colour and alpha.
      {"white without alpha: no colour", R"(<M _colObj="16777215"/>)", {{"rect", ",,,,,,,"}}},
      {"white with alpha 128",
       R"(<M _colObj="16777215" _iAlph="128"/>)",
       {{"color", "128,255,255,255"}, {"rect", ",,,,,,,"}}},
      {"white with alpha 255: no colour", R"(<M _colObj="16777215" _iAlph="255"/>)", {{"rect", ",,,,,,,"}}},
      {"low byte only", R"(<M _colObj="255"/>)", {{"color", "255,255,0,0"}, {"rect", ",,,,,,,"}}},
      {"empty colour reads as 0", R"(<M _colObj=""/>)", {{"color", "255,0,0,0"}, {"rect", ",,,,,,,"}}},
      {"-1 without alpha: no colour", R"(<M _colObj="-1"/>)", {{"rect", ",,,,,,,"}}},
      {"-1 with alpha 0", R"(<M _colObj="-1" _iAlph="0"/>)", {{"color", "0,255,255,255"}, {"rect", ",,,,,,,"}}},
      {"alpha 256 keeps its low byte, 0",
       R"(<M _colObj="1193046" _iAlph="256"/>)",
       {{"color", "0,86,52,18"}, {"rect", ",,,,,,,"}}},
      {"alpha -1 keeps its low byte, 255",
       R"(<M _colObj="1193046" _iAlph="-1"/>)",
       {{"color", "255,86,52,18"}, {"rect", ",,,,,,,"}}},
      {"alpha 300 keeps its low byte, 44",
       R"(<M _colObj="abc" _iAlph="300"/>)",
       {{"color", "44,0,0,0"}, {"rect", ",,,,,,,"}}},
      {"empty alpha counts as 255",
       R"(<M _colObj="16711680" _iAlph=""/>)",
       {{"color", "255,0,0,255"}, {"rect", ",,,,,,,"}}},
      {"alpha without colour: no colour", R"(<M _iAlph="5"/>)", {{"rect", ",,,,,,,"}}},
      {"bits 24-31 are dropped", R"(<M _colObj="-16777216"/>)", {{"color", "255,0,0,0"}, {"rect", ",,,,,,,"}}},
      {"bits 24-31 dropped, the rest white", R"(<M _colObj="33554431"/>)", {{"rect", ",,,,,,,"}}},
      {"digits then letters", R"(<M _colObj="12abc" _iAlph="64xyz"/>)", {{"color", "64,12,0,0"}, {"rect", ",,,,,,,"}}},
      {"leading blank before the digits", R"(<M _colObj=" 65280"/>)", {{"color", "255,0,255,0"}, {"rect", ",,,,,,,"}}},
      {"beyond the range: nearest limit",
       R"(<M _colObj="99999999999" _iAlph="1"/>)",
       {{"color", "1,255,255,255"}, {"rect", ",,,,,,,"}}},
      {"below the range: nearest limit",
       R"(<M _colObj="-99999999999" _iAlph="-99999999999"/>)",
       {{"color", "0,0,0,0"}, {"rect", ",,,,,,,"}}},
      // Drawing mode.
      {"ADD", R"(<M _sModeDraw="ADD"/>)", {{"mode", "1"}, {"rect", ",,,,,,,"}}},
      {"MUL", R"(<M _sModeDraw="MUL"/>)", {{"mode", "2"}, {"rect", ",,,,,,,"}}},
      {"OVERLAY", R"(<M _sModeDraw="OVERLAY"/>)", {{"mode", "3"}, {"rect", ",,,,,,,"}}},
      {"lower case word", R"(<M _sModeDraw="add"/>)", {{"rect", ",,,,,,,"}}},
      {"mixed case word", R"(<M _sModeDraw="Overlay"/>)", {{"rect", ",,,,,,,"}}},
      {"blank before the word", R"(<M _sModeDraw=" ADD"/>)", {{"rect", ",,,,,,,"}}},
      {"blank after the word", R"(<M _sModeDraw="MUL "/>)", {{"rect", ",,,,,,,"}}},
      {"a number is no mode word", R"(<M _sModeDraw="1"/>)", {{"rect", ",,,,,,,"}}},
      {"empty mode", R"(<M _sModeDraw=""/>)", {{"rect", ",,,,,,,"}}},
  };
  for (const SpriteCase& c : cases) {
    XmlDocument doc;
    ASSERT_TRUE(ParseDocument(doc, std::string_view(c.module)).ok()) << c.label;
    WidgetElement element;
    ConvertSpriteAttributes(Read(doc.Element(doc.FirstElement())), element);
    EXPECT_EQ(InOrder(element), c.expected)
        << c.label << "\n  got:" << Show(InOrder(element)) << "\n want:" << Show(c.expected);
  }
}

TEST_F(ConvertSpriteAttributesTest, OnlySetsAttributesAndLeavesNameTextAndOthers) {
  RegisterCommonPictures();
  XmlDocument doc;
  ASSERT_TRUE(ParseDocument(doc, std::string_view(R"(<M _keyImg="single" _sModeDraw="MUL">t</M>)")).ok());
  WidgetElement element;
  element.name = "button";
  element.text = "kept";
  element.SetAttribute(WidgetAttribute::keyText, "K");
  element.SetAttribute(WidgetAttribute::img, "replaced.png");
  ConvertSpriteAttributes(Read(doc.Element(doc.FirstElement())), element);
  EXPECT_EQ(element.name, "button");
  EXPECT_EQ(element.text, "kept");
  const Attributes expected = {{"mode", "2"}, {"img", "pics/single.png"}, {"rect", ",,,,,,,"}, {"key_text", "K"}};
  EXPECT_EQ(InOrder(element), expected) << Show(InOrder(element));
}

// ---------------------------------------------------------------------------------------------
// Control and effect widgets

struct WidgetCase {
  const char* label;
  Translation translate;
  const char* module;
  const char* name;
  const char* text;
  Attributes expected;
};

void CheckWidgets(const std::vector<WidgetCase>& cases, const PictureLookup& lookup) {
  for (const WidgetCase& c : cases) {
    XmlDocument doc;
    ASSERT_TRUE(ParseDocument(doc, std::string_view(c.module)).ok()) << c.label;
    WidgetElement element = StaleElement();
    c.translate(ModuleAttributes(doc.Element(doc.FirstElement()), lookup), element);
    EXPECT_EQ(element.name, c.name) << c.label;
    EXPECT_EQ(element.text, c.text) << c.label;
    EXPECT_EQ(InOrder(element), c.expected)
        << c.label << "\n  got:" << Show(InOrder(element)) << "\n want:" << Show(c.expected);
  }
}

class ConvertControlWidgetTest : public ConvertTestBase {};

TEST_F(ConvertControlWidgetTest, TranslatesOwnAttributesAfterTheSpriteOnes) {
  RegisterCommonPictures();
  const std::vector<WidgetCase> cases = {
      {"button",
       ConvertButton,
       R"(<BTN_MODULE _keyImg="tall" _keyText="BTN_OK" _sFont="big" ld.x="1">ok</BTN_MODULE>)",
       "button",
       "ok",
       {{"font", "big"}, {"rows", "3"}, {"img", "pics/tall.png"}, {"rect", "1,,,,,,,"}, {"key_text", "BTN_OK"}}},
      {"button with empty key text and font",
       ConvertButton,
       R"(<BTN_MODULE _keyText="" _sFont=""/>)",
       "button",
       "",
       {{"rect", ",,,,,,,"}}},
      {"button: values pass as written",
       ConvertButton,
       R"(<BTN_MODULE _keyText=" a b " _sFont="x&amp;y"/>)",
       "button",
       "",
       {{"font", "x&amp;y"}, {"rect", ",,,,,,,"}, {"key_text", " a b "}}},
      {"check box carries the sprite attributes only",
       ConvertCheckBox,
       R"(<CHKBOX_MODULE _keyImg="grid" _colObj="255" _keyText="ignored" _sFont="ignored">c</CHKBOX_MODULE>)",
       "chkbox",
       "c",
       {{"color", "255,255,0,0"}, {"rows", "2"}, {"img", "pics/grid.png"}, {"rect", ",,,,,,,"}, {"cols", "3"}}},
      {"text",
       ConvertText,
       R"(<TEXT_MODULE _sFont="small" _iAlign="2" _keyText="T" _sModeDraw="MUL">t</TEXT_MODULE>)",
       "text",
       "t",
       {{"font", "small"}, {"mode", "2"}, {"rect", ",,,,,,,"}, {"align", "2"}, {"key_text", "T"}}},
      {"text with a word as alignment",
       ConvertText,
       R"(<TEXT_MODULE _iAlign="right"/>)",
       "text",
       "",
       {{"rect", ",,,,,,,"}, {"align", "right"}}},
      {"text without key text",
       ConvertText,
       R"(<TEXT_MODULE _sFont="f"/>)",
       "text",
       "",
       {{"font", "f"}, {"rect", ",,,,,,,"}}},
      {"list",
       ConvertList,
       R"(<LIST_MODULE _keyImg="back" _keyImgSelector="center" _sFont="l">l</LIST_MODULE>)",
       "list",
       "l",
       {{"font", "l"}, {"img_selector", "pics/center.png"}, {"img", "pics/back.png"}, {"rect", ",,,,,,,"}}},
      {"list with an unknown selector",
       ConvertList,
       R"(<LIST_MODULE _keyImgSelector="nosel"/>)",
       "list",
       "",
       {{"img_selector", ""}, {"rect", ",,,,,,,"}}},
      {"edit",
       ConvertEdit,
       R"(<EDIT_MODULE _sFont="e" _intNumChar="16">e</EDIT_MODULE>)",
       "edit",
       "e",
       {{"font", "e"}, {"cnt_chars", "16"}, {"rect", ",,,,,,,"}}},
      {"edit: the count passes as text",
       ConvertEdit,
       R"(<EDIT_MODULE _intNumChar="12abc"/>)",
       "edit",
       "",
       {{"cnt_chars", "12abc"}, {"rect", ",,,,,,,"}}},
      // Progress bars: the sprite picture moves to img_progress.
      {"progress: bar picture, no back",
       ConvertProgress,
       R"(<PROGRESS_MODULE _keyImg="bar"/>)",
       "progress",
       "",
       {{"img_progress", "pics/bar.png"}, {"img", ""}, {"rect", ",,,,,,,"}}},
      {"progress: bar and back",
       ConvertProgress,
       R"(<PROGRESS_MODULE _keyImg="bar" _keyImgBack="back">p</PROGRESS_MODULE>)",
       "progress",
       "p",
       {{"img_progress", "pics/bar.png"}, {"img", "pics/back.png"}, {"rect", ",,,,,,,"}}},
      {"progress: back only",
       ConvertProgress,
       R"(<PROGRESS_MODULE _keyImgBack="back"/>)",
       "progress",
       "",
       {{"img", "pics/back.png"}, {"rect", ",,,,,,,"}}},
      {"progress: unknown bar moves nothing",
       ConvertProgress,
       R"(<PROGRESS_MODULE _keyImg="nobar"/>)",
       "progress",
       "",
       {{"img", ""}, {"rect", ",,,,,,,"}}},
      {"progress: unknown bar, known back",
       ConvertProgress,
       R"(<PROGRESS_MODULE _keyImg="nobar" _keyImgBack="back"/>)",
       "progress",
       "",
       {{"img", "pics/back.png"}, {"rect", ",,,,,,,"}}},
      {"progress: unknown centre is written empty",
       ConvertProgress,
       R"(<PROGRESS_MODULE _keyImgCenter="nocenter"/>)",
       "progress",
       "",
       {{"rect", ",,,,,,,"}, {"img_center", ""}}},
      {"progress: all of it",
       ConvertProgress,
       R"(<PROGRESS_MODULE _keyImg="grid" _keyImgCenter="center" _keyImgBack="back" _fSpeed="1.25" _sModeDraw="ADD"/>)",
       "progress",
       "",
       {{"img_progress", "pics/grid.png"},
        {"speed", "1.25"},
        {"mode", "1"},
        {"rows", "2"},
        {"img", "pics/back.png"},
        {"rect", ",,,,,,,"},
        {"cols", "3"},
        {"img_center", "pics/center.png"}}},
      {"progress: empty speed",
       ConvertProgress,
       R"(<PROGRESS_MODULE _fSpeed=""/>)",
       "progress",
       "",
       {{"rect", ",,,,,,,"}}},
      {"progress: speed passes as written",
       ConvertProgress,
       R"(<PROGRESS_MODULE _fSpeed=" fast "/>)",
       "progress",
       "",
       {{"speed", " fast "}, {"rect", ",,,,,,,"}}},
  };
  CheckWidgets(cases, lookup);
}

class ConvertEffectWidgetTest : public ConvertTestBase {};

TEST_F(ConvertEffectWidgetTest, JoinsValuesAndTranslatesTheSpriteAttributesLast) {
  RegisterCommonPictures();
  const std::string x31(31, 'x');
  const std::string y31(31, 'y');
  const std::string cloud63 = R"(<CLOUD_MODULE _fXVel=")" + x31 + R"(" _fYVel=")" + y31 + R"("/>)";
  const std::string long40a(40, 'a');
  const std::string long40b(40, 'b');
  const std::string waterLong = R"(<WATER_MODULE _fXScale=")" + long40a + R"(" _fYScale=")" + long40b + R"("/>)";
  const std::string leafLong = R"(<LEAF_MODULE _iLeft_up=")" + long40a + R"(" _iLeft_down=")" + long40b +
                               R"(" _iRight_down=")" + long40a + R"(" _iRight_up=")" + long40b + R"("/>)";
  const std::vector<WidgetCase> cases = {
      {"quad carries the sprite attributes only",
       ConvertQuad,
       R"(<QUAD_MODULE _keyImg="strip" _sModeDraw="ADD" _fXVel="1">q</QUAD_MODULE>)",
       "quad",
       "q",
       {{"mode", "1"}, {"img", "pics/strip.png"}, {"rect", ",,,,,,,"}, {"cols", "4"}}},
      {"cloud",
       ConvertCloud,
       R"(<CLOUD_MODULE _fXVel="7" _fYVel="8">c</CLOUD_MODULE>)",
       "cloud",
       "c",
       {{"vel", "7,8"}, {"rect", ",,,,,,,"}}},
      {"cloud without velocity", ConvertCloud, R"(<CLOUD_MODULE />)", "cloud", "", {{"vel", ","}, {"rect", ",,,,,,,"}}},
      {"cloud with x only",
       ConvertCloud,
       R"(<CLOUD_MODULE _fXVel="5"/>)",
       "cloud",
       "",
       {{"vel", "5,"}, {"rect", ",,,,,,,"}}},
      {"cloud with y only",
       ConvertCloud,
       R"(<CLOUD_MODULE _fYVel="6"/>)",
       "cloud",
       "",
       {{"vel", ",6"}, {"rect", ",,,,,,,"}}},
      {"cloud: blanks, percent and commas pass",
       ConvertCloud,
       R"(<CLOUD_MODULE _fXVel="1 %s" _fYVel="2,3"/>)",
       "cloud",
       "",
       {{"vel", "1 %s,2,3"}, {"rect", ",,,,,,,"}}},
      {"cloud: 31 and 31 bytes give 63",
       ConvertCloud,
       cloud63.c_str(),
       "cloud",
       "",
       {{"vel", x31 + "," + y31}, {"rect", ",,,,,,,"}}},
      {"water",
       ConvertWater,
       R"(<WATER_MODULE _keyImgMask="mask" _keyImgTexture="waves" _fXScale="2" _fYScale="3" _fXVel="0.5" _fYVel="-0.5">w</WATER_MODULE>)",
       "water",
       "w",
       {{"scale", "2,3"},
        {"vel", "0.5,-0.5"},
        {"img", "pics/mask.png"},
        {"rect", ",,,,,,,"},
        {"tex", "pics/waves.png"}}},
      {"water: the sprite picture replaces the mask",
       ConvertWater,
       R"(<WATER_MODULE _keyImgMask="mask" _keyImg="grid"/>)",
       "water",
       "",
       {{"scale", ","}, {"vel", ","}, {"rows", "2"}, {"img", "pics/grid.png"}, {"rect", ",,,,,,,"}, {"cols", "3"}}},
      {"water: an unknown sprite picture empties the mask's",
       ConvertWater,
       R"(<WATER_MODULE _keyImgMask="mask" _keyImg="nopic"/>)",
       "water",
       "",
       {{"scale", ","}, {"vel", ","}, {"img", ""}, {"rect", ",,,,,,,"}}},
      {"water: an empty sprite picture keeps the mask",
       ConvertWater,
       R"(<WATER_MODULE _keyImgMask="mask" _keyImg=""/>)",
       "water",
       "",
       {{"scale", ","}, {"vel", ","}, {"img", "pics/mask.png"}, {"rect", ",,,,,,,"}}},
      {"water: long scale written whole",
       ConvertWater,
       waterLong.c_str(),
       "water",
       "",
       {{"scale", long40a + "," + long40b}, {"vel", ","}, {"rect", ",,,,,,,"}}},
      {"leaf",
       ConvertLeaf,
       R"(<LEAF_MODULE _fCenterX="0.5" _fCenterY="0.25" _iLeft_up="1" _iLeft_down="2" _iRight_down="3" _iRight_up="4" _fAltitudeMax="100" _fVelMax="9" _fTimeOne="3" _keyImg="grid">l</LEAF_MODULE>)",
       "leaf",
       "l",
       {{"alt_max", "100"},
        {"enabled", "1,2,3,4"},
        {"rows", "2"},
        {"img", "pics/grid.png"},
        {"pivot", "0.5,0.25"},
        {"rect", ",,,,,,,"},
        {"time", "3"},
        {"cols", "3"},
        {"vel_max", "9"}}},
      {"leaf: right-hand down before up",
       ConvertLeaf,
       R"(<LEAF_MODULE _iRight_up="up" _iRight_down="down"/>)",
       "leaf",
       "",
       {{"enabled", ",,down,up"}, {"pivot", ","}, {"rect", ",,,,,,,"}}},
      {"leaf with only right-up",
       ConvertLeaf,
       R"(<LEAF_MODULE _iRight_up="1"/>)",
       "leaf",
       "",
       {{"enabled", ",,,1"}, {"pivot", ","}, {"rect", ",,,,,,,"}}},
      {"leaf with empty optional values",
       ConvertLeaf,
       R"(<LEAF_MODULE _fAltitudeMax="" _fVelMax="" _fTimeOne=""/>)",
       "leaf",
       "",
       {{"enabled", ",,,"}, {"pivot", ","}, {"rect", ",,,,,,,"}}},
      {"leaf: long enabled written whole",
       ConvertLeaf,
       leafLong.c_str(),
       "leaf",
       "",
       {{"enabled", long40a + "," + long40b + "," + long40a + "," + long40b}, {"pivot", ","}, {"rect", ",,,,,,,"}}},
  };
  CheckWidgets(cases, lookup);
}

// The builder reuses one working element: nothing of one widget may reach the next.
TEST_F(ConvertControlWidgetTest, NothingLeaksFromOneWidgetToTheNext) {
  RegisterCommonPictures();
  XmlDocument doc;
  ASSERT_TRUE(
      ParseDocument(
          doc,
          std::string_view(
              R"(<S><BTN_MODULE _keyText="K" _sFont="F" _keyImg="grid">b</BTN_MODULE><TEXT_MODULE /><LEAF_MODULE _fTimeOne="1"/><CLOUD_MODULE /></S>)"))
          .ok());
  const ElementRef button = doc.FirstChild(doc.FirstElement());
  const ElementRef text = doc.NextSibling(button);
  const ElementRef leaf = doc.NextSibling(text);
  const ElementRef cloud = doc.NextSibling(leaf);
  WidgetElement working;
  ConvertButton(Read(doc.Element(button)), working);
  ConvertText(Read(doc.Element(text)), working);
  EXPECT_EQ(working.text, "");
  EXPECT_EQ(InOrder(working), (Attributes{{"rect", ",,,,,,,"}})) << Show(InOrder(working));
  ConvertLeaf(Read(doc.Element(leaf)), working);
  ConvertCloud(Read(doc.Element(cloud)), working);
  EXPECT_EQ(working.name, "cloud");
  EXPECT_EQ(InOrder(working), (Attributes{{"vel", ","}, {"rect", ",,,,,,,"}})) << Show(InOrder(working));
}

}  // namespace
}  // namespace menuconv
