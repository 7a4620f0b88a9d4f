// kl395-rcgen's reading of resource scripts: windres's style rules, and a clear error naming
// the file and line for everything outside the subset it reads.
#include "tools/rcgen/resource_script.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/res/scratch.h"
#include "ui/toolkit/window.h"

namespace {

const std::filesystem::path kStylesScript = KL395_TESTS_RES_DIR "/styles.rc";

struct Parsed {
  std::unique_ptr<ResourceScript> script;
  std::string error;
};

Parsed ParseText(const ScratchDir& dir, const std::string& text) {
  WriteBytes(dir.Path() / "test.rc", text);
  Parsed parsed;
  parsed.script = ParseResourceScript(dir.Path() / "test.rc", parsed.error);
  return parsed;
}

// A dialog whose controls start on line 5.
std::string DialogWith(const std::string& controls) {
  return "1 DIALOGEX 0, 0, 10, 10\nSTYLE WS_POPUP\nFONT 9, \"f\"\nBEGIN\n" + controls + "END\n";
}

TEST(ResourceScript, StylesFollowWindres) {
  std::string error;
  const auto script = ParseResourceScript(kStylesScript, error);
  ASSERT_TRUE(script) << error;
  const DialogTemplate& dialog = script->dialogs.at(0);
  EXPECT_TRUE(dialog.hasCaption);
  EXPECT_FALSE(dialog.hasSystemMenu || dialog.modalFrame || dialog.appWindow);
  EXPECT_EQ(dialog.fontFace, "Tahoma");

  EXPECT_FALSE(dialog.FindControl(10)->visible);
  EXPECT_TRUE(dialog.FindControl(10)->noPrefix);
  EXPECT_EQ(dialog.controls[0].text, "a&b");
  EXPECT_FALSE(dialog.controls[0].noPrefix);
  // windres drops a statement's default tab stop when a style is given, except for edits
  // and buttons, whose tab stop it keeps unless taken away with NOT.
  EXPECT_FALSE(dialog.FindControl(11)->tabStop);
  EXPECT_FALSE(dialog.FindControl(12)->tabStop);
  EXPECT_FALSE(dialog.FindControl(13)->tabStop);
  EXPECT_TRUE(dialog.FindControl(14)->tabStop);
  EXPECT_TRUE(dialog.FindControl(15)->tabStop);
  EXPECT_EQ(dialog.FindControl(16)->rect.width, 0);  // an icon's size may be left out
  EXPECT_EQ(dialog.FindControl(ui::kIdOk)->kind, ControlKind::kDefaultPushButton);
}

// Controls and list data of a dialog; the list entries start on line 10.
std::string ListDataWith(const std::string& entries) {
  return DialogWith("COMBOBOX 5,1,1,1,40,CBS_DROPDOWNLIST | WS_VSCROLL\nLTEXT \"a\",6,1,1,1,1\n") +
         "1 DLGINIT\nBEGIN\n" + entries + "0\nEND\n";
}

void ExpectError(const std::string& text, int line, const std::string& message) {
  ScratchDir dir;
  const Parsed parsed = ParseText(dir, text);
  EXPECT_FALSE(parsed.script) << text;
  const std::string where = (dir.Path() / "test.rc").string() + ":" + std::to_string(line) + ": ";
  EXPECT_EQ(parsed.error.rfind(where, 0), 0u) << parsed.error << "\nexpected at " << where;
  EXPECT_NE(parsed.error.find(message), std::string::npos) << parsed.error;
}

TEST(ResourceScript, ErrorsNameTheLine) {
  ExpectError("1 DIALOGEX 0, 0, 10, 10\nSTYLE WS_POPUP | WS_MINIMIZEBOX\n", 2,
              "unsupported style WS_MINIMIZEBOX");
  ExpectError("1 DIALOGEX 5, 0, 10, 10\n", 1, "0, 0");
  ExpectError("1 DIALOGEX 0, 0, 10, 10\nSTYLE WS_CAPTION\nBEGIN\nEND\n", 1, "WS_POPUP");
  ExpectError("\n1 MENU\n", 2, "unsupported resource type MENU");
  ExpectError("#ifdef X\n", 1, "unsupported directive");
  ExpectError("#pragma code_page(936)\n", 1, "code_page(65001)");
  ExpectError("\n\nSTRINGTABLE\nBEGIN\n1 \"open\n", 5, "unterminated string");
  ExpectError("// ok\n// caf\xE9\n", 2, "not valid UTF-8");
  ExpectError(
      "1 DIALOGEX 0, 0, 10, 10\nSTYLE WS_POPUP\nFONT 9, \"f\"\nBEGIN\nLTEXT \"a\",5,1,1,1,1\n", 6,
      "missing its END");
}

TEST(ResourceScript, ControlErrors) {
  ExpectError(DialogWith("LTEXT \"a\",-1,1,1,1,1,ES_PASSWORD\n"), 5, "ES_PASSWORD does not apply");
  ExpectError(DialogWith("RTEXT \"a\",-1,1,1,1,1\n"), 5, "unsupported control statement RTEXT");
  ExpectError(DialogWith("\nCOMBOBOX 5,1,1,1,1\n"), 6, "CBS_DROPDOWNLIST");
  ExpectError(DialogWith("EDITTEXT 5,1,1,1,1\n"), 5, "ES_AUTOHSCROLL");
  ExpectError(DialogWith("LTEXT \"a\",IDC_NOPE,1,1,1,1\n"), 5, "unknown name IDC_NOPE");
  ExpectError(DialogWith("LTEXT \"a\",5,1,1,1,1\nLTEXT \"b\",5,1,1,1,1\n"), 6,
              "control 5 appears twice");
  ExpectError(DialogWith("ICON 9,5,1,1\n"), 5, "icon 9 is not an ICON resource");
}

// The layout must be exactly what a Win32 front end reads back from the compiled data.
TEST(ResourceScript, ListDataErrors) {
  ExpectError(ListDataWith("5, 0x0403, 4L, \"Com1\\0\",\n"), 10,
              "the length is 4 but the string with its NUL has 5 bytes");
  ExpectError(ListDataWith("5, 0x0403, 5, \"Com1\\0\",\n"), 10, "32-bit");
  ExpectError(ListDataWith("5, 0x0404, 5L, \"Com1\\0\",\n"), 10, "0x0403");
  ExpectError(ListDataWith("5, 0x0403, 4L, \"Com1\",\n"), 10, "must end with \\0");
  ExpectError(ListDataWith("5L, 0x0403, 5L, \"Com1\\0\",\n"), 10, "16 bits");
  ExpectError(ListDataWith("6, 0x0403, 2L, \"a\\0\",\n"), 10, "not a drop-down list");
}

TEST(ResourceScript, HostileInputFailsCleanly) {
  const std::string deep = std::string(100000, '(') + "1" + std::string(100000, ')');
  ExpectError("#define X " + deep + "\n", 1, "nested too deeply");
  ExpectError("#define X 99999999999\n", 1, "number too large");
  ExpectError(std::string("1 DIALOGEX\0 0", 13), 1, "unexpected byte 0x00");
}

TEST(ResourceScript, HeaderErrorsNameTheHeader) {
  ScratchDir dir;
  WriteBytes(dir.Path() / "resource.h", "#define A 1\nint x;\n");
  WriteBytes(dir.Path() / "test.rc", "#include \"resource.h\"\n");
  std::string error;
  EXPECT_FALSE(ParseResourceScript(dir.Path() / "test.rc", error));
  EXPECT_EQ(error.rfind((dir.Path() / "resource.h").string() + ":2: ", 0), 0u) << error;

  WriteBytes(dir.Path() / "test.rc", "\n#include \"absent.h\"\n");
  EXPECT_FALSE(ParseResourceScript(dir.Path() / "test.rc", error));
  EXPECT_EQ(error, (dir.Path() / "test.rc").string() + ":2: cannot find absent.h");

  EXPECT_FALSE(ParseResourceScript(dir.Path() / "absent.rc", error));
  EXPECT_NE(error.find("absent.rc: cannot read"), std::string::npos) << error;
}

}  // namespace
