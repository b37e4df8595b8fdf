// The widget translations, the picture list, the menu builder and the walk over the editor
// document, each called directly.
//
// Expected attribute lists are written in the store's iteration order. For the names a widget
// element can carry (never more than 32, so 8 buckets) that order is:
//   color, alt_max, enabled, font, img_selector, img_progress, scale, speed, vel, mode, rows,
//   cnt_chars, img, pivot, rect, align, key_text, time, cols, tex, vel_max, img_center
// and for the six attributes of the root:
//   ddur, dtr, on_del_anim, cdur, ctr, on_create_anim
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/resource.h>
#include <sys/stat.h>
#endif

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "app/menu_output.h"
#include "app/run.h"
#include "convert/menu_builder.h"
#include "convert/picture_registry.h"
#include "convert/widgets.h"
#include "tests/test_support.h"
#include "xml/document_writer.h"
#include "xml/xml_document.h"
#include "xml/xml_element.h"
#include "xml/xml_parser.h"

namespace menuconv {
namespace {

namespace fs = std::filesystem;

using Attributes = std::vector<std::pair<std::string, std::string>>;
using Translation = void (*)(const ModuleAttributes&, WidgetElement&);

Attributes InOrder(const WidgetElement& element) {
  Attributes list;
  element.ForEachAttribute([&list](std::string_view name, std::string_view value) {
    list.emplace_back(std::string(name), std::string(value));
  });
  return list;
}

std::string Show(const Attributes& list) {
  std::string s;
  for (const auto& [name, value] : list) s += " " + name + "=[" + value + "]";
  return s;
}

struct Message {
  std::string caption;
  std::string text;
};

// Records what the run shows instead of showing it: warnings and messages apart, or all in
// one list in the order shown.
class RecordingReporter final : public Reporter {
 public:
  void Failure(const std::string& caption, const std::string& text, const std::vector<std::string>&,
               const std::vector<std::string>&) override {
    if (events) events->push_back(caption + ": " + text);
    messages.push_back(Message{caption, text});
  }
  void Warning(const std::string&, const std::string& text) override {
    if (events) events->push_back("warning: " + text);
    warnings.push_back(text);
  }
  std::vector<std::string> warnings;
  std::vector<Message> messages;
  std::vector<std::string>* events = nullptr;
};

// Every test starts with a run of its own, whose picture list is empty.
class ConvertTestBase : public ::testing::Test {
 protected:
  void Register(const std::string& name, const std::string& path, int32_t column = 1, int32_t row = 1) {
    context.pictures.Insert(name, PictureEntry{path, column, row});
  }

  // The pictures the translation tables below refer to.
  void RegisterCommonPictures() {
    Register("grid", "pics/grid.png", 3, 2);
    Register("single", "pics/single.png");
    Register("strip", "pics/strip.png", 4, 1);
    Register("tall", "pics/tall.png", 1, 3);
    Register("back", "pics/back.png");
    Register("center", "pics/center.png");
    Register("bar", "pics/bar.png");
    Register("mask", "pics/mask.png");
    Register("waves", "pics/waves.png");
    Register("zero", "pics/zero.png", 0, 0);
    Register("negative", "pics/negative.png", -2, 7);
  }

  // Warnings and messages from here on go into one list too, in the order shown.
  void RecordEventsInto(std::vector<std::string>& events) { reporter.events = &events; }

  // The module's attributes, its pictures looked up in the run's list.
  ModuleAttributes Read(const ElementView& module) const { return ModuleAttributes(module, lookup); }

  RecordingReporter reporter;
  RunContext context{reporter};
  std::vector<std::string>& warnings = reporter.warnings;
  std::vector<Message>& messages = reporter.messages;
  std::vector<BuildNote> notes;
  const PictureLookup lookup{context.pictures, notes};
};

// A working element still holding a previous widget, as the menu builder passes it.
WidgetElement StaleElement() {
  WidgetElement e;
  e.name = "stale";
  e.text = "old text";
  e.SetAttribute(WidgetAttribute::keyText, "OLD");
  e.SetAttribute(WidgetAttribute::img, "old.png");
  e.SetAttribute(WidgetAttribute::velMax, "1");
  return e;
}

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
    ASSERT_TRUE(ParseDocument(doc, std::string_view(c.module)).ok) << c.label;
    WidgetElement element;
    ConvertSpriteAttributes(Read(doc.Element(doc.FirstElement())), element);
    EXPECT_EQ(InOrder(element), c.expected)
        << c.label << "\n  got:" << Show(InOrder(element)) << "\n want:" << Show(c.expected);
  }
}

TEST_F(ConvertSpriteAttributesTest, OnlySetsAttributesAndLeavesNameTextAndOthers) {
  RegisterCommonPictures();
  XmlDocument doc;
  ASSERT_TRUE(ParseDocument(doc, std::string_view(R"(<M _keyImg="single" _sModeDraw="MUL">t</M>)")).ok);
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
    ASSERT_TRUE(ParseDocument(doc, std::string_view(c.module)).ok) << c.label;
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
          .ok);
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

// ---------------------------------------------------------------------------------------------
// Picture list

class PictureRegistryTest : public ConvertTestBase {};

struct PictureExpectation {
  const char* name;
  bool present;
  const char* path;
  int32_t column;
  int32_t row;
};

TEST_F(PictureRegistryTest, RegistersDirectImageModulesFirstOfANameWins) {
  XmlDocument doc;
  ASSERT_TRUE(
      ParseDocument(doc, std::string_view("<PICTURES_MODULE>"
                                          "<IMAGE_MODULE path=\"a.png\" column=\"3\" row=\"2\">dup</IMAGE_MODULE>"
                                          "<IMAGE_MODULE path=\"b.png\" column=\"5\" row=\"6\">dup</IMAGE_MODULE>"
                                          "<IMAGE_MODULE column=\"2\">nopath</IMAGE_MODULE>"
                                          "<IMAGE_MODULE path=\"grid.png\">nogrid</IMAGE_MODULE>"
                                          "<IMAGE_MODULE path=\"e.png\" column=\"\" row=\"7x\">emptycol</IMAGE_MODULE>"
                                          "<image_module path=\"lower.png\">lower</image_module>"
                                          "<IMAGE_MODULES path=\"longer.png\">longer</IMAGE_MODULES>"
                                          "<GROUP><IMAGE_MODULE path=\"deep.png\">deep</IMAGE_MODULE></GROUP>"
                                          "<IMAGE_MODULE path=\"w.png\">two words</IMAGE_MODULE>"
                                          "<IMAGE_MODULE path=\"case.png\">lowercase</IMAGE_MODULE>"
                                          "<IMAGE_MODULE path=\"none.png\"></IMAGE_MODULE>"
                                          "</PICTURES_MODULE>"))
          .ok);
  PictureRegistry registry;
  registry.Insert("stale", PictureEntry{"stale.png", 1, 1});
  ConvertPictures(doc.FirstElement(), doc, registry);

  const std::vector<PictureExpectation> expected = {
      {"dup", true, "a.png", 3, 2},       {"nopath", true, "", 2, 1},
      {"nogrid", true, "grid.png", 1, 1}, {"emptycol", true, "e.png", 0, 7},
      {"lower", false, "", 0, 0},         {"longer", false, "", 0, 0},
      {"deep", false, "", 0, 0},          {"twowords", true, "w.png", 1, 1},
      {"two words", false, "", 0, 0},     {"lowercase", true, "case.png", 1, 1},
      {"Lowercase", false, "", 0, 0},     {"", true, "none.png", 1, 1},
      {"stale", false, "", 0, 0},  // the list replaces what the registry held
  };
  for (const PictureExpectation& e : expected) {
    const PictureEntry* entry = registry.Find(e.name);
    ASSERT_EQ(entry != nullptr, e.present) << "[" << e.name << "]";
    if (!entry) continue;
    EXPECT_EQ(entry->path, e.path) << e.name;
    EXPECT_EQ(entry->column, e.column) << e.name;
    EXPECT_EQ(entry->row, e.row) << e.name;
  }
  EXPECT_EQ(registry.Size(), 7u);
  EXPECT_TRUE(warnings.empty());
}

TEST_F(PictureRegistryTest, EmptyPictureListLeavesTheRegistryEmpty) {
  XmlDocument doc;
  ASSERT_TRUE(ParseDocument(doc, std::string_view("<PICTURES_MODULE>  </PICTURES_MODULE>")).ok);
  PictureRegistry registry;
  registry.Insert("old", PictureEntry{"old.png", 1, 1});
  ConvertPictures(doc.FirstElement(), doc, registry);
  EXPECT_EQ(registry.Size(), 0u);
}

TEST_F(PictureRegistryTest, LookupOfAnUndefinedNameGivesAnEmptySinglePictureAndANote) {
  Register("back", "back.png", 2, 3);
  const PictureEntry& known = lookup("back");
  EXPECT_EQ(known.path, "back.png");
  EXPECT_EQ(known.column, 2);
  EXPECT_EQ(known.row, 3);
  EXPECT_TRUE(notes.empty());

  // Names are compared exactly; the registry itself is left alone, so that several threads
  // may look up at once.
  for (int i = 0; i < 2; ++i) {
    const PictureEntry& undefined = lookup("Back");
    EXPECT_EQ(undefined.path, "");
    EXPECT_EQ(undefined.column, 1);
    EXPECT_EQ(undefined.row, 1);
  }
  EXPECT_EQ(context.pictures.Size(), 1u);
  ASSERT_EQ(notes.size(), 2u);
  EXPECT_EQ(notes[0].kind, BuildNote::Kind::kUndefinedPicture);
  EXPECT_EQ(notes[0].name, "Back");
  EXPECT_TRUE(warnings.empty());
}

// ---------------------------------------------------------------------------------------------
// Menu builder: these tests write files, so each runs in a fresh folder of its own.

class ScratchFolder {
 public:
  ScratchFolder() {
    folder_ = testing_support::MakeTempFolder("menuconv-convert");
    previous_ = fs::current_path();
    fs::current_path(folder_);
  }
  ~ScratchFolder() {
    std::error_code ignored;
    fs::current_path(previous_, ignored);
    fs::remove_all(folder_, ignored);
  }
  const fs::path& path() const { return folder_; }

  // Every regular file below the folder, as relative paths with "/".
  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(folder_)) {
      if (entry.is_regular_file()) names.push_back(fs::relative(entry.path(), folder_).generic_string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  fs::path folder_;
  fs::path previous_;
};

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A saved menu document: the declaration, then the lines, each behind CR LF, then one 0x00.
std::string MenuFile(const std::string& encoding, const std::vector<std::string>& lines) {
  std::string file = "<?xml version=\"1.0\" encoding=\"" + encoding + "\" ?>";
  for (const std::string& line : lines) file += "\r\n" + line;
  file += '\0';
  return file;
}

// The UTF-8 file of the document's first screen built in one piece and written in one step,
// the reference for what building in pieces on two threads and writing as they come gives.
std::string WholeScreenFile(const XmlDocument& doc, const PictureRegistry& pictures) {
  const ElementRef screen = doc.FirstChild(doc.FirstElement());
  std::vector<BuildNote> ignored;
  MenuText text(screen, doc);
  std::vector<ByteBuffer> parts = text.Add(BuildMenuPiece(doc.FirstChild(screen), SIZE_MAX, doc, pictures));
  for (ByteBuffer& part : text.Finish()) parts.push_back(std::move(part));
  ByteBuffer whole;
  for (const ByteBuffer& part : parts) whole.Append(part.view());
  std::string file;
  DocumentWriter writer("utf-8", 65001, 0, [&file](const std::vector<std::string_view>& bytes) {
    for (std::string_view b : bytes) file += b;
    return Status::Success();
  });
  EXPECT_TRUE(writer.Append(std::move(whole)).ok);
  EXPECT_TRUE(writer.Finish().ok);
  return file;
}

class MenuBuilderTest : public ConvertTestBase {
 protected:
  // Parses the editor text (held as UTF-8 in memory) and converts its screens.
  bool Convert(std::string_view text) {
    const Status status = ParseDocument(input, text);
    EXPECT_TRUE(status.ok);
    input.codePage = 1251;
    return ConvertDocument(input, context).ok;
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
  ASSERT_TRUE(status.ok);
  const std::vector<std::pair<uint32_t, std::string>> encodings = {{1251, "windows-1251"}, {65001, "utf-8"}};
  // U+042F and U+0416: D0 AF and D0 96 in UTF-8, DF and C6 in windows-1251.
  const std::vector<std::string> bodies = {"\xC6", "\xD0\x96"};
  const std::vector<std::string> texts = {"\xDF", "\xD0\xAF"};
  for (std::size_t i = 0; i < encodings.size(); ++i) {
    input.codePage = encodings[i].first;
    ASSERT_TRUE(ConvertDocument(input, context).ok);
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
  ASSERT_TRUE(ParseDocument(second, std::string_view("<MENU_MODULE ctr=\"second\">same</MENU_MODULE>")).ok);
  second.codePage = 1251;
  ASSERT_TRUE(ConvertDocument(second, context).ok);
  EXPECT_EQ(
      ReadFile("same.xml"),
      MenuFile("windows-1251", {R"(<menu ddur="" dtr="" on_del_anim="" cdur="" ctr="second" on_create_anim=""/>)"}));
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find("same.xml"), std::string::npos) << warnings[0];

  // Other spellings of the same file.
  for (const char* screen : {"./same", ".//same"}) {
    warnings.clear();
    XmlDocument again;
    ASSERT_TRUE(ParseDocument(again, std::string_view(std::string("<MENU_MODULE>") + screen + "</MENU_MODULE>")).ok);
    again.codePage = 1251;
    ASSERT_TRUE(ConvertDocument(again, context).ok);
    EXPECT_EQ(warnings.size(), 1u) << screen;
  }
  // A different file is no repetition.
  warnings.clear();
  XmlDocument different;
  ASSERT_TRUE(ParseDocument(different, std::string_view("<MENU_MODULE>same2</MENU_MODULE>")).ok);
  different.codePage = 1251;
  ASSERT_TRUE(ConvertDocument(different, context).ok);
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
    ASSERT_TRUE(ParseDocument(doc, std::string_view("<MENU_MODULE>" + c.screen + "</MENU_MODULE>")).ok);
    doc.codePage = 65001;
    EXPECT_FALSE(ConvertDocument(doc, context).ok) << c.label;
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
    ASSERT_TRUE(ParseDocument(doc, std::string_view("<MENU_MODULE>" + screen + "</MENU_MODULE>")).ok);
    doc.codePage = 65001;
    EXPECT_TRUE(ConvertDocument(doc, context).ok) << screen;
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
    ParseDocument(doc, std::string_view(c.document));
    doc.codePage = 65001;
    EXPECT_EQ(ConvertDocument(doc, context).ok, c.converted) << c.label;
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
          .ok);
  doc.codePage = 65001;
  ASSERT_TRUE(ConvertDocument(doc, context).ok);
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
          .ok);
  doc.codePage = 65001;
  EXPECT_FALSE(ConvertDocument(doc, context).ok);
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
                  .ok);
  doc.codePage = 65001;
  std::vector<std::string> events;
  RecordEventsInto(events);
  EXPECT_FALSE(ConvertDocument(doc, context).ok);
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
  ASSERT_TRUE(ParseDocument(doc, "<ROOT>" + big + pictures + small + "</ROOT>").ok);
  doc.codePage = 65001;
  ASSERT_TRUE(ConvertDocument(doc, context).ok);
  const std::vector<std::string> expected = {
      "picture \"u1\" is not defined in the picture list", "screen \"big\": ODD_MODULE is not converted",
      "screen \"big\": OTHER_MODULE is not converted",     "picture \"u2\" is not defined in the picture list",
      "picture \"u0\" is not defined in the picture list",
  };
  EXPECT_EQ(warnings, expected);
  EXPECT_TRUE(messages.empty());
  EXPECT_EQ(scratch.Files().size(), 21u);
  // The names looked up in vain are in the registry afterwards, as the lookups add them.
  for (const char* name : {"u0", "u1", "u2"}) {
    const PictureEntry* entry = context.pictures.Find(name);
    ASSERT_NE(entry, nullptr) << name;
    EXPECT_EQ(entry->path, "");
  }

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
    ASSERT_TRUE(ParseDocument(doc, "<ROOT>" + BigScreen("big", 1500, c.oddText) + "</ROOT>").ok);
    doc.codePage = 65001;
    // An older file of that name is replaced, keeping its permissions.
    testing_support::WriteBytes("big.xml", "old");
#ifndef _WIN32
    ASSERT_EQ(::chmod("big.xml", 0640), 0);
#endif
    warnings.clear();
    RunContext run(reporter);  // each case warns as a run of its own
    ASSERT_TRUE(ConvertDocument(doc, run).ok);
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
  ASSERT_TRUE(ParseDocument(doc, "<ROOT>" + BigScreen("missing/big") + BigScreen("next") + "</ROOT>").ok);
  doc.codePage = 65001;
  std::vector<std::string> events;
  RecordEventsInto(events);
  EXPECT_FALSE(ConvertDocument(doc, context).ok);
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
  ASSERT_TRUE(ParseDocument(doc, "<ROOT>" + BigScreen("big") + "</ROOT>").ok);
  doc.codePage = 65001;
  testing_support::WriteBytes("big.xml", "old");
  // Files may not grow past 64 KiB: the second piece no longer fits.
  const bool converted =
      testing_support::WithFileSizeLimit(64 * 1024, [&] { return ConvertDocument(doc, context).ok; });
  EXPECT_FALSE(converted);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].caption, "big.xml");
  EXPECT_EQ(ReadFile("big.xml"), "old");
  EXPECT_EQ(scratch.Files(), (std::vector<std::string>{"big.xml"}));
}
#endif

}  // namespace
}  // namespace menuconv
