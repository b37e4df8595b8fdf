// The picture list, read directly.
#include <gtest/gtest.h>

#include <cstring>
#include <utility>

#include "platform/large_blocks.h"
#include "tests/convert_support.h"

namespace menuconv {
namespace {

using namespace convert_tests;

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
          .ok());
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

// What a backer of the index's memory was last given; the scribbling one writes over it, as
// nothing keeps a backer from doing, so that slots left as it found them would show.
std::size_t backedBytes = 0;
void ScribblingBacker(void* data, std::size_t bytes) {
  std::memset(data, 0xA5, bytes);
  backedBytes = bytes;
}

TEST(PictureRegistry, NamesAndPathsStayWhereTheyAreAsTheRegistryFills) {
  // Enough entries for several blocks of names and paths, one path longer than a block, and
  // every entry found afterwards with its own path: what is stored never moves. With each
  // backer of the index's memory, the system's among them: backing changes no entry.
  const std::pair<const char*, PictureRegistry::BackWithMemory> backers[] = {
      {"none", nullptr}, {"scribbling", ScribblingBacker}, {"the system's", platform::BackWithMemory}};
  const auto pathOf = [](int i) {
    return i == 1500 ? std::string(std::size_t{100} << 10, 'p') : "gfx/menu/picture_" + std::to_string(i) + ".png";
  };
  for (const auto& [label, backer] : backers) {
    SCOPED_TRACE(label);
    PictureRegistry registry(backer);
    backedBytes = 0;
    registry.Clear(5000);  // sized as the picture list sizes it
    if (backer == ScribblingBacker) {
      ASSERT_GE(backedBytes, 2 * 5000 * sizeof(PictureEntry));
    }
    std::vector<std::string> names;
    for (int i = 0; i < 5000; ++i) {
      names.push_back("pic_" + std::to_string(i));
      const std::string path = pathOf(i);
      ASSERT_TRUE(registry.Insert(names.back(), PictureEntry{path, i, 1}));
    }
    EXPECT_FALSE(registry.Insert("pic_7", PictureEntry{"other.png", 1, 1}));
    EXPECT_EQ(registry.Find("pic_5000"), nullptr);
    for (int i = 0; i < 5000; ++i) {
      const PictureEntry* entry = registry.Find(names[static_cast<std::size_t>(i)]);
      ASSERT_NE(entry, nullptr) << i;
      ASSERT_EQ(entry->path, pathOf(i)) << i;
      ASSERT_EQ(entry->column, i);
    }
  }
}

TEST_F(PictureRegistryTest, EmptyPictureListLeavesTheRegistryEmpty) {
  XmlDocument doc;
  ASSERT_TRUE(ParseDocument(doc, std::string_view("<PICTURES_MODULE>  </PICTURES_MODULE>")).ok());
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

}  // namespace
}  // namespace menuconv
