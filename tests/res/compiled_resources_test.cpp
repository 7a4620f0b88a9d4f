// The resource script compiled by the cross windres, read back as Windows would read it,
// against the data the other front ends lay out from.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "res/resource.h"
#include "tests/res/scratch.h"
#include "tests/support/child_process.h"
#include "tools/rcgen/resource_script.h"
#include "ui/toolkit/dialog_template.h"

namespace {

constexpr int kRtDialog = 5;
constexpr int kRtString = 6;
constexpr int kRtGroupIcon = 14;
constexpr int kRtVersion = 16;
constexpr int kRtDlgInit = 240;
constexpr std::uint16_t kChineseSimplified = 0x0804;

// Little-endian reads that yield zeros instead of running past the end.
class Reader {
 public:
  explicit Reader(std::string_view bytes, std::size_t pos = 0) : bytes_(bytes), pos_(pos) {}

  std::uint32_t U8() {
    return pos_ < bytes_.size() ? static_cast<std::uint8_t>(bytes_[pos_++]) : 0;
  }
  std::uint32_t U16() { return U8() | U8() << 8; }
  std::uint32_t U32() { return U16() | U16() << 16; }
  int I16() { return static_cast<std::int16_t>(U16()); }
  void Align4() { pos_ = (pos_ + 3) & ~std::size_t{3}; }
  void Skip(std::size_t count) { pos_ += count; }
  std::size_t Pos() const { return pos_; }
  bool AtEnd() const { return pos_ >= bytes_.size(); }

  // UTF-16 up to its NUL, as UTF-8.
  std::string Utf16String() {
    std::string out;
    while (!AtEnd()) {
      std::uint32_t unit = U16();
      if (unit == 0) break;
      if (unit >= 0xD800 && unit < 0xDC00)
        unit = 0x10000 + ((unit - 0xD800) << 10) + U16() - 0xDC00;
      AppendUtf8(out, unit);
    }
    return out;
  }

  // A name or number field: a number when it starts with 0xFFFF, otherwise -1 for a name.
  int NameOrNumber() {
    if (U16At(pos_) == 0xFFFF) {
      U16();
      return static_cast<int>(U16());
    }
    Utf16String();
    return -1;
  }

 private:
  static void AppendUtf8(std::string& out, std::uint32_t c) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | c >> 6);
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | c >> 12);
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | c >> 18);
      out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  std::uint32_t U16At(std::size_t pos) const { return Reader(bytes_, pos).U16(); }

  std::string_view bytes_;
  std::size_t pos_;
};

struct Resource {
  int type;
  int name;
  std::uint16_t language;
  std::string data;
};

std::vector<Resource> ReadResFile(const std::string& bytes) {
  std::vector<Resource> resources;
  Reader reader(bytes);
  while (!reader.AtEnd()) {
    const std::size_t start = reader.Pos();
    const std::uint32_t dataSize = reader.U32();
    const std::uint32_t headerSize = reader.U32();
    const int type = reader.NameOrNumber();
    const int name = reader.NameOrNumber();
    const auto language = static_cast<std::uint16_t>(Reader(bytes, start + headerSize - 10).U16());
    if (start + headerSize + dataSize > bytes.size()) break;
    resources.push_back({type, name, language, bytes.substr(start + headerSize, dataSize)});
    reader = Reader(bytes, start + headerSize + dataSize);
    reader.Align4();
  }
  return resources;
}

// A compiled control, with its kind worked out from its window class and style.
struct CompiledControl {
  int id;
  ControlKind kind;
  DialogRect rect;
  std::string text;
  int iconId;
  bool visible;
  bool tabStop;
};

struct CompiledDialog {
  std::uint32_t style;
  std::uint32_t exStyle;
  DialogRect rect;
  std::string caption;
  int fontPoints;
  std::string fontFace;
  std::vector<CompiledControl> controls;
};

ControlKind KindOf(int windowClass, std::uint32_t style) {
  switch (windowClass) {
    case 0x80:  // button
      switch (style & 0xF) {
        case 1:
          return ControlKind::kDefaultPushButton;
        case 3:
          return ControlKind::kAutoCheckBox;
        case 7:
          return ControlKind::kGroupBox;
        default:
          return ControlKind::kPushButton;
      }
    case 0x81:  // edit
      return style & 0x20 ? ControlKind::kPasswordEdit : ControlKind::kEdit;
    case 0x82:  // static
      return (style & 0x1F) == 3   ? ControlKind::kIcon
             : (style & 0x1F) == 1 ? ControlKind::kCentredText
                                   : ControlKind::kText;
    default:  // combo box
      return ControlKind::kDropDownList;
  }
}

CompiledDialog ReadDialog(const std::string& data) {
  Reader reader(data);
  reader.Skip(8);  // version, signature, help id
  CompiledDialog dialog{};
  dialog.exStyle = reader.U32();
  dialog.style = reader.U32();
  const std::uint32_t count = reader.U16();
  dialog.rect = {reader.I16(), reader.I16(), reader.I16(), reader.I16()};
  reader.NameOrNumber();  // menu
  reader.NameOrNumber();  // window class
  dialog.caption = reader.Utf16String();
  dialog.fontPoints = static_cast<int>(reader.U16());
  reader.Skip(4);  // weight, italic, character set
  dialog.fontFace = reader.Utf16String();
  for (std::uint32_t i = 0; i < count; ++i) {
    reader.Align4();
    reader.Skip(8);  // help id, extended style
    CompiledControl control{};
    const std::uint32_t style = reader.U32();
    control.rect = {reader.I16(), reader.I16(), reader.I16(), reader.I16()};
    control.id = static_cast<std::int32_t>(reader.U32());
    const int windowClass = reader.NameOrNumber();
    control.kind = KindOf(windowClass, style);
    control.visible = (style & 0x10000000) != 0;
    control.tabStop = (style & 0x00010000) != 0;
    if (control.kind == ControlKind::kIcon) {
      control.iconId = reader.NameOrNumber();
    } else {
      control.text = reader.Utf16String();
    }
    reader.Skip(reader.U16());  // creation data
    dialog.controls.push_back(control);
  }
  return dialog;
}

// Control id to its entries, in order.
std::map<int, std::vector<std::string>> ReadListData(const std::string& data) {
  std::map<int, std::vector<std::string>> lists;
  Reader reader(data);
  while (!reader.AtEnd()) {
    const auto id = static_cast<int>(reader.U16());
    if (id == 0) break;
    EXPECT_EQ(reader.U16(), 0x0403u);
    const std::uint32_t length = reader.U32();
    const std::string text = data.substr(reader.Pos(), length);
    if (text.empty() || text.back() != '\0') {
      ADD_FAILURE() << "entry of control " << id << " lacks its NUL";
      break;
    }
    lists[id].push_back(text.substr(0, text.size() - 1));
    reader.Skip(length);
  }
  return lists;
}

std::string Utf16(std::u16string_view text) {
  return {reinterpret_cast<const char*>(text.data()), text.size() * 2};
}

class CompiledResources : public ::testing::Test {
 protected:
  // The resources windres compiles from `script`, with res/ to find the icons in.
  std::vector<Resource> Compile(const std::filesystem::path& script) {
    const auto output = scratch_.Path() / "out.res";
    const CommandResult run = RunProgram(
        KL395_WINDRES, {"-I", KL395_RES_DIR, script.string(), "-O", "res", "-o", output.string()});
    EXPECT_EQ(run.status, 0) << run.output;
    return ReadResFile(ReadBytes(output));
  }

  void SetUp() override {
    if (std::string(KL395_WINDRES).empty()) GTEST_SKIP() << "x86_64-w64-mingw32-windres not found";
  }

  static const Resource* Find(const std::vector<Resource>& resources, int type, int name) {
    for (const Resource& resource : resources) {
      if (resource.type == type && resource.name == name) return &resource;
    }
    return nullptr;
  }

  static void ExpectSameDialog(const DialogTemplate& expected, const CompiledDialog& compiled) {
    SCOPED_TRACE("dialog " + std::to_string(expected.id));
    EXPECT_EQ(compiled.caption, expected.caption);
    EXPECT_EQ(compiled.rect.width, expected.width);
    EXPECT_EQ(compiled.rect.height, expected.height);
    EXPECT_EQ(compiled.fontPoints, expected.fontPoints);
    EXPECT_EQ(compiled.fontFace, expected.fontFace);
    EXPECT_EQ((compiled.style & 0x00C00000) == 0x00C00000, expected.hasCaption);
    EXPECT_EQ((compiled.style & 0x00080000) != 0, expected.hasSystemMenu);
    EXPECT_EQ((compiled.style & 0x80) != 0, expected.modalFrame);
    EXPECT_EQ((compiled.exStyle & 0x00040000) != 0, expected.appWindow);
    ASSERT_EQ(compiled.controls.size(), expected.controls.size());
    for (std::size_t i = 0; i < compiled.controls.size(); ++i) {
      const CompiledControl& got = compiled.controls[i];
      const ControlTemplate& want = expected.controls[i];
      SCOPED_TRACE("control " + std::to_string(i) + ", id " + std::to_string(want.id));
      EXPECT_EQ(got.id, want.id);
      EXPECT_EQ(got.kind, want.kind);
      EXPECT_EQ(got.rect.x, want.rect.x);
      EXPECT_EQ(got.rect.y, want.rect.y);
      if (want.kind != ControlKind::kIcon) {  // windres leaves icon controls unsized
        EXPECT_EQ(got.rect.width, want.rect.width);
        EXPECT_EQ(got.rect.height, want.rect.height);
      }
      EXPECT_EQ(got.text, want.text);
      EXPECT_EQ(got.iconId, want.iconId);
      EXPECT_EQ(got.visible, want.visible);
      EXPECT_EQ(got.tabStop, want.tabStop);
    }
  }

  ScratchDir scratch_;
};

TEST_F(CompiledResources, DialogsMatchTheGeneratedTemplates) {
  const auto resources = Compile(KL395_RES_DIR "/kl395.rc");
  ASSERT_FALSE(HasFailure());
  for (const DialogTemplate& dialog : DialogTemplates()) {
    const Resource* compiled = Find(resources, kRtDialog, dialog.id);
    ASSERT_NE(compiled, nullptr) << dialog.id;
    EXPECT_EQ(compiled->language, kChineseSimplified);
    ExpectSameDialog(dialog, ReadDialog(compiled->data));
  }
}

TEST_F(CompiledResources, StyleRulesMatchWindres) {
  const std::filesystem::path script = KL395_TESTS_RES_DIR "/styles.rc";
  const auto resources = Compile(script);
  ASSERT_FALSE(HasFailure());
  std::string error;
  const auto parsed = ParseResourceScript(script, error);
  ASSERT_TRUE(parsed) << error;
  const Resource* compiled = Find(resources, kRtDialog, parsed->dialogs.at(0).id);
  ASSERT_NE(compiled, nullptr);
  ExpectSameDialog(parsed->dialogs.at(0), ReadDialog(compiled->data));
}

TEST_F(CompiledResources, ListDataStringsVersionAndIcons) {
  const auto resources = Compile(KL395_RES_DIR "/kl395.rc");
  ASSERT_FALSE(HasFailure());

  const Resource* lists = Find(resources, kRtDlgInit, IDD_MAIN);
  ASSERT_NE(lists, nullptr);
  std::map<int, std::vector<std::string>> expected;
  for (const ControlTemplate& control : FindDialogTemplate(IDD_MAIN)->controls) {
    for (std::string_view entry : control.listEntries) expected[control.id].emplace_back(entry);
  }
  EXPECT_EQ(ReadListData(lists->data), expected);

  // Strings go in blocks of 16, block n + 1 holding ids 16n to 16n + 15, each counted UTF-16.
  const Resource* strings = Find(resources, kRtString, IDS_ABOUTBOX / 16 + 1);
  ASSERT_NE(strings, nullptr);
  Reader reader(strings->data);
  for (int i = 0; i < IDS_ABOUTBOX % 16; ++i) reader.Skip(2 * reader.U16());
  const std::u16string aboutItem = u"关于 KL395(&A)...";
  EXPECT_EQ(reader.U16(), aboutItem.size());
  EXPECT_EQ(strings->data.substr(reader.Pos(), aboutItem.size() * 2), Utf16(aboutItem));

  const Resource* version = Find(resources, kRtVersion, 1);
  ASSERT_NE(version, nullptr);
  const std::size_t fixed = version->data.find("\xBD\x04\xEF\xFE");  // its signature
  ASSERT_NE(fixed, std::string::npos);
  Reader numbers(version->data, fixed + 8);
  EXPECT_EQ(numbers.U32(), 0x00010000u);  // file version 1.0
  EXPECT_EQ(numbers.U32(), 0x00000001u);  // .0.1
  for (std::u16string_view text : {u"080404b0", u"KL395 应用程序", u"InternalName"}) {
    EXPECT_NE(version->data.find(Utf16(text)), std::string::npos);
  }
  EXPECT_NE(version->data.find("\x04\x08\xB0\x04"), std::string::npos);  // 0x0804, 1200

  for (int icon : {IDR_MAINFRAME, IDI_LAMP_RED, IDI_LAMP_OFF, IDI_LAMP_GREEN}) {
    const Resource* group = Find(resources, kRtGroupIcon, icon);
    ASSERT_NE(group, nullptr) << icon;
    EXPECT_EQ(Reader(group->data, 4).U16(), 2u) << icon;  // a 32x32 and a 16x16 image
  }
}

}  // namespace
