// Inputs found by the fuzzers, reduced; each once crashed or broke a property.
#include <gtest/gtest.h>

#include <string>

#include "xml/xml_parser.h"

namespace menuconv {
namespace {

TEST(FuzzRegression, BlanksBeforeASlashGiveAnEmptyAttributeList) {
  // The attribute list was taken to end before the blanks that preceded the "/".
  const std::string text(
      "<a\x11\0\0"
      "1\"  /~< a=lo>",
      19);
  XmlDocument document;
  // The text ends inside an element; what was read before is what this test is about.
  (void)ParseDocument(document, text);
  ASSERT_EQ(document.ElementCount(), 1u);
  const ElementView a = document.Element(document.FirstElement());
  EXPECT_EQ(a.Name(), std::string("a\x11\0\0"
                                  "1\"",
                                  6));
  EXPECT_EQ(a.AttributeCount(), 0u);
  EXPECT_TRUE(a.OrderedAttributes().empty());
}

}  // namespace
}  // namespace menuconv
