// The one-pass reader of module attributes and the fixed-slot widget element, checked against
// the general element model they stand in for.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

#include "convert/module_attributes.h"
#include "convert/widget_element.h"
#include "xml/xml_document.h"
#include "xml/xml_element.h"
#include "xml/xml_parser.h"

namespace menuconv {
namespace {

constexpr std::size_t kModuleCount = static_cast<std::size_t>(ModuleAttribute::kCount);
constexpr std::size_t kWidgetCount = static_cast<std::size_t>(WidgetAttribute::kCount);

TEST(ModuleAttributes, EveryNameIsRecognisedAndNearMissesAreNot) {
  for (std::size_t i = 0; i < kModuleCount; ++i) {
    const auto attribute = static_cast<ModuleAttribute>(i);
    const std::string name(ModuleAttributeName(attribute));
    ASSERT_EQ(FindModuleAttribute(name), attribute) << name;
    // One byte more, one less, or one changed at either end or in the middle is another name.
    const std::vector<std::string> misses = {
        name + "x",
        "x" + name,
        name.substr(1),
        name.substr(0, name.size() - 1),
        std::string(1, static_cast<char>(name[0] ^ 0x20)) + name.substr(1),
        name.substr(0, name.size() - 1) + static_cast<char>(name.back() ^ 0x20),
        name.substr(0, name.size() / 2) + '#' + name.substr(name.size() / 2 + 1),
    };
    for (const std::string& miss : misses) EXPECT_EQ(FindModuleAttribute(miss), std::nullopt) << miss;
  }
  for (const char* other : {"", "x", "ld.", "_bVisible", "_iLayer", "_keyImgSelectorX", "_keyImgSelector_long_name"}) {
    EXPECT_EQ(FindModuleAttribute(other), std::nullopt) << other;
  }
}

struct ReadCase {
  const char* label;
  const char* module;
  std::vector<std::pair<ModuleAttribute, const char*>> present;  // every other name is absent
};

TEST(ModuleAttributes, ReadsWhatFindAttributeWouldGive) {
  const std::vector<ReadCase> cases = {
      {"none", "<M/>", {}},
      {"unknown names only", R"(<M _bVisible="1" zz="2">t</M>)", {}},
      {"the first of a repeated name counts",
       R"(<M _sFont="a" _sFont="b" ld.x="1"/>)",
       {{ModuleAttribute::sFont, "a"}, {ModuleAttribute::ldX, "1"}}},
      {"blanks before the = are not part of the name",
       "<M _keyImg \t= 'p' ru.y\n=\"9\"/>",
       {{ModuleAttribute::keyImg, "p"}, {ModuleAttribute::ruY, "9"}}},
      {"an empty value is present", R"(<M _colObj=""/>)", {{ModuleAttribute::colObj, ""}}},
      {"values keep blanks and quotes of the other kind",
       R"(<M _keyText=' "a" ' _fSpeed=" 1 "/>)",
       {{ModuleAttribute::keyText, R"( "a" )"}, {ModuleAttribute::fSpeed, " 1 "}}},
  };
  for (const ReadCase& c : cases) {
    XmlDocument doc;
    ASSERT_TRUE(ParseDocument(doc, std::string_view(c.module)).ok()) << c.label;
    const ElementView view = doc.Element(doc.FirstElement());
    const PictureRegistry pictures;
    std::vector<BuildNote> notes;
    const PictureLookup lookup(pictures, notes);
    const ModuleAttributes module(view, lookup);
    EXPECT_EQ(module.Text(), view.Text()) << c.label;
    for (std::size_t i = 0; i < kModuleCount; ++i) {
      const auto attribute = static_cast<ModuleAttribute>(i);
      // The general lookup is the reference.
      EXPECT_EQ(module.Find(attribute), view.FindAttribute(ModuleAttributeName(attribute)))
          << c.label << ": " << ModuleAttributeName(attribute);
    }
    for (const auto& [attribute, value] : c.present) EXPECT_EQ(module.Find(attribute), value) << c.label;
  }
}

TEST(ModuleAttributes, ReadingAnotherModuleForgetsTheFirst) {
  XmlDocument doc;
  ASSERT_TRUE(ParseDocument(doc, std::string_view(R"(<S><A _sFont="f" ld.x="1">a</A><B ld.y="2"/></S>)")).ok());
  const ElementRef first = doc.FirstChild(doc.FirstElement());
  const PictureRegistry pictures;
  std::vector<BuildNote> notes;
  const PictureLookup lookup(pictures, notes);
  ModuleAttributes module(doc.Element(first), lookup);
  module.Read(doc.Element(doc.NextSibling(first)));
  EXPECT_EQ(module.Find(ModuleAttribute::sFont), std::nullopt);
  EXPECT_EQ(module.Find(ModuleAttribute::ldX), std::nullopt);
  EXPECT_EQ(module.Value(ModuleAttribute::ldY), "2");
  EXPECT_EQ(module.Text(), "");
}

using Listed = std::vector<std::pair<std::string, std::string>>;

Listed ListOf(const WidgetElement& element) {
  Listed list;
  element.ForEachAttribute([&list](std::string_view n, std::string_view v) { list.emplace_back(n, v); });
  return list;
}

Listed ListOf(const XmlElement& element) {
  Listed list;
  element.attributes.ForEach([&list](std::string_view n, std::string_view v) { list.emplace_back(n, v); });
  return list;
}

// Random subsets set in random order, some replaced: the widget element lists what an
// attribute store given the same calls lists.
TEST(WidgetElement, ListsAnySubsetAsAnAttributeStoreWould) {
  std::mt19937 random(20261207);
  WidgetElement widget;
  for (int round = 0; round < 500; ++round) {
    XmlElement reference;
    widget.ClearAttributes();
    const int calls = static_cast<int>(random() % 40);
    for (int call = 0; call < calls; ++call) {
      const auto attribute = static_cast<WidgetAttribute>(random() % kWidgetCount);
      const std::string value = std::to_string(random() % 1000) + std::string(random() % 30, 'v');
      widget.SetAttribute(attribute, value);
      reference.SetAttribute(WidgetAttributeName(attribute), value);
    }
    ASSERT_EQ(ListOf(widget), ListOf(reference)) << "round " << round;
    ASSERT_EQ(widget.AttributeCount(), reference.attributes.Size());
  }
}

TEST(WidgetElement, ValuesBuiltInPiecesAndCopiedFromOneAnother) {
  WidgetElement widget;
  widget.SetAttribute(WidgetAttribute::img, std::string(100, 'p'));  // long enough to move storage
  widget.BeginValue(WidgetAttribute::rect);
  for (const char* part : {"1", ",", "", ",", "22"}) widget.AppendToValue(part);
  widget.SetAttributeInt(WidgetAttribute::cols, -2147483647 - 1);
  // A value copied from another attribute survives the storage growing under it.
  for (int i = 0; i < 8; ++i) {
    widget.SetAttribute(WidgetAttribute::imgProgress, *widget.FindAttribute(WidgetAttribute::img));
  }
  widget.SetAttribute(WidgetAttribute::img, "");
  EXPECT_EQ(widget.FindAttribute(WidgetAttribute::rect), "1,,22");
  EXPECT_EQ(widget.FindAttribute(WidgetAttribute::cols), "-2147483648");
  EXPECT_EQ(widget.FindAttribute(WidgetAttribute::imgProgress), std::string(100, 'p'));
  EXPECT_EQ(widget.FindAttribute(WidgetAttribute::img), "");
  EXPECT_EQ(widget.FindAttribute(WidgetAttribute::font), std::nullopt);
  widget.ClearAttributes();
  EXPECT_EQ(widget.AttributeCount(), 0u);
  EXPECT_EQ(widget.FindAttribute(WidgetAttribute::rect), std::nullopt);
}

}  // namespace
}  // namespace menuconv
