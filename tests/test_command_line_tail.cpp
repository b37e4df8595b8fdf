// The Windows command-line tail, found on unsigned bytes: Cyrillic letters of code page 1251
// (bytes above 0x7F) are neither blanks nor the end of the program name.
#include <gtest/gtest.h>

#include <string>

#include "app/command_line_tail.h"

namespace menuconv {
namespace {

TEST(CommandLineTail, SkipsTheProgramNameAndTheBlanksAfterIt) {
  struct Case {
    const char* line;
    const char* tail;
  };
  const Case cases[] = {
      {"menuconv.exe menus.xml", "menus.xml"},
      {"\"C:\\Program Files\\menuconv.exe\" my menus", "my menus"},
      {"C:\\\"Program Files\"\\menuconv.exe menus.xml", "menus.xml"},
      {"menuconv.exe\t \tmenus.xml", "menus.xml"},
      {"menuconv.exe\x01 \x1F\xA0menus.xml", "\xA0menus.xml"},  // 0xA0: a no-break space in 1251
      {"menuconv.exe \xEC\xE5\xED\xFE.xml", "\xEC\xE5\xED\xFE.xml"},
      {"menuconv.exe \xEF\xE0\xEF\xEA\xE0/menus.xml", "\xEF\xE0\xEF\xEA\xE0/menus.xml"},
      {"C:\\\xEF\xE0\xEF\xEA\xE0\\menuconv.exe menus.xml", "menus.xml"},
      {"\"C:\\\xEF\xE0\xEF\xEA\xE0 1\\menuconv.exe\" menus.xml", "menus.xml"},
      {"menuconv.exe \"my menus.xml\"  ", "\"my menus.xml\"  "},
      {"\"menuconv.exe menus.xml", ""},
      {"menuconv.exe", ""},
      {"menuconv.exe \t ", ""},
      {"", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(std::string(CommandLineTail(c.line)), c.tail) << "command line: " << c.line;
  }
}

}  // namespace
}  // namespace menuconv
