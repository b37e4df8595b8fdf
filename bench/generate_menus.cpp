// Writes a large, realistic editor document (every widget kind, a picture list) and the two
// text tables beside it, deterministically: the same arguments always give the same bytes.
//
//   bench_generate PRESET ENCODING FOLDER
//     PRESET   small (about 1 MB), medium (about 30 MB), large (about 200 MB),
//              wide (one screen of 200,000 widgets), or a size in MB; and two element-dense
//              screens: elements (4,000,000 empty <a/> children), sprites (1,000,000 sprites
//              of three attributes each)
//     ENCODING utf-8 or windows-1251
//   writes FOLDER/menus.xml, FOLDER/menus.txt and FOLDER/menus_txts.txt
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint32_t Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 7;
    state_ ^= state_ << 17;
    return static_cast<uint32_t>(state_ >> 11);
  }
  uint32_t Below(uint32_t n) { return Next() % n; }

 private:
  uint64_t state_;
};

// Cyrillic words, given as UTF-8 and as windows-1251 bytes.
struct Word {
  const char* utf8;
  const char* cp1251;
};
const Word kWords[] = {
    {"\xD0\xBA\xD0\xBD\xD0\xBE\xD0\xBF\xD0\xBA\xD0\xB0", "\xEA\xED\xEE\xEF\xEA\xE0"},  // кнопка
    {"\xD0\xBC\xD0\xB5\xD0\xBD\xD1\x8E", "\xEC\xE5\xED\xFE"},                          // меню
    {"\xD1\x84\xD0\xBE\xD0\xBD", "\xF4\xEE\xED"},                                      // фон
    {"\xD0\xB8\xD0\xB3\xD1\x80\xD0\xB0", "\xE8\xE3\xF0\xE0"},                          // игра
};

class Generator {
 public:
  Generator(bool cp1251, FILE* out) : cp1251_(cp1251), out_(out), random_(0x9E3779B97F4A7C15ull) {}

  void Document(std::size_t targetBytes, std::size_t widgetsPerScreen, std::size_t pictures) {
    Put(std::string("<?xml version=\"1.0\" encoding=\"") + (cp1251_ ? "windows-1251" : "utf-8") + "\"?>\r\n");
    Put("<EDITOR_PROJECT version=\"3\" author=\"menu editor\">\r\n");
    pictures_ = pictures;
    for (std::size_t screen = 0; written_ < targetBytes || screen == 0; ++screen) {
      Screen(screen, widgetsPerScreen);
      if (screen == 0) Pictures();  // the picture list follows the first screen
    }
    Put("</EDITOR_PROJECT>\r\n");
  }

  // One screen whose every child is the same small element, for the cost per element.
  void DenseDocument(std::size_t children, bool sprites) {
    Put(std::string("<?xml version=\"1.0\" encoding=\"") + (cp1251_ ? "windows-1251" : "utf-8") + "\"?>\n");
    Put("<EDITOR_PROJECT>\n<MENU_MODULE>dense\n");
    std::string chunk;
    for (std::size_t i = 0; i < children; ++i) {
      if (sprites) {
        chunk += "<SPRITE_MODULE ld.x=\"" + Number(1024) + "\" ld.y=\"" + Number(768) + "\" _keyImg=\"pic_" +
                 Number(100) + "\"/>\n";
      } else {
        chunk += "<a/>";
      }
      if (chunk.size() > 65536) {
        Put(chunk);
        chunk.clear();
      }
    }
    Put(chunk);
    Put("</MENU_MODULE>\n<PICTURES_MODULE>\n");
    for (int i = 0; i < 100; ++i) {
      Put("<IMAGE_MODULE path=\"gfx/pic_" + std::to_string(i) + ".png\">pic_" + std::to_string(i) +
          "</IMAGE_MODULE>\n");
    }
    Put("</PICTURES_MODULE>\n</EDITOR_PROJECT>\n");
  }

 private:
  void Put(const std::string& s) {
    std::fwrite(s.data(), 1, s.size(), out_);
    written_ += s.size();
  }
  std::string Word() {
    const auto& w = kWords[random_.Below(4)];
    return cp1251_ ? w.cp1251 : w.utf8;
  }
  std::string Number(int range) { return std::to_string(static_cast<int>(random_.Below(range))); }
  std::string Decimal(int range) { return Number(range) + "." + Number(10); }
  std::string Picture() { return "pic_" + std::to_string(random_.Below(static_cast<uint32_t>(pictures_))); }
  std::string Attr(const char* name, const std::string& value) {
    return std::string(" ") + name + "=\"" + value + "\"";
  }

  void Pictures() {
    Put("  <PICTURES_MODULE>\r\n");
    for (std::size_t i = 0; i < pictures_; ++i) {
      std::string line = "    <IMAGE_MODULE" + Attr("path", "gfx/menu/picture_" + std::to_string(i) + ".png");
      if (i % 3 == 0) line += Attr("column", Number(4)) + Attr("row", Number(3));
      line += ">pic_" + std::to_string(i) + "</IMAGE_MODULE>\r\n";
      Put(line);
    }
    Put("  </PICTURES_MODULE>\r\n");
  }

  void Screen(std::size_t index, std::size_t widgets) {
    Put("  <MENU_MODULE" + Attr("on_create_anim", "fade_in") + Attr("on_del_anim", "fade_out") + Attr("ctr", "1") +
        Attr("dtr", "0") + Attr("cdur", "0.25") + Attr("ddur", "0.5") + ">screen_" + std::to_string(index) + "\r\n");
    for (std::size_t w = 0; w < widgets; ++w) Widget(w);
    Put("  </MENU_MODULE>\r\n");
  }

  std::string Common() {
    const int x = static_cast<int>(random_.Below(1024)), y = static_cast<int>(random_.Below(768));
    const int w = 16 + static_cast<int>(random_.Below(256)), h = 16 + static_cast<int>(random_.Below(128));
    std::string s = Attr("_keyImg", Picture()) + Attr("ld.x", std::to_string(x)) + Attr("ld.y", std::to_string(y + h)) +
                    Attr("lu.x", std::to_string(x)) + Attr("lu.y", std::to_string(y)) +
                    Attr("rd.x", std::to_string(x + w)) + Attr("rd.y", std::to_string(y + h)) +
                    Attr("ru.x", std::to_string(x + w)) + Attr("ru.y", std::to_string(y));
    if (random_.Below(2)) s += Attr("_colObj", std::to_string(random_.Next() & 0xFFFFFF)) + Attr("_iAlph", Number(256));
    static const char* const kModes[] = {"ADD", "MUL", "OVERLAY", "NORMAL"};
    s += Attr("_sModeDraw", kModes[random_.Below(4)]);
    s += Attr("_bVisible", "1") + Attr("_iLayer", Number(8));
    return s;
  }

  void Widget(std::size_t index) {
    static const char* const kKinds[] = {"SPRITE_MODULE",   "BTN_MODULE",   "TEXT_MODULE", "CHKBOX_MODULE",
                                         "PROGRESS_MODULE", "LIST_MODULE",  "EDIT_MODULE", "QUAD_MODULE",
                                         "WATER_MODULE",    "CLOUD_MODULE", "LEAF_MODULE"};
    const uint32_t kind = random_.Below(11);
    std::string own;
    switch (kind) {
      case 1:
        own = Attr("_keyText", "txt_" + Number(10000)) + Attr("_sFont", "font_big");
        break;
      case 2:
        own = Attr("_sFont", "font_small") + Attr("_iAlign", Number(3)) + Attr("_keyText", "txt_" + Number(10000));
        break;
      case 4:
        own = Attr("_keyImgCenter", Picture()) + Attr("_keyImgBack", Picture()) + Attr("_fSpeed", Decimal(5));
        break;
      case 5:
        own = Attr("_sFont", "font_list") + Attr("_keyImgSelector", Picture());
        break;
      case 6:
        own = Attr("_sFont", "font_edit") + Attr("_intNumChar", Number(64));
        break;
      case 8:
        own = Attr("_keyImgMask", Picture()) + Attr("_keyImgTexture", Picture()) + Attr("_fXScale", Decimal(3)) +
              Attr("_fYScale", Decimal(3)) + Attr("_fXVel", Decimal(9)) + Attr("_fYVel", Decimal(9));
        break;
      case 9:
        own = Attr("_fXVel", Decimal(9)) + Attr("_fYVel", Decimal(9));
        break;
      case 10:
        own = Attr("_fCenterX", Decimal(64)) + Attr("_fCenterY", Decimal(64)) + Attr("_iLeft_up", "1") +
              Attr("_iLeft_down", "0") + Attr("_iRight_down", "1") + Attr("_iRight_up", "0") +
              Attr("_fAltitudeMax", Decimal(40)) + Attr("_fVelMax", Decimal(9)) + Attr("_fTimeOne", Decimal(5));
        break;
      default:
        break;
    }
    Put(std::string("    <") + kKinds[kind] + Common() + own + ">" + Word() + "_" + std::to_string(index) + "</" +
        kKinds[kind] + ">\r\n");
  }

  bool cp1251_;
  FILE* out_;
  Random random_;
  std::size_t written_ = 0;
  std::size_t pictures_ = 0;
};

// A UTF-16LE text table of `records` keys "txt_N" with Cyrillic texts.
void TextTable(const std::string& path, std::size_t records, std::size_t first) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) {
    std::perror(path.c_str());
    std::exit(1);
  }
  std::u16string data = u"\xFEFF";
  for (std::size_t i = 0; i < records; ++i) {
    const std::string key = "txt_" + std::to_string((first + i * 7919) % (records * 2));
    for (char c : key) data += static_cast<char16_t>(c);
    data += u"\t\u0422\u0435\u043A\u0441\u0442 " + std::u16string(u"\u2116") + u" ";
    for (char c : std::to_string(i)) data += static_cast<char16_t>(c);
    data += u"\r\n";
  }
  for (char16_t unit : data) {
    const unsigned char bytes[2] = {static_cast<unsigned char>(unit & 0xFF), static_cast<unsigned char>(unit >> 8)};
    std::fwrite(bytes, 1, 2, f);
  }
  std::fclose(f);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s small|medium|large|wide|elements|sprites|MB utf-8|windows-1251 FOLDER\n", argv[0]);
    return 2;
  }
  const std::string preset = argv[1], encoding = argv[2], folder = argv[3];
  std::size_t megabytes = 0, widgets = 200, pictures = 2000;
  const bool dense = preset == "elements" || preset == "sprites";
  if (preset == "small")
    megabytes = 1;
  else if (preset == "medium")
    megabytes = 30;
  else if (preset == "large")
    megabytes = 200;
  else if (preset == "wide")
    widgets = 200000;
  else if (!dense)
    megabytes = static_cast<std::size_t>(std::atol(preset.c_str()));
  if (preset != "wide" && !dense && megabytes == 0) {
    std::fprintf(stderr, "unknown preset %s\n", preset.c_str());
    return 2;
  }
  if (encoding != "utf-8" && encoding != "windows-1251") {
    std::fprintf(stderr, "unknown encoding %s\n", encoding.c_str());
    return 2;
  }
  const std::string path = folder + "/menus.xml";
  FILE* out = std::fopen(path.c_str(), "wb");
  if (!out) {
    std::perror(path.c_str());
    return 1;
  }
  // Written in pieces of 4 MiB, as a program that saves a whole document at once (an editor, a
  // checkout) writes it: the system then holds the file in large pages of its page cache,
  // which a run's mapping of it can use. Written 4 KiB at a time it is held in small ones.
  std::vector<char> buffer(std::size_t{4} << 20);
  std::setvbuf(out, buffer.data(), _IOFBF, buffer.size());
  Generator generator(encoding == "windows-1251", out);
  if (dense)
    generator.DenseDocument(preset == "elements" ? 4000000 : 1000000, preset == "sprites");
  else
    generator.Document(megabytes * 1000000, widgets, pictures);
  std::fclose(out);
  TextTable(folder + "/menus.txt", 20000, 0);
  TextTable(folder + "/menus_txts.txt", 20000, 1);
  return 0;
}
