#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "xml/element_ref.h"
#include "xml/xml_document.h"
#include "xml/xml_element.h"

namespace menuconv {
namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

// The attributes of a free-standing element in the store's iteration order.
Pairs StoreOrder(const XmlElement& element) {
  Pairs out;
  element.attributes.ForEach([&out](std::string_view name, std::string_view value) { out.emplace_back(name, value); });
  return out;
}

// The attributes of a stored element in the store's iteration order.
Pairs StoredOrder(const XmlDocument& doc, ElementRef e) {
  Pairs out;
  for (const auto& [name, value] : doc.Element(e).OrderedAttributes()) out.emplace_back(name, value);
  return out;
}

Pairs ForEachOrder(const XmlDocument& doc, ElementRef e) {
  Pairs out;
  doc.Element(e).ForEachAttribute(
      [&out](std::string_view name, std::string_view value) { out.emplace_back(name, value); });
  return out;
}

std::vector<std::string> NamesOf(const Pairs& pairs) {
  std::vector<std::string> names;
  for (const auto& p : pairs) names.push_back(p.first);
  return names;
}

// An independent model of the attribute order, in 64-bit arithmetic: FNV-1 with
// sign-extended bytes, one Park-Miller step by plain multiplication and remainder, the
// bucket by mask, then unsigned byte order of the names within a bucket.
uint32_t ModelBucket(const std::string& name, uint32_t buckets) {
  uint64_t h = 2166136261u;
  for (char ch : name) {
    const int64_t c = static_cast<signed char>(ch);
    h = (h * 16777619u) % 4294967296u;
    h ^= static_cast<uint32_t>(static_cast<int32_t>(c));
  }
  const uint64_t x = h & 2147483647u;
  const uint64_t s = (16807u * x) % 2147483647u;
  return static_cast<uint32_t>(s) & (buckets - 1);
}

bool ModelNameLess(const std::string& a, const std::string& b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const auto ca = static_cast<unsigned char>(a[i]);
    const auto cb = static_cast<unsigned char>(b[i]);
    if (ca != cb) return ca < cb;
  }
  return a.size() < b.size();
}

std::vector<std::string> ModelOrder(std::vector<std::string> names, uint32_t buckets) {
  std::sort(names.begin(), names.end(), [buckets](const std::string& a, const std::string& b) {
    const uint32_t ba = ModelBucket(a, buckets);
    const uint32_t bb = ModelBucket(b, buckets);
    if (ba != bb) return ba < bb;
    return ModelNameLess(a, b);
  });
  return names;
}

std::vector<std::string> GeneratedNames(int count) {
  std::vector<std::string> names;
  for (int i = 0; i < count; ++i) names.push_back("_attr" + std::to_string(i));
  return names;
}

// ---------------------------------------------------------------------------------------
// Navigation and linking

TEST(XmlDocumentLinks, EmptyDocumentHasNoFirstElement) {
  XmlDocument doc;
  EXPECT_TRUE(doc.FirstElement().IsNone());
  EXPECT_EQ(doc.ElementCount(), 0u);
  EXPECT_TRUE(doc.Empty());
}

TEST(XmlDocumentLinks, TopLevelElementsFormOneChain) {
  XmlDocument doc;
  XmlElement element;
  element.name = "first";
  const ElementRef a = doc.AppendChild(ElementRef::None(), element);
  EXPECT_EQ(a, doc.FirstElement());
  EXPECT_EQ(a, ElementRef(0));

  element.name = "second";
  const ElementRef b = doc.AppendChild(ElementRef::None(), element);
  element.name = "third";
  const ElementRef c = doc.AppendChild(ElementRef::None(), element);
  ASSERT_EQ(b, ElementRef(1));
  ASSERT_EQ(c, ElementRef(2));

  struct Links {
    ElementRef e, parent, firstChild, next, prev;
    const char* name;
  };
  const ElementRef none = ElementRef::None();
  const std::vector<Links> expected = {
      {a, none, none, b, none, "first"},
      {b, none, none, c, a, "second"},
      {c, none, none, none, b, "third"},
  };
  for (const Links& l : expected) {
    SCOPED_TRACE(l.name);
    EXPECT_EQ(doc.Parent(l.e), l.parent);
    EXPECT_EQ(doc.FirstChild(l.e), l.firstChild);
    EXPECT_EQ(doc.NextSibling(l.e), l.next);
    EXPECT_EQ(doc.PrevSibling(l.e), l.prev);
    EXPECT_EQ(doc.Element(l.e).Name(), l.name);
  }
  EXPECT_EQ(doc.ElementCount(), 3u);
}

TEST(XmlDocumentLinks, ChildrenChainInOrderOfAppending) {
  XmlDocument doc;
  XmlElement element;
  element.name = "menu";
  const ElementRef root = doc.AppendChild(ElementRef::None(), element);
  element.name = "sprite";
  const ElementRef c1 = doc.AppendChild(root, element);
  EXPECT_EQ(doc.FirstChild(root), c1);
  element.name = "button";
  const ElementRef c2 = doc.AppendChild(root, element);
  EXPECT_EQ(doc.FirstChild(root), c1) << "a later child leaves firstChild unchanged";
  element.name = "inner";
  const ElementRef g = doc.AppendChild(c1, element);
  element.name = "text";
  const ElementRef c3 = doc.AppendChild(root, element);

  // Every element stands after its parent, in the order of the calls.
  EXPECT_EQ(c1, ElementRef(1));
  EXPECT_EQ(c2, ElementRef(2));
  EXPECT_EQ(g, ElementRef(3));
  EXPECT_EQ(c3, ElementRef(4));

  struct Links {
    ElementRef e, parent, firstChild, next, prev;
  };
  const ElementRef none = ElementRef::None();
  const std::vector<Links> expected = {
      {root, none, c1, none, none}, {c1, root, g, c2, none},    {c2, root, none, c3, c1},
      {g, c1, none, none, none},    {c3, root, none, none, c2},
  };
  for (const Links& l : expected) {
    SCOPED_TRACE(l.e.index);
    EXPECT_EQ(doc.Parent(l.e), l.parent);
    EXPECT_EQ(doc.FirstChild(l.e), l.firstChild);
    EXPECT_EQ(doc.NextSibling(l.e), l.next);
    EXPECT_EQ(doc.PrevSibling(l.e), l.prev);
  }
  // The views give the same links.
  const ElementView v = doc.Element(c2);
  EXPECT_EQ(v.ref(), c2);
  EXPECT_EQ(v.Parent(), root);
  EXPECT_EQ(v.FirstChild(), none);
  EXPECT_EQ(v.NextSibling(), c3);
  EXPECT_EQ(v.PrevSibling(), c1);
}

TEST(XmlDocumentLinks, AppendChildOverwritesTheLinksOfTheCopy) {
  XmlDocument doc;
  XmlElement element;
  element.name = "root";
  const ElementRef root = doc.AppendChild(ElementRef::None(), element);
  element.name = "child";
  element.parent = ElementRef(7);
  element.firstChild = ElementRef(8);
  element.nextSibling = ElementRef(9);
  element.prevSibling = ElementRef(10);
  const ElementRef child = doc.AppendChild(root, element);
  EXPECT_EQ(doc.Parent(child), root);
  EXPECT_TRUE(doc.FirstChild(child).IsNone());
  EXPECT_TRUE(doc.NextSibling(child).IsNone());
  EXPECT_TRUE(doc.PrevSibling(child).IsNone());
  // The caller's element keeps its own links.
  EXPECT_EQ(element.parent, ElementRef(7));
  EXPECT_EQ(element.nextSibling, ElementRef(9));
}

TEST(XmlDocumentLinks, AppendElementKeepsTheLinksItCarries) {
  XmlDocument doc;
  XmlElement e;
  e.name = "r";
  e.firstChild = ElementRef(1);
  doc.AppendElement(e);
  e = XmlElement();
  e.name = "a";
  e.parent = ElementRef(0);
  e.nextSibling = ElementRef(2);
  doc.AppendElement(e);
  e = XmlElement();
  e.name = "b";
  e.parent = ElementRef(0);
  e.prevSibling = ElementRef(1);
  e.nextSibling = ElementRef(5);  // links are stored as given, whatever they point at
  doc.AppendElement(e);

  ASSERT_EQ(doc.ElementCount(), 3u);
  EXPECT_EQ(doc.FirstElement(), ElementRef(0));
  EXPECT_EQ(doc.FirstChild(ElementRef(0)), ElementRef(1));
  EXPECT_TRUE(doc.Parent(ElementRef(0)).IsNone());
  EXPECT_EQ(doc.Parent(ElementRef(1)), ElementRef(0));
  EXPECT_EQ(doc.NextSibling(ElementRef(1)), ElementRef(2));
  EXPECT_TRUE(doc.PrevSibling(ElementRef(1)).IsNone());
  EXPECT_EQ(doc.PrevSibling(ElementRef(2)), ElementRef(1));
  EXPECT_EQ(doc.NextSibling(ElementRef(2)), ElementRef(5));
  EXPECT_EQ(doc.Element(ElementRef(2)).Name(), "b");
}

TEST(XmlDocumentLinks, AppendChildWalksChainsBuiltByAppendElement) {
  // A parent whose children were linked by hand: the new child goes after the last one
  // found by following nextSibling from the parent's firstChild.
  XmlDocument doc;
  XmlElement e;
  e.name = "r";
  e.firstChild = ElementRef(1);
  doc.AppendElement(e);  // 0
  e = XmlElement();
  e.name = "a";
  e.parent = ElementRef(0);
  e.nextSibling = ElementRef(2);
  doc.AppendElement(e);  // 1
  e = XmlElement();
  e.name = "b";
  e.parent = ElementRef(0);
  e.prevSibling = ElementRef(1);
  doc.AppendElement(e);  // 2
  e = XmlElement();
  e.name = "t";
  e.prevSibling = ElementRef(0);
  doc.AppendElement(e);  // 3: not linked from element 0, so not on the top-level chain

  XmlElement add;
  add.name = "c";
  const ElementRef c = doc.AppendChild(ElementRef(0), add);
  EXPECT_EQ(c, ElementRef(4));
  EXPECT_EQ(doc.PrevSibling(c), ElementRef(2));
  EXPECT_EQ(doc.NextSibling(ElementRef(2)), c);
  EXPECT_EQ(doc.FirstChild(ElementRef(0)), ElementRef(1));

  add.name = "top";
  const ElementRef top = doc.AppendChild(ElementRef::None(), add);
  EXPECT_EQ(top, ElementRef(5));
  EXPECT_EQ(doc.PrevSibling(top), ElementRef(0)) << "the top-level chain is element 0 alone";
  EXPECT_EQ(doc.NextSibling(ElementRef(0)), top);
  EXPECT_TRUE(doc.NextSibling(ElementRef(3)).IsNone());
}

TEST(XmlDocumentLinks, ClearEmptiesTheDocumentAndStartsAfresh) {
  XmlDocument doc;
  XmlElement e;
  e.name = "old";
  e.SetAttribute("k", "v");
  const ElementRef r = doc.AppendChild(ElementRef::None(), e);
  doc.AppendChild(r, e);
  doc.AppendChild(ElementRef::None(), e);
  doc.Clear();
  EXPECT_EQ(doc.ElementCount(), 0u);
  EXPECT_TRUE(doc.FirstElement().IsNone());

  e.name = "new";
  const ElementRef a = doc.AppendChild(ElementRef::None(), e);
  const ElementRef b = doc.AppendChild(ElementRef::None(), e);
  EXPECT_EQ(a, ElementRef(0));
  EXPECT_EQ(b, ElementRef(1));
  EXPECT_TRUE(doc.PrevSibling(a).IsNone());
  EXPECT_EQ(doc.NextSibling(a), b);
  EXPECT_EQ(doc.PrevSibling(b), a);
  EXPECT_EQ(doc.Element(a).Name(), "new");
  EXPECT_EQ(doc.Element(a).GetAttribute("k"), "v");
}

TEST(XmlDocumentLinks, LongChildChainsKeepTheirOrder) {
  XmlDocument doc;
  XmlElement e;
  e.name = "root";
  const ElementRef root = doc.AppendChild(ElementRef::None(), e);
  const int kChildren = 2000;
  for (int i = 0; i < kChildren; ++i) {
    e.name = "c" + std::to_string(i);
    doc.AppendChild(root, e);
    // Interleave grandchildren so that children are not adjacent in the sequence.
    if (i % 3 == 0) {
      e.name = "g";
      doc.AppendChild(ElementRef(static_cast<uint32_t>(doc.ElementCount() - 1)), e);
    }
  }
  int seen = 0;
  ElementRef prev = ElementRef::None();
  for (ElementRef c = doc.FirstChild(root); !c.IsNone(); c = doc.NextSibling(c)) {
    ASSERT_EQ(doc.Element(c).Name(), "c" + std::to_string(seen));
    ASSERT_EQ(doc.PrevSibling(c), prev);
    ASSERT_EQ(doc.Parent(c), root);
    prev = c;
    ++seen;
  }
  EXPECT_EQ(seen, kChildren);
}

TEST(XmlDocumentLinks, ViewsOfStoredStringsSurviveLaterAppends) {
  // References into a document stay valid while elements are added: a name, text or value
  // read through a view keeps its bytes in place.
  XmlDocument doc;
  XmlElement e;
  e.name = "first";
  e.text = "text of the first";
  e.SetAttribute("img", "picture.png");
  const ElementRef first = doc.AppendChild(ElementRef::None(), e);
  const std::string_view name = doc.Element(first).Name();
  const std::string_view text = doc.Element(first).Text();
  const std::string_view value = *doc.Element(first).FindAttribute("img");

  e.name = std::string(1000, 'n');
  e.text = std::string(70000, 't');  // larger than any block
  for (int i = 0; i < 300; ++i) {
    e.SetAttribute("k" + std::to_string(i), std::string(100, 'v'));
    doc.AppendChild(first, e);
  }
  ASSERT_EQ(doc.Element(first).Name().data(), name.data());
  ASSERT_EQ(doc.Element(first).Text().data(), text.data());
  ASSERT_EQ(doc.Element(first).FindAttribute("img")->data(), value.data());
  EXPECT_EQ(name, "first");
  EXPECT_EQ(text, "text of the first");
  EXPECT_EQ(value, "picture.png");
  // Every stored string reads back whole, whichever block it went to.
  for (ElementRef c = doc.FirstChild(first); !c.IsNone(); c = doc.NextSibling(c)) {
    const ElementView v = doc.Element(c);
    ASSERT_EQ(v.Name(), std::string(1000, 'n'));
    ASSERT_EQ(v.Text().size(), 70000u);
    ASSERT_EQ(v.GetAttribute("k0"), std::string(100, 'v'));
  }
}

// ---------------------------------------------------------------------------------------
// Copies

TEST(XmlDocumentCopies, StoredCopyIsIndependentOfTheCallersElement) {
  XmlDocument doc;
  XmlElement work;
  work.name = "sprite";
  work.text = "hello";
  work.SetAttribute("img", "a.png");
  work.SetAttribute("color", "255");
  const ElementRef root = doc.AppendChild(ElementRef::None(), work);

  // Reused the way a builder reuses one working element for widget after widget.
  work.name = "button";
  work.text.clear();
  work.ClearAttributes();
  work.SetAttribute("key_text", "OK");
  const ElementRef child = doc.AppendChild(root, work);
  work.name = "changed";
  work.SetAttribute("key_text", "changed");

  const ElementView r = doc.Element(root);
  EXPECT_EQ(r.Name(), "sprite");
  EXPECT_EQ(r.Text(), "hello");
  EXPECT_EQ(r.AttributeCount(), 2u);
  EXPECT_EQ(r.GetAttribute("img"), "a.png");
  EXPECT_EQ(r.GetAttribute("color"), "255");
  EXPECT_EQ(r.GetAttribute("key_text"), "");
  const ElementView c = doc.Element(child);
  EXPECT_EQ(c.Name(), "button");
  EXPECT_EQ(c.Text(), "");
  EXPECT_EQ(c.AttributeCount(), 1u);
  EXPECT_EQ(c.GetAttribute("key_text"), "OK");
  EXPECT_EQ(c.GetAttribute("img"), "");
}

TEST(XmlDocumentCopies, CopyElementGivesNameTextAttributesAndLinks) {
  XmlDocument doc;
  XmlElement e;
  e.name = "menu";
  e.text = "body";
  e.SetAttribute("ctr", "1");
  e.SetAttribute("ddur", "2");
  const ElementRef root = doc.AppendChild(ElementRef::None(), e);
  e.ClearAttributes();
  e.name = "a";
  e.text.clear();
  const ElementRef a = doc.AppendChild(root, e);
  e.name = "b";
  const ElementRef b = doc.AppendChild(root, e);

  const XmlElement copy = doc.CopyElement(root);
  EXPECT_EQ(copy.name, "menu");
  EXPECT_EQ(copy.text, "body");
  EXPECT_EQ(copy.attributes.Size(), 2u);
  EXPECT_EQ(copy.GetAttribute("ctr"), "1");
  EXPECT_EQ(copy.GetAttribute("ddur"), "2");
  EXPECT_EQ(StoreOrder(copy), (Pairs{{"ddur", "2"}, {"ctr", "1"}}));
  EXPECT_EQ(copy.firstChild, a);
  EXPECT_TRUE(copy.parent.IsNone());

  const XmlElement middle = doc.CopyElement(b);
  EXPECT_EQ(middle.parent, root);
  EXPECT_EQ(middle.prevSibling, a);
  EXPECT_TRUE(middle.nextSibling.IsNone());
  EXPECT_TRUE(middle.firstChild.IsNone());
}

// ---------------------------------------------------------------------------------------
// Reading attributes

TEST(XmlElementAttributes, NewElementIsEmptyWithEightBuckets) {
  const XmlElement e;
  EXPECT_EQ(e.name, "");
  EXPECT_EQ(e.text, "");
  EXPECT_EQ(e.attributes.Size(), 0u);
  EXPECT_EQ(e.attributes.BucketCount(), 8u);
  EXPECT_TRUE(e.parent.IsNone());
  EXPECT_TRUE(e.firstChild.IsNone());
  EXPECT_TRUE(e.nextSibling.IsNone());
  EXPECT_TRUE(e.prevSibling.IsNone());
}

TEST(XmlElementAttributes, AbsentNameReadsEmptyAndIsNotAdded) {
  XmlElement e;
  e.SetAttribute("present", "1");
  EXPECT_EQ(e.GetAttribute("absent"), "");
  EXPECT_EQ(e.GetAttribute("Present"), "") << "names are case-sensitive";
  EXPECT_EQ(e.GetAttribute("presen"), "");
  EXPECT_EQ(e.GetAttribute("present "), "");
  EXPECT_EQ(e.attributes.Size(), 1u);
  int32_t value = 77;
  EXPECT_FALSE(e.GetAttributeInt("absent", value));
  EXPECT_EQ(value, 77);
  EXPECT_EQ(e.attributes.Size(), 1u);

  XmlDocument doc;
  const ElementRef r = doc.AppendChild(ElementRef::None(), e);
  const ElementView v = doc.Element(r);
  EXPECT_EQ(v.GetAttribute("absent"), "");
  EXPECT_FALSE(v.GetAttributeInt("absent", value));
  EXPECT_EQ(value, 77);
  EXPECT_EQ(v.AttributeCount(), 1u);
}

TEST(XmlElementAttributes, SettingAnExistingNameReplacesItsValueInPlace) {
  XmlElement e;
  for (const char* name : {"on_create_anim", "on_del_anim", "ctr", "dtr", "cdur", "ddur"}) {
    e.SetAttribute(name, "old");
  }
  e.SetAttribute("ctr", "new");
  e.SetAttribute("ddur", "");
  EXPECT_EQ(e.attributes.Size(), 6u);
  EXPECT_EQ(StoreOrder(e), (Pairs{{"ddur", ""},
                                  {"dtr", "old"},
                                  {"on_del_anim", "old"},
                                  {"cdur", "old"},
                                  {"ctr", "new"},
                                  {"on_create_anim", "old"}}));
}

struct IntCase {
  const char* value;
  int32_t expected;
};

TEST(XmlElementAttributes, GetAttributeIntReadsSignedDecimal) {
  const std::vector<IntCase> cases = {
      {"12", 12},
      {"12abc", 12},
      {"", 0},
      {"abc", 0},
      {"-15", -15},
      {"+7", 7},
      {"   42", 42},
      {"\t\r\n 42", 42},
      {"007", 7},
      {"-0", 0},
      {"-", 0},
      {"- 5", 0},
      {"5 6", 5},
      {"0x1F", 0},
      {"2147483647", 2147483647},
      {"2147483648", 2147483647},
      {"99999999999999999999999", 2147483647},
      {"-2147483648", INT32_MIN},
      {"-2147483649", INT32_MIN},
      {"-99999999999999999999999", INT32_MIN},
      {"3.9", 3},
  };
  for (const IntCase& c : cases) {
    SCOPED_TRACE(std::string("value \"") + c.value + "\"");
    XmlElement e;
    e.SetAttribute("n", c.value);
    int32_t out = 123456;
    EXPECT_TRUE(e.GetAttributeInt("n", out));
    EXPECT_EQ(out, c.expected);

    XmlDocument doc;
    const ElementRef r = doc.AppendChild(ElementRef::None(), e);
    int32_t stored = 123456;
    EXPECT_TRUE(doc.Element(r).GetAttributeInt("n", stored));
    EXPECT_EQ(stored, c.expected);
  }
}

TEST(XmlElementAttributes, SetAttributeIntWritesPlainDecimal) {
  const std::vector<std::pair<int32_t, std::string>> cases = {
      {0, "0"},
      {-15, "-15"},
      {7, "7"},
      {255, "255"},
      {-1, "-1"},
      {2147483647, "2147483647"},
      {INT32_MIN, "-2147483648"},
  };
  for (const auto& [value, text] : cases) {
    XmlElement e;
    e.SetAttributeInt("color", value);
    EXPECT_EQ(e.GetAttribute("color"), text);
    int32_t back = 0;
    EXPECT_TRUE(e.GetAttributeInt("color", back));
    EXPECT_EQ(back, value);
  }
  XmlElement e;
  e.SetAttribute("color", "old");
  e.SetAttributeInt("color", -15);
  EXPECT_EQ(e.GetAttribute("color"), "-15");
  EXPECT_EQ(e.attributes.Size(), 1u);
}

TEST(XmlElementAttributes, HasNameComparesEveryByte) {
  struct NameCase {
    std::string name;
    std::string asked;
    bool expected;
  };
  const std::vector<NameCase> cases = {
      {"MENU_MODULE", "MENU_MODULE", true},
      {"MENU_MODULE", "menu_module", false},
      {"MENU_MODULE", "Menu_Module", false},
      {"MENU_MODULE", "MENU_MODUL", false},
      {"MENU_MODULE", "MENU_MODULE ", false},
      {"MENU_MODULE", "", false},
      {"", "", true},
      {std::string("a\0b", 3), std::string("a\0b", 3), true},
      {std::string("a\0b", 3), "a", false},
      {"\xC3\xA9", "\xC3\xA9", true},
      {"\xC3\xA9", "\xC3\x89", false},
  };
  for (const NameCase& c : cases) {
    XmlElement e;
    e.name = c.name;
    EXPECT_EQ(e.HasName(c.asked), c.expected) << "name of " << c.name.size() << " bytes";
    XmlDocument doc;
    const ElementRef r = doc.AppendChild(ElementRef::None(), e);
    EXPECT_EQ(doc.Element(r).HasName(c.asked), c.expected);
    EXPECT_EQ(doc.Element(r).Name(), c.name);
  }
}

TEST(XmlElementAttributes, AnyBytesAreValidNamesAndValues) {
  XmlElement e;
  e.name = std::string("n\0\xFF", 3);
  e.text = std::string("\x80 t\0x", 5);
  const std::string odd = std::string("\xE0\0", 2);
  const std::string value = std::string("<&amp;>\"'\0\xFE", 11);
  e.SetAttribute(odd, value);
  e.SetAttribute("", "empty name");
  EXPECT_EQ(e.GetAttribute(odd), value);
  EXPECT_EQ(e.GetAttribute(""), "empty name");

  XmlDocument doc;
  const ElementRef r = doc.AppendChild(ElementRef::None(), e);
  const ElementView v = doc.Element(r);
  EXPECT_EQ(v.Name(), e.name);
  EXPECT_EQ(v.Text(), e.text);
  EXPECT_EQ(v.GetAttribute(odd), value);
  EXPECT_EQ(v.GetAttribute(""), "empty name");
  EXPECT_EQ(v.GetAttribute(std::string("\xE0", 1)), "");
  EXPECT_EQ(v.AttributeCount(), 2u);
}

// ---------------------------------------------------------------------------------------
// Iteration order

struct OrderCase {
  std::vector<std::string> setOrder;
  std::vector<std::string> expected;
};

TEST(AttributeStoreOrder, WorkedOrdersDoNotDependOnInsertion) {
  const std::vector<std::string> root = {"on_create_anim", "on_del_anim", "ctr", "dtr", "cdur", "ddur"};
  const std::vector<std::string> rootOrder = {"ddur", "dtr", "on_del_anim", "cdur", "ctr", "on_create_anim"};
  const std::vector<OrderCase> cases = {
      {root, rootOrder},
      {{"ddur", "cdur", "dtr", "ctr", "on_del_anim", "on_create_anim"}, rootOrder},
      {{"ctr", "on_create_anim", "ddur", "on_del_anim", "cdur", "dtr"}, rootOrder},
      {{"a", "b", "c", "x", "y"}, {"a", "y", "b", "c", "x"}},
      {{"y", "x", "c", "b", "a"}, {"a", "y", "b", "c", "x"}},
      // The empty name has bucket 4; "c" has bucket 2 and "x" bucket 7.
      {{"x", "", "c"}, {"c", "", "x"}},
      // One bucket: ascending unsigned bytes, a shorter name before its extensions.
      {{"y", "a"}, {"a", "y"}},
  };
  for (const OrderCase& c : cases) {
    XmlElement e;
    for (const std::string& name : c.setOrder) e.SetAttribute(name, "v" + name);
    const Pairs order = StoreOrder(e);
    EXPECT_EQ(NamesOf(order), c.expected);
    for (const auto& [name, value] : order) EXPECT_EQ(value, "v" + name);

    XmlDocument doc;
    const ElementRef r = doc.AppendChild(ElementRef::None(), e);
    EXPECT_EQ(NamesOf(StoredOrder(doc, r)), c.expected);
    EXPECT_EQ(NamesOf(ForEachOrder(doc, r)), c.expected);
  }
}

TEST(AttributeStoreOrder, HighBytesOrderAfterLowBytesWithinABucket) {
  // Every one-byte name that shares the bucket of 0xE0 in a store of 8 buckets: within the
  // bucket they are compared as unsigned bytes, so 0x80 to 0xFF come after ASCII.
  const uint32_t bucket = ModelBucket("\xE0", 8);
  std::vector<std::string> names;
  for (int b = 0x21; b <= 0xFF && names.size() < 32; ++b) {
    const std::string n(1, static_cast<char>(b));
    if (ModelBucket(n, 8) == bucket) names.push_back(n);
  }
  ASSERT_GE(names.size(), 4u);
  ASSERT_LT(static_cast<unsigned char>(names.front()[0]), 0x80);
  ASSERT_GE(static_cast<unsigned char>(names.back()[0]), 0x80);
  XmlElement e;
  for (auto it = names.rbegin(); it != names.rend(); ++it) e.SetAttribute(*it, "");
  ASSERT_EQ(e.attributes.BucketCount(), 8u);
  // Ascending unsigned bytes, which is the order the names were generated in.
  EXPECT_EQ(NamesOf(StoreOrder(e)), names);
  XmlDocument doc;
  const ElementRef r = doc.AppendChild(ElementRef::None(), e);
  EXPECT_EQ(NamesOf(StoredOrder(doc, r)), names);
}

TEST(AttributeStoreOrder, GrowthRecomputesTheWholeOrder) {
  struct GrowthCase {
    int names;
    uint32_t buckets;
  };
  const std::vector<GrowthCase> cases = {
      {1, 8}, {32, 8}, {33, 64}, {100, 64}, {256, 64}, {257, 512}, {2048, 512}, {2049, 4096},
  };
  for (const GrowthCase& c : cases) {
    SCOPED_TRACE(c.names);
    const std::vector<std::string> names = GeneratedNames(c.names);
    XmlElement e;
    // Insert in reverse so that insertion order and iteration order differ.
    for (auto it = names.rbegin(); it != names.rend(); ++it) e.SetAttribute(*it, *it);
    EXPECT_EQ(e.attributes.Size(), static_cast<std::size_t>(c.names));
    EXPECT_EQ(e.attributes.BucketCount(), c.buckets);
    const std::vector<std::string> expected = ModelOrder(names, c.buckets);
    EXPECT_EQ(NamesOf(StoreOrder(e)), expected);

    XmlDocument doc;
    const ElementRef r = doc.AppendChild(ElementRef::None(), e);
    const ElementView v = doc.Element(r);
    EXPECT_EQ(v.AttributeCount(), static_cast<std::size_t>(c.names));
    EXPECT_EQ(v.BucketCount(), c.buckets);
    EXPECT_EQ(NamesOf(StoredOrder(doc, r)), expected);
    for (const std::string& n : names) ASSERT_EQ(v.GetAttribute(n), n);
  }
}

TEST(AttributeStoreOrder, ThirtyThirdNameSwitchesToMask63AndClearReturnsToEight) {
  const std::vector<std::string> names = GeneratedNames(33);
  XmlElement e;
  for (int i = 0; i < 32; ++i) e.SetAttribute(names[static_cast<std::size_t>(i)], "");
  EXPECT_EQ(e.attributes.BucketCount(), 8u);
  EXPECT_EQ(NamesOf(StoreOrder(e)), ModelOrder(std::vector<std::string>(names.begin(), names.begin() + 32), 8));
  // Replacing a value is no insertion: the count and the order stay.
  e.SetAttribute(names[0], "again");
  EXPECT_EQ(e.attributes.BucketCount(), 8u);
  e.SetAttribute(names[32], "");
  EXPECT_EQ(e.attributes.BucketCount(), 64u);
  EXPECT_EQ(NamesOf(StoreOrder(e)), ModelOrder(names, 64));
  EXPECT_NE(ModelOrder(names, 64), ModelOrder(names, 8)) << "the case must tell the masks apart";

  e.ClearAttributes();
  EXPECT_EQ(e.attributes.Size(), 0u);
  EXPECT_EQ(e.attributes.BucketCount(), 8u);
  EXPECT_TRUE(StoreOrder(e).empty());
  EXPECT_EQ(e.GetAttribute(names[3]), "");
  e.SetAttribute("b", "1");
  e.SetAttribute("a", "2");
  EXPECT_EQ(StoreOrder(e), (Pairs{{"a", "2"}, {"b", "1"}}));
}

TEST(AttributeStoreOrder, OneWorkingElementClearedAndFilledAgain) {
  // The way a builder fills one element per widget: clear, then set other names. Nothing of
  // an earlier filling may show through, whatever size the store had reached.
  struct RefillCase {
    int before;  // names _attr0 .. set before the clear
    int after;   // names set after it, starting at _attr(before - 2) so two of them recur
  };
  const std::vector<RefillCase> cases = {
      {3, 2}, {3, 20}, {20, 3}, {20, 40}, {40, 17}, {64, 5}, {65, 5}, {200, 70},
  };
  XmlElement e;
  for (const RefillCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.before) + " then " + std::to_string(c.after));
    e.ClearAttributes();
    for (const std::string& n : GeneratedNames(c.before)) e.SetAttribute(n, "old");
    e.ClearAttributes();
    std::vector<std::string> names;
    for (int i = 0; i < c.after; ++i) names.push_back("_attr" + std::to_string(c.before - 2 + i));
    for (const std::string& n : names) e.SetAttribute(n, "new" + n);
    EXPECT_EQ(e.attributes.Size(), names.size());
    const uint32_t buckets = names.size() > 32 ? 64u : 8u;
    EXPECT_EQ(e.attributes.BucketCount(), buckets);
    EXPECT_EQ(NamesOf(StoreOrder(e)), ModelOrder(names, buckets));
    for (const std::string& n : names) EXPECT_EQ(e.GetAttribute(n), "new" + n);
    for (int i = 0; i < c.before - 2; ++i) {
      EXPECT_FALSE(e.FindAttribute("_attr" + std::to_string(i)).has_value()) << "_attr" << i;
    }
    // Setting a name again replaces its value, and the copy in a document sees the same.
    e.SetAttribute(names.front(), "again");
    EXPECT_EQ(e.attributes.Size(), names.size());
    XmlDocument doc;
    const ElementRef r = doc.AppendChild(ElementRef::None(), e);
    EXPECT_EQ(doc.Element(r).AttributeCount(), names.size());
    EXPECT_EQ(doc.Element(r).GetAttribute(names.front()), "again");
    EXPECT_EQ(doc.Element(r).GetAttribute("_attr0"), "");
    EXPECT_EQ(NamesOf(StoredOrder(doc, r)), ModelOrder(names, buckets));
  }
}

}  // namespace
}  // namespace menuconv
