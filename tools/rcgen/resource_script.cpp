#include "tools/rcgen/resource_script.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <utility>

#include "tools/rcgen/script_lexer.h"

namespace {

namespace fs = std::filesystem;

// The style bits the data depends on, with the values Windows gives them.
constexpr std::uint32_t kWsPopup = 0x80000000;
constexpr std::uint32_t kWsVisible = 0x10000000;
constexpr std::uint32_t kWsCaption = 0x00C00000;
constexpr std::uint32_t kWsSysMenu = 0x00080000;
constexpr std::uint32_t kWsVScroll = 0x00200000;
constexpr std::uint32_t kWsGroup = 0x00020000;
constexpr std::uint32_t kWsTabStop = 0x00010000;
constexpr std::uint32_t kDsSetFont = 0x40;
constexpr std::uint32_t kDsModalFrame = 0x80;
constexpr std::uint32_t kWsExAppWindow = 0x00040000;
constexpr std::uint32_t kSsCenter = 0x1;
constexpr std::uint32_t kSsIcon = 0x3;
constexpr std::uint32_t kSsNoPrefix = 0x80;
constexpr std::uint32_t kEsPassword = 0x20;
constexpr std::uint32_t kEsAutoHScroll = 0x80;
constexpr std::uint32_t kCbsSimple = 0x1;
constexpr std::uint32_t kCbsDropDownList = 0x3;
constexpr std::uint32_t kCbsTypeMask = 0x3;

// Where a style name may appear.
enum StyleScope : unsigned {
  kDialogStyle = 1u << 0,
  kDialogExStyle = 1u << 1,
  kAnyControl = 1u << 2,
  kStaticStyle = 1u << 3,
  kEditStyle = 1u << 4,
  kListStyle = 1u << 5,
};

struct StyleName {
  std::string_view name;
  std::uint32_t value;
  unsigned scopes;
};

// Only styles the templates can carry over to the other front ends are accepted, so a
// window cannot quietly look different on Windows.
constexpr StyleName kStyleNames[] = {
    {"WS_POPUP", kWsPopup, kDialogStyle},
    {"WS_VISIBLE", kWsVisible, kDialogStyle | kAnyControl},
    {"WS_CAPTION", kWsCaption, kDialogStyle},
    {"WS_SYSMENU", kWsSysMenu, kDialogStyle},
    {"DS_MODALFRAME", kDsModalFrame, kDialogStyle},
    {"DS_SETFONT", kDsSetFont, kDialogStyle},
    {"WS_EX_APPWINDOW", kWsExAppWindow, kDialogExStyle},
    {"WS_TABSTOP", kWsTabStop, kAnyControl},
    {"WS_GROUP", kWsGroup, kAnyControl},
    {"WS_VSCROLL", kWsVScroll, kListStyle},
    {"SS_NOPREFIX", kSsNoPrefix, kStaticStyle},
    {"ES_PASSWORD", kEsPassword, kEditStyle},
    {"ES_AUTOHSCROLL", kEsAutoHScroll, kEditStyle},
    {"CBS_DROPDOWNLIST", kCbsDropDownList, kListStyle},
};

// What stands before a control's id.
enum class Operand { kText, kIconId, kNone };

struct ControlStatement {
  std::string_view keyword;
  Operand operand;
  unsigned scopes;
  ControlKind kind;
  std::uint32_t defaultStyle;  // when the statement gives no style
  std::uint32_t baseStyle;     // what windres keeps of it under a given style
};

constexpr ControlStatement kControlStatements[] = {
    {"LTEXT", Operand::kText, kAnyControl | kStaticStyle, ControlKind::kText, kWsGroup, 0},
    {"CTEXT", Operand::kText, kAnyControl | kStaticStyle, ControlKind::kCentredText,
     kSsCenter | kWsGroup, kSsCenter},
    {"EDITTEXT", Operand::kNone, kAnyControl | kEditStyle, ControlKind::kEdit, kWsTabStop,
     kWsTabStop},
    {"COMBOBOX", Operand::kNone, kAnyControl | kListStyle, ControlKind::kDropDownList,
     kCbsSimple | kWsTabStop, 0},
    {"PUSHBUTTON", Operand::kText, kAnyControl, ControlKind::kPushButton, kWsTabStop, kWsTabStop},
    {"DEFPUSHBUTTON", Operand::kText, kAnyControl, ControlKind::kDefaultPushButton, kWsTabStop,
     kWsTabStop},
    {"AUTOCHECKBOX", Operand::kText, kAnyControl, ControlKind::kAutoCheckBox, kWsTabStop,
     kWsTabStop},
    {"GROUPBOX", Operand::kText, kAnyControl, ControlKind::kGroupBox, 0, 0},
    {"ICON", Operand::kIconId, kAnyControl | kStaticStyle, ControlKind::kIcon, kSsIcon, kSsIcon},
};

using NameMap = std::map<std::string, long long, std::less<>>;

// Names the script takes from the system headers rather than from the resource header,
// with the values Windows gives them.
const NameMap kSystemNames = {
    {"IDOK", 1},
    {"IDC_STATIC", kNoControlId},
};

constexpr std::uint16_t kAddString = 0x0403;
constexpr int kMaxNesting = 32;
constexpr long long kMaxResourceId = 0xFFFF;
constexpr long long kMaxCoordinate = 0x7FFF;

struct Source {
  std::string file;
  std::vector<Token> tokens;
  std::size_t next = 0;
};

// One string of the list data, attached to its control once the whole script is read.
struct ListEntry {
  int dialogId;
  int controlId;
  std::string_view text;
  int line;
};

struct IconUse {
  int iconId;
  int line;
};

std::string Describe(const Token& token) {
  switch (token.kind) {
    case TokenKind::kName:
      return token.text;
    case TokenKind::kNumber:
      return std::to_string(token.number);
    case TokenKind::kString:
      return "\"" + token.text + "\"";
    case TokenKind::kPunct:
      return "'" + token.text + "'";
    case TokenKind::kDirective:
      return "#" + token.text;
    case TokenKind::kEnd:
      break;
  }
  return "the end of the file";
}

std::string_view Trim(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

class Parser {
 public:
  Parser(ResourceScript& script, std::string& error) : script_(script), error_(error) {}

  bool ParseScript(const fs::path& path) {
    Source source;
    if (!Load(path, source)) return false;
    source_ = &source;
    return ParseStatements(false) && AttachListEntries() && CheckIcons();
  }

 private:
  // Sources and tokens

  bool Load(const fs::path& path, Source& source) {
    source.file = path.string();
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    if (!in) {
      error_ = source.file + ": cannot read: " + std::strerror(errno);
      return false;
    }
    LexError lexError;
    if (Tokenize(text.str(), 1, source.tokens, lexError)) return true;
    error_ = source.file + ":" + std::to_string(lexError.line) + ": " + lexError.message;
    return false;
  }

  const Token& PeekAt(std::size_t offset) const {
    const auto& tokens = source_->tokens;
    return tokens[std::min(source_->next + offset, tokens.size() - 1)];
  }
  const Token& Peek() const { return PeekAt(0); }
  const Token& Take() {
    const Token& token = Peek();
    if (token.kind != TokenKind::kEnd) ++source_->next;
    return token;
  }

  static bool IsName(const Token& token, std::string_view name) {
    return token.kind == TokenKind::kName && token.text == name;
  }
  static bool IsPunct(const Token& token, char c) {
    return token.kind == TokenKind::kPunct && token.text[0] == c;
  }

  bool Fail(int line, const std::string& message) {
    error_ = source_->file + ":" + std::to_string(line) + ": " + message;
    return false;
  }
  bool Fail(const Token& at, const std::string& message) { return Fail(at.line, message); }

  bool AcceptPunct(char c) {
    if (!IsPunct(Peek(), c)) return false;
    Take();
    return true;
  }
  bool ExpectPunct(char c) {
    if (AcceptPunct(c)) return true;
    return Fail(Peek(), std::string("expected '") + c + "' but found " + Describe(Peek()));
  }
  bool ExpectName(std::string_view name) {
    if (IsName(Peek(), name)) {
      Take();
      return true;
    }
    return Fail(Peek(), "expected " + std::string(name) + " but found " + Describe(Peek()));
  }
  bool ExpectString(std::string& text) {
    const Token& token = Take();
    if (token.kind != TokenKind::kString) {
      return Fail(token, "expected a string but found " + Describe(token));
    }
    text = token.text;
    return true;
  }

  std::string_view Keep(std::string text) { return script_.texts.emplace_back(std::move(text)); }

  // Numbers and styles

  bool Resolve(const Token& name, long long& value) {
    for (const NameMap* names : {static_cast<const NameMap*>(&defines_), &kSystemNames}) {
      if (auto found = names->find(name.text); found != names->end()) {
        value = found->second;
        return true;
      }
    }
    return Fail(name, "unknown name " + name.text);
  }

  bool ParseValue(long long& value, int depth = 0) {
    if (depth > kMaxNesting) return Fail(Peek(), "expression nested too deeply");
    const Token& token = Take();
    if (IsPunct(token, '-')) {
      if (!ParseValue(value, depth + 1)) return false;
      value = -value;
      return true;
    }
    if (IsPunct(token, '(')) return ParseValue(value, depth + 1) && ExpectPunct(')');
    if (token.kind == TokenKind::kNumber) {
      value = token.number;
      return true;
    }
    if (token.kind == TokenKind::kName) return Resolve(token, value);
    return Fail(token, "expected a number but found " + Describe(token));
  }

  bool ParseInt(int& out, long long lowest, long long highest, std::string_view what) {
    const Token& at = Peek();
    long long value = 0;
    if (!ParseValue(value)) return false;
    if (value < lowest || value > highest) {
      return Fail(at, std::string(what) + " " + std::to_string(value) + " is out of range (" +
                          std::to_string(lowest) + " to " + std::to_string(highest) + ")");
    }
    out = static_cast<int>(value);
    return true;
  }

  // A field that windres writes as 16 bits, given as one name or number without L.
  bool ParseWordField(int& out, std::string_view what) {
    const Token& token = Peek();
    if (token.isLong) return Fail(token, std::string(what) + " is 16 bits wide: drop the L");
    if (token.kind != TokenKind::kNumber && token.kind != TokenKind::kName) {
      return Fail(token, "expected " + std::string(what) + " but found " + Describe(token));
    }
    return ParseInt(out, 0, kMaxResourceId, what);
  }

  // Names joined by '|'; NOT clears a name's bits from what is there so far.
  bool ParseStyle(unsigned scopes, std::uint32_t& style) {
    do {
      const bool clear = IsName(Peek(), "NOT");
      if (clear) Take();
      const Token& token = Take();
      if (token.kind != TokenKind::kName) {
        return Fail(token, "expected a style name but found " + Describe(token));
      }
      const auto* name = std::ranges::find(kStyleNames, token.text, &StyleName::name);
      if (name == std::end(kStyleNames)) return Fail(token, "unsupported style " + token.text);
      if ((name->scopes & scopes) == 0) return Fail(token, token.text + " does not apply here");
      style = clear ? style & ~name->value : style | name->value;
    } while (AcceptPunct('|'));
    return true;
  }

  // Statements

  bool ParseStatements(bool inHeader) {
    while (Peek().kind != TokenKind::kEnd) {
      const Token& token = Peek();
      if (token.kind == TokenKind::kDirective) {
        Take();
        if (!ParseDirective(token, inHeader)) return false;
      } else if (inHeader) {
        return Fail(token, "only #define lines belong in a resource header");
      } else if (!ParseResource()) {
        return false;
      }
    }
    return true;
  }

  bool ParseDirective(const Token& directive, bool inHeader) {
    const std::string_view text = Trim(directive.text);
    if (text.starts_with("include") && Trim(text.substr(7)).starts_with('<')) {
      return true;  // a system header: the Windows names this reader needs are built in
    }
    Source line{source_->file, {}, 0};
    LexError lexError;
    if (!Tokenize(text, directive.line, line.tokens, lexError)) {
      return Fail(lexError.line, lexError.message);
    }
    Source* const outer = std::exchange(source_, &line);
    const bool done = ParseDirectiveLine(inHeader);
    source_ = outer;
    return done;
  }

  bool ParseDirectiveLine(bool inHeader) {
    const Token& keyword = Take();
    if (IsName(keyword, "define")) return ParseDefine();
    if (IsName(keyword, "pragma")) return ParsePragma(inHeader);
    if (IsName(keyword, "include") && !inHeader) {
      std::string name;
      if (!ExpectString(name) || !ExpectEndOfLine()) return false;
      const fs::path header = fs::path(source_->file).parent_path() / name;
      std::error_code ignored;
      if (!fs::is_regular_file(header, ignored)) return Fail(keyword, "cannot find " + name);
      return ParseHeader(header);
    }
    return Fail(keyword, "unsupported directive #" + Describe(keyword));
  }

  bool ExpectEndOfLine() {
    if (Peek().kind == TokenKind::kEnd) return true;
    return Fail(Peek(), "unexpected " + Describe(Peek()) + " at the end of the directive");
  }

  bool ParseDefine() {
    const Token& name = Take();
    if (name.kind != TokenKind::kName) return Fail(name, "expected a name after #define");
    long long value = 0;
    if (!ParseValue(value) || !ExpectEndOfLine()) return false;
    if (!defines_.emplace(name.text, value).second) {
      return Fail(name, name.text + " is defined twice");
    }
    return true;
  }

  bool ParsePragma(bool inHeader) {
    if (IsName(Peek(), "once") && inHeader) {
      Take();
      return ExpectEndOfLine();
    }
    const bool codePage = IsName(Take(), "code_page") && AcceptPunct('(') &&
                          Peek().kind == TokenKind::kNumber && Take().number == 65001 &&
                          AcceptPunct(')') && Peek().kind == TokenKind::kEnd;
    if (!codePage) return Fail(Peek(), "only #pragma code_page(65001) is supported");
    return true;
  }

  bool ParseHeader(const fs::path& path) {
    Source header;
    if (!Load(path, header)) return false;
    Source* const outer = std::exchange(source_, &header);
    const bool done = ParseStatements(true);
    source_ = outer;
    return done;
  }

  bool ParseResource() {
    if (IsName(Peek(), "LANGUAGE")) return ParseLanguage();
    if (IsName(Peek(), "STRINGTABLE")) return ParseStringTable();
    const Token& type = PeekAt(1);
    if (IsName(type, "VERSIONINFO")) {
      Take();
      Take();
      return SkipVersionInfo();
    }
    const Token& at = Peek();
    for (const auto& [keyword, parse] : kResourceParsers) {
      if (!IsName(type, keyword)) continue;
      int id = 0;
      if (!ParseInt(id, 1, kMaxResourceId, "a resource id")) return false;
      Take();
      return (this->*parse)(id, at.line);
    }
    if (type.kind == TokenKind::kName) return Fail(type, "unsupported resource type " + type.text);
    return Fail(at, "expected a resource but found " + Describe(at));
  }

  // The language only decides which resources Windows picks; nothing here depends on it.
  bool ParseLanguage() {
    Take();
    const Token& primary = Take();
    if (!ExpectPunct(',')) return false;
    const Token& sub = Take();
    for (const Token* part : {&primary, &sub}) {
      if (part->kind != TokenKind::kName && part->kind != TokenKind::kNumber) {
        return Fail(*part, "expected a language but found " + Describe(*part));
      }
    }
    return true;
  }

  bool ParseStringTable() {
    Take();
    if (!ExpectName("BEGIN")) return false;
    while (!IsName(Peek(), "END")) {
      const Token& at = Peek();
      if (at.kind == TokenKind::kEnd) return Fail(at, "STRINGTABLE is missing its END");
      int id = 0;
      std::string text;
      if (!ParseInt(id, 0, kMaxResourceId, "a string id")) return false;
      AcceptPunct(',');
      if (!ExpectString(text)) return false;
      if (std::ranges::find(script_.strings, id, &StringResource::id) != script_.strings.end()) {
        return Fail(at, "string " + std::to_string(id) + " is defined twice");
      }
      script_.strings.push_back({id, Keep(std::move(text))});
    }
    Take();
    return true;
  }

  // The fixed part runs up to the first BEGIN; the blocks after it nest.
  bool SkipVersionInfo() {
    int depth = 0;
    while (true) {
      const Token& token = Take();
      if (token.kind == TokenKind::kEnd || token.kind == TokenKind::kDirective) {
        return Fail(token, "VERSIONINFO is missing its END");
      }
      if (IsName(token, "BEGIN")) {
        ++depth;
      } else if (IsName(token, "END") && --depth <= 0) {
        return depth == 0 || Fail(token, "END without BEGIN");
      }
    }
  }

  bool ParseIconResource(int id, int) {
    std::string file;
    if (!ExpectString(file)) return false;
    icons_.insert(id);
    return true;
  }

  bool ParseDialog(int id, int line) {
    DialogTemplate dialog{.id = id};
    int x = 0;
    int y = 0;
    if (!ParseInt(x, 0, kMaxCoordinate, "x") || !ExpectPunct(',') ||
        !ParseInt(y, 0, kMaxCoordinate, "y") || !ExpectPunct(',') ||
        !ParseInt(dialog.width, 0, kMaxCoordinate, "a width") || !ExpectPunct(',') ||
        !ParseInt(dialog.height, 0, kMaxCoordinate, "a height")) {
      return false;
    }
    if (x != 0 || y != 0) return Fail(line, "a dialog opens centred: give its position as 0, 0");
    if (IsPunct(Peek(), ',')) return Fail(Peek(), "a dialog help id is not supported");
    if (std::ranges::find(script_.dialogs, id, &DialogTemplate::id) != script_.dialogs.end()) {
      return Fail(line, "dialog " + std::to_string(id) + " is defined twice");
    }
    std::uint32_t style = 0;
    std::uint32_t exStyle = 0;
    if (!ParseDialogHead(dialog, style, exStyle, line)) return false;
    dialog.hasCaption = (style & kWsCaption) == kWsCaption;
    dialog.hasSystemMenu = (style & kWsSysMenu) != 0;
    dialog.modalFrame = (style & kDsModalFrame) != 0;
    dialog.appWindow = (exStyle & kWsExAppWindow) != 0;

    auto& controls = script_.controlLists.emplace_back();
    while (!IsName(Peek(), "END")) {
      if (Peek().kind == TokenKind::kEnd) return Fail(Peek(), "dialog is missing its END");
      if (!ParseControl(controls)) return false;
    }
    Take();
    dialog.controls = controls;
    script_.dialogs.push_back(dialog);
    return true;
  }

  // The statements between the dialog's size and its BEGIN.
  bool ParseDialogHead(DialogTemplate& dialog, std::uint32_t& style, std::uint32_t& exStyle,
                       int line) {
    bool hasStyle = false;
    while (true) {
      const Token& token = Take();
      if (IsName(token, "BEGIN")) break;
      std::string text;
      if (IsName(token, "STYLE")) {
        hasStyle = true;
        if (!ParseStyle(kDialogStyle, style)) return false;
      } else if (IsName(token, "EXSTYLE")) {
        if (!ParseStyle(kDialogExStyle, exStyle)) return false;
      } else if (IsName(token, "CAPTION")) {
        if (!ExpectString(text)) return false;
        dialog.caption = Keep(std::move(text));
      } else if (IsName(token, "FONT")) {
        if (!ParseInt(dialog.fontPoints, 1, kMaxCoordinate, "a point size") || !ExpectPunct(',') ||
            !ExpectString(text)) {
          return false;
        }
        dialog.fontFace = Keep(std::move(text));
        if (IsPunct(Peek(), ',')) {
          return Fail(Peek(), "font weight, italic and character set are not supported");
        }
      } else {
        return Fail(token, "unsupported dialog statement " + Describe(token));
      }
    }
    if (!hasStyle || (style & kWsPopup) == 0) return Fail(line, "a dialog needs STYLE WS_POPUP");
    if (dialog.fontPoints == 0) return Fail(line, "a dialog needs a FONT");
    return true;
  }

  bool ParseControl(std::vector<ControlTemplate>& controls) {
    const Token& keyword = Take();
    const std::string_view word =
        keyword.kind == TokenKind::kName ? std::string_view(keyword.text) : std::string_view();
    const auto* statement = std::ranges::find(kControlStatements, word, &ControlStatement::keyword);
    if (statement == std::end(kControlStatements)) {
      return Fail(keyword, "unsupported control statement " + Describe(keyword));
    }
    ControlTemplate control{.kind = statement->kind};
    if (!ParseOperand(*statement, control) ||
        !ParseInt(control.id, kNoControlId, kMaxResourceId, "a control id") ||
        !ParseRect(*statement, control.rect)) {
      return false;
    }
    std::uint32_t style = kWsVisible | statement->defaultStyle;
    if (AcceptPunct(',')) {
      style = kWsVisible | statement->baseStyle;
      if (!ParseStyle(statement->scopes, style)) return false;
    }
    if (IsPunct(Peek(), ',')) return Fail(Peek(), "control extended styles are not supported");
    if (!ApplyStyle(style, control, keyword.line)) return false;
    if (control.id != kNoControlId &&
        std::ranges::find(controls, control.id, &ControlTemplate::id) != controls.end()) {
      return Fail(keyword, "control " + std::to_string(control.id) + " appears twice");
    }
    if (control.kind == ControlKind::kIcon) iconUses_.push_back({control.iconId, keyword.line});
    controls.push_back(control);
    return true;
  }

  bool ParseOperand(const ControlStatement& statement, ControlTemplate& control) {
    std::string text;
    switch (statement.operand) {
      case Operand::kText:
        if (!ExpectString(text)) return false;
        control.text = Keep(std::move(text));
        return ExpectPunct(',');
      case Operand::kIconId:
        return ParseInt(control.iconId, 1, kMaxResourceId, "an icon id") && ExpectPunct(',');
      case Operand::kNone:
        break;
    }
    return true;
  }

  // An icon's size may be left out: Windows sizes icon controls to their icon anyway.
  bool ParseRect(const ControlStatement& statement, DialogRect& rect) {
    if (!ExpectPunct(',') || !ParseInt(rect.x, 0, kMaxCoordinate, "x") || !ExpectPunct(',') ||
        !ParseInt(rect.y, 0, kMaxCoordinate, "y")) {
      return false;
    }
    if (statement.operand == Operand::kIconId && !IsPunct(Peek(), ',')) return true;
    return ExpectPunct(',') && ParseInt(rect.width, 0, kMaxCoordinate, "a width") &&
           ExpectPunct(',') && ParseInt(rect.height, 0, kMaxCoordinate, "a height");
  }

  bool ApplyStyle(std::uint32_t style, ControlTemplate& control, int line) {
    control.visible = (style & kWsVisible) != 0;
    control.tabStop = (style & kWsTabStop) != 0;
    switch (control.kind) {
      case ControlKind::kText:
      case ControlKind::kCentredText:
        control.noPrefix = (style & kSsNoPrefix) != 0;
        break;
      case ControlKind::kEdit:
        if ((style & kEsAutoHScroll) == 0) {
          return Fail(line, "an edit field must scroll horizontally (ES_AUTOHSCROLL)");
        }
        if ((style & kEsPassword) != 0) control.kind = ControlKind::kPasswordEdit;
        break;
      case ControlKind::kDropDownList:
        if ((style & kCbsTypeMask) != kCbsDropDownList || (style & kWsVScroll) == 0) {
          return Fail(line, "a COMBOBOX must be CBS_DROPDOWNLIST | WS_VSCROLL");
        }
        break;
      default:
        break;
    }
    return true;
  }

  // Entries of: control id, 0x0403, the string's length with its NUL as a 32-bit number,
  // the string; a 0 ends them. This is the layout a Win32 front end reads back.
  bool ParseListData(int dialogId, int line) {
    if (!listDialogs_.insert(dialogId).second) {
      return Fail(line, "list data for dialog " + std::to_string(dialogId) + " given twice");
    }
    if (!ExpectName("BEGIN")) return false;
    while (true) {
      int controlId = 0;
      if (!ParseWordField(controlId, "a control id")) return false;
      if (controlId == 0) break;
      const Token& at = Peek();
      std::string text;
      if (!ExpectPunct(',') || !ExpectAddString() || !ExpectPunct(',') || !ParseListString(text) ||
          !ExpectPunct(',')) {
        return false;
      }
      pending_.push_back({dialogId, controlId, Keep(std::move(text)), at.line});
    }
    return ExpectName("END");
  }

  bool ExpectAddString() {
    const Token& token = Take();
    if (token.kind == TokenKind::kNumber && !token.isLong && token.number == kAddString) {
      return true;
    }
    return Fail(token, "expected 0x0403 (add a string) but found " + Describe(token));
  }

  bool ParseListString(std::string& text) {
    const Token& length = Take();
    if (length.kind != TokenKind::kNumber || !length.isLong) {
      return Fail(length, "expected the string's length as a 32-bit number such as 5L");
    }
    if (!ExpectPunct(',') || !ExpectString(text)) return false;
    if (text.find('\0') != text.size() - 1) {
      return Fail(length, "the string must end with \\0 and hold no other");
    }
    if (length.number != text.size()) {
      return Fail(length, "the length is " + std::to_string(length.number) +
                              " but the string with its NUL has " + std::to_string(text.size()) +
                              " bytes");
    }
    text.pop_back();
    return true;
  }

  // Checks after the whole script

  bool AttachListEntries() {
    std::map<std::pair<std::size_t, int>, std::vector<std::string_view>> lists;
    for (const ListEntry& entry : pending_) {
      const auto dialog = std::ranges::find(script_.dialogs, entry.dialogId, &DialogTemplate::id);
      if (dialog == script_.dialogs.end()) {
        return Fail(entry.line, "list data for dialog " + std::to_string(entry.dialogId) +
                                    ", which the script does not define");
      }
      const auto index = static_cast<std::size_t>(dialog - script_.dialogs.begin());
      auto& controls = script_.controlLists[index];
      auto control = std::ranges::find(controls, entry.controlId, &ControlTemplate::id);
      if (control == controls.end() || control->kind != ControlKind::kDropDownList) {
        return Fail(entry.line, "control " + std::to_string(entry.controlId) +
                                    " is not a drop-down list of dialog " +
                                    std::to_string(entry.dialogId));
      }
      lists[{index, entry.controlId}].push_back(entry.text);
    }
    for (auto& [key, entries] : lists) {
      auto& controls = script_.controlLists[key.first];
      auto control = std::ranges::find(controls, key.second, &ControlTemplate::id);
      control->listEntries = script_.lists.emplace_back(std::move(entries));
    }
    return true;
  }

  bool CheckIcons() {
    for (const IconUse& use : iconUses_) {
      if (!icons_.contains(use.iconId)) {
        return Fail(use.line, "icon " + std::to_string(use.iconId) + " is not an ICON resource");
      }
    }
    return true;
  }

  using ResourceParser = bool (Parser::*)(int id, int line);
  static constexpr std::pair<std::string_view, ResourceParser> kResourceParsers[] = {
      {"DIALOGEX", &Parser::ParseDialog},
      {"DLGINIT", &Parser::ParseListData},
      {"ICON", &Parser::ParseIconResource},
  };

  ResourceScript& script_;
  std::string& error_;
  Source* source_ = nullptr;
  NameMap defines_;
  std::set<int> icons_;
  std::set<int> listDialogs_;
  std::vector<IconUse> iconUses_;
  std::vector<ListEntry> pending_;
};

}  // namespace

std::unique_ptr<ResourceScript> ParseResourceScript(const std::filesystem::path& path,
                                                    std::string& error) {
  auto script = std::make_unique<ResourceScript>();
  if (!Parser(*script, error).ParseScript(path)) return nullptr;
  return script;
}
