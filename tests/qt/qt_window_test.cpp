// The Qt window built from the main template: where the controls go, what they hold, the
// keyboard, and what screen readers learn about them.
#include <fcntl.h>

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyleOptionComboBox>
#include <QTest>
#include <QTextDocument>
#include <cmath>
#include <map>
#include <set>

#include "tests/qt/qt_test_support.h"
#include "tests/support/port_holder.h"
#include "tests/support/pty_pair.h"
#include "tests/support/temp_ports_dir.h"
#include "ui/port_list_tip.h"

namespace {

const DialogTemplate& MainTemplate() {
  return *FindDialogTemplate(IDD_MAIN);
}

QString Utf8(std::string_view text) {
  return QString::fromUtf8(text.data(), text.size());
}

QString Accessible(QWidget* widget, QAccessible::Text text) {
  return QAccessible::queryAccessibleInterface(widget)->text(text);
}

// The text a tooltip shows, as QToolTip tells markup from plain text.
QString ShownText(const QString& tip) {
  if (!Qt::mightBeRichText(tip)) return tip;
  QTextDocument document;
  document.setHtml(tip);
  return document.toPlainText();
}

bool Interactive(ControlKind kind) {
  return kind != ControlKind::kText && kind != ControlKind::kCentredText &&
         kind != ControlKind::kGroupBox && kind != ControlKind::kIcon;
}

class QtWindowTest : public QtMainWindowTest {
 protected:
  // The pixels of a template rectangle, worked out independently of the window.
  QRect Expected(const DialogRect& rect) {
    const ui::BaseUnits units = ui::DialogBaseUnits(Window().fontMetrics());
    auto scale = [](int value, int base, int per) {
      return static_cast<int>(std::lround(value * static_cast<double>(base) / per));
    };
    return {scale(rect.x, units.x, 4), scale(rect.y, units.y, 8), scale(rect.width, units.x, 4),
            scale(rect.height, units.y, 8)};
  }
};

TEST_F(QtWindowTest, LaysOutTheTemplateInDialogUnitsOfItsFont) {
  handler_.init = [](ui::Window& window) { window.SetWindowIcon(IDR_MAINFRAME); };
  Open();
  // Windows' 9-point dialog font gives about 6 by 12 pixels, height twice the width.
  const ui::BaseUnits units = ui::DialogBaseUnits(Window().fontMetrics());
  EXPECT_EQ(units.y, 2 * units.x);
  EXPECT_GE(units.x, 6);
  EXPECT_LE(units.x, 8);
  EXPECT_EQ(Window().size(), Expected({0, 0, 271, 307}).size());
  EXPECT_EQ(QFontInfo(Window().font()).family(), "Noto Sans CJK SC");

  for (int id : {IDC_ADDRESS_EDIT, IDC_SEARCH_19200, IDC_SEARCH_BUTTON, IDC_FACTORY_BUTTON}) {
    EXPECT_EQ(Control(id)->geometry(), Expected(MainTemplate().FindControl(id)->rect)) << id;
  }
  // A list's template height is that of the opened list; closed, it keeps the toolkit's.
  auto* ports = Control<QComboBox>(IDC_PORT_COMBO);
  const QRect opened = Expected(MainTemplate().FindControl(IDC_PORT_COMBO)->rect);
  EXPECT_EQ(ports->geometry().topLeft(), opened.topLeft());
  EXPECT_EQ(ports->width(), opened.width());
  EXPECT_LT(ports->height(), opened.height());
  // Icon controls take the large icon's size; the icons come from the embedded resources.
  auto* lamp = Control<QLabel>(IDC_LEAK_LAMP);
  EXPECT_EQ(lamp->geometry(), QRect(Expected({17, 229, 0, 0}).topLeft(), QSize(32, 32)));
  const QImage off = lamp->pixmap().toImage();
  Window().SetIcon(IDC_LEAK_LAMP, IDI_LAMP_RED);
  EXPECT_FALSE(off.isNull());
  EXPECT_NE(lamp->pixmap().toImage(), off);
  EXPECT_EQ(Window().windowIcon().availableSizes().size(), 2);
}

TEST_F(QtWindowTest, LampsShowTheSamePixmapEveryTimeAnIconComesBack) {
  Open();
  auto* leak = Control<QLabel>(IDC_LEAK_LAMP);
  auto* probe = Control<QLabel>(IDC_PROBE_LAMP);
  std::map<int, qint64> keys{{IDI_LAMP_OFF, leak->pixmap().cacheKey()}};
  // As acquisition does at every poll; a pixmap made afresh each time piles up in the caches.
  for (int round = 0; round < 3; ++round) {
    for (int icon : {IDI_LAMP_RED, IDI_LAMP_GREEN, IDI_LAMP_OFF}) {
      Window().SetIcon(IDC_LEAK_LAMP, icon);
      Window().SetIcon(IDC_PROBE_LAMP, icon);
      const qint64 key = leak->pixmap().cacheKey();
      EXPECT_EQ(keys.try_emplace(icon, key).first->second, key) << icon << " in round " << round;
      EXPECT_EQ(probe->pixmap().cacheKey(), key) << icon << " in round " << round;
    }
  }
  EXPECT_EQ(std::set<qint64>({keys[IDI_LAMP_OFF], keys[IDI_LAMP_RED], keys[IDI_LAMP_GREEN]}).size(),
            3u);

  // Greyed, each icon is derived once, and undimmed it is the loaded one again.
  std::map<int, qint64> greyedKeys;
  for (int round = 0; round < 3; ++round) {
    for (int icon : {IDI_LAMP_RED, IDI_LAMP_GREEN}) {
      Window().SetIcon(IDC_LEAK_LAMP, icon);
      Window().SetIconDimmed(IDC_LEAK_LAMP, true);
      const qint64 key = leak->pixmap().cacheKey();
      EXPECT_NE(key, keys[icon]) << icon;
      EXPECT_EQ(greyedKeys.try_emplace(icon, key).first->second, key)
          << icon << " in round " << round;
      Window().SetIconDimmed(IDC_LEAK_LAMP, false);
      EXPECT_EQ(leak->pixmap().cacheKey(), keys[icon]) << icon << " in round " << round;
    }
  }
}

TEST_F(QtWindowTest, NoTextIsCutOffAndNoControlCoversAnother) {
  Open();
  Window().SetText(IDC_LEAK_TEXT, "读取出错");  // wider than its template box
  Window().SetText(IDC_SEARCH_RESULT, "搜索到的参数为:波特率19200地址255");
  const QFontMetrics metrics = Window().fontMetrics();
  std::vector<QWidget*> interactive;
  for (const ControlTemplate& control : MainTemplate().controls) {
    QWidget* widget = Window().ControlWidget(control.id);
    if (!widget || widget->isHidden()) continue;
    if (auto* label = qobject_cast<QLabel*>(widget); label && !label->text().isEmpty()) {
      EXPECT_GE(label->width(), metrics.horizontalAdvance(label->text())) << control.id;
      EXPECT_GE(label->height(), metrics.height()) << control.id;
    } else if (auto* button = qobject_cast<QPushButton*>(widget)) {
      EXPECT_LE(metrics.horizontalAdvance(button->text()) + 12, button->width()) << control.id;
    } else if (auto* box = qobject_cast<QCheckBox*>(widget)) {
      QStyleOptionButton option;
      option.initFrom(box);
      const QRect text = box->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, box);
      EXPECT_LE(metrics.horizontalAdvance(box->text()), text.width()) << control.id;
    } else if (auto* list = qobject_cast<QComboBox*>(widget)) {
      QStyleOptionComboBox option;
      option.initFrom(list);
      const QRect field = list->style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                        QStyle::SC_ComboBoxEditField, list);
      for (int entry = 0; entry < list->count(); ++entry) {
        EXPECT_LE(metrics.horizontalAdvance(list->itemText(entry)), field.width()) << control.id;
      }
    }
    if (Interactive(control.kind)) interactive.push_back(widget);
  }
  for (QWidget* widget : interactive) {
    EXPECT_TRUE(Window().rect().contains(widget->geometry())) << widget->metaObject()->className();
    for (QWidget* other : interactive) {
      if (other == widget) continue;
      EXPECT_FALSE(widget->geometry().intersects(other->geometry()));
    }
  }
  // A text that grows keeps its anchor: the left edge, or the centre of a centred text.
  const QRect leak = Expected(MainTemplate().FindControl(IDC_LEAK_TEXT)->rect);
  EXPECT_EQ(Control(IDC_LEAK_TEXT)->x(), leak.x());
  const QRect result = Expected(MainTemplate().FindControl(IDC_SEARCH_RESULT)->rect);
  EXPECT_NEAR(Control(IDC_SEARCH_RESULT)->geometry().center().x(), result.center().x(), 1);
}

TEST_F(QtWindowTest, ControlsHoldTheirContentsAndSelections) {
  Open();
  EXPECT_EQ(Window().Text(IDC_SEARCH_BUTTON), "搜索参数");
  EXPECT_EQ(Window().EntryText(IDC_PORT_COMBO, 11), "Com12");
  EXPECT_EQ(Window().EntryText(IDC_SENSITIVITY_COMBO, 0), "高");
  EXPECT_EQ(Window().EntryText(IDC_SENSITIVITY_COMBO, 3), "");
  EXPECT_EQ(Window().Selection(IDC_NEW_BAUD_COMBO), -1);
  for (int outside : {5, -7}) {
    Window().Select(IDC_BAUD_COMBO, 3);
    EXPECT_EQ(Window().Text(IDC_BAUD_COMBO), "9600");
    Window().Select(IDC_BAUD_COMBO, outside);
    EXPECT_EQ(Window().Selection(IDC_BAUD_COMBO), -1) << outside;
  }
  Window().SetCheckState(IDC_SEARCH_2400, 1);
  QTest::mouseClick(Control(IDC_SEARCH_2400), Qt::LeftButton);
  EXPECT_EQ(Window().CheckState(IDC_SEARCH_2400), 0);
  // Unknown controls and the wrong kind of control are harmless.
  Window().SetText(4242, "x");
  EXPECT_EQ(Window().Text(4242), "");
  EXPECT_EQ(Window().Selection(IDC_SEARCH_BUTTON), -1);
}

TEST_F(QtWindowTest, HiddenControlsKeepTheirText) {
  Open();
  EXPECT_TRUE(Control(IDC_HIDDEN_DEFAULT)->isHidden());
  EXPECT_TRUE(Control(IDC_VOLTAGE_VALUE)->isHidden());
  Window().SetText(IDC_VOLTAGE_VALUE, "：12.5V");
  Window().Show(IDC_VOLTAGE_VALUE, true);
  EXPECT_TRUE(Control(IDC_VOLTAGE_VALUE)->isVisible());
  Window().Show(IDC_VOLTAGE_VALUE, false);
  EXPECT_EQ(Window().Text(IDC_VOLTAGE_VALUE), "：12.5V");
}

TEST_F(QtWindowTest, OnlyEnabledButtonsSendCommands) {
  Open();
  QTest::mouseClick(Control(IDC_READ_VERSION), Qt::LeftButton);
  Window().Enable(IDC_SET_BAUD, false);
  QTest::mouseClick(Control(IDC_SET_BAUD), Qt::LeftButton);
  QTest::mouseClick(Control(IDC_SEARCH_19200), Qt::LeftButton);
  EXPECT_EQ(handler_.commands, (std::vector<int>{IDC_READ_VERSION, IDC_SEARCH_19200}));
}

TEST_F(QtWindowTest, FocusStartsOnThePortListAndTabsInTemplateOrder) {
  Open();
  std::vector<QWidget*> expected;
  for (const ControlTemplate& control : MainTemplate().controls) {
    if (control.tabStop && control.visible) expected.push_back(Control(control.id));
  }
  EXPECT_EQ(QApplication::focusWidget(), Control(IDC_PORT_COMBO));
  std::vector<QWidget*> visited{QApplication::focusWidget()};
  for (std::size_t step = 1; step < expected.size(); ++step) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    visited.push_back(QApplication::focusWidget());
  }
  EXPECT_EQ(visited, expected);
}

TEST_F(QtWindowTest, EnterPressesOnlyAFocusedButtonAndEscEndsTheWindow) {
  Open();
  for (int field : {IDC_ADDRESS_EDIT, IDC_PORT_COMBO}) {
    Control(field)->setFocus();
    QTest::keyClick(Control(field), Qt::Key_Return);
  }
  EXPECT_TRUE(handler_.commands.empty());

  Control(IDC_READ_VERSION)->setFocus();
  QTest::keyClick(Control(IDC_READ_VERSION), Qt::Key_Return);
  EXPECT_EQ(handler_.commands, std::vector<int>{IDC_READ_VERSION});
  // Once the focus has left the button, Enter no longer reaches it.
  Control(IDC_PERIOD_EDIT)->setFocus();
  QTest::keyClick(Control(IDC_PERIOD_EDIT), Qt::Key_Enter, Qt::KeypadModifier);
  EXPECT_EQ(handler_.commands.size(), 1u);
  EXPECT_TRUE(Window().isVisible());

  // Esc ends the window even while the timer runs; no tick follows.
  int ticks = 0;
  handler_.timer = [&](ui::Window&) { ++ticks; };
  Window().SetTimer(10);
  QTest::keyClick(Control(IDC_PERIOD_EDIT), Qt::Key_Escape);
  EXPECT_FALSE(Window().isVisible());
  EXPECT_EQ(Window().result(), ui::kIdCancel);
  EXPECT_EQ(handler_.closes, 1);
  const int ticksAtEnd = ticks;
  QTest::qWait(60);
  EXPECT_EQ(ticks, ticksAtEnd);
}

TEST_F(QtWindowTest, ScreenReadersCanTellEveryControlApart) {
  Open();
  const std::pair<int, const char*> sameText[] = {{IDC_READ_SENSITIVITY, "灵敏度"},
                                                  {IDC_READ_VERSION, "版本号"},
                                                  {IDC_SET_ADDRESS, "地址："},
                                                  {IDC_SET_BAUD, "波特率："},
                                                  {IDC_SET_SENSITIVITY, "灵敏度"}};
  for (const auto& [id, group] : sameText) {
    EXPECT_EQ(Accessible(Control(id), QAccessible::Name), Utf8(Window().Text(id))) << id;
    EXPECT_EQ(Accessible(Control(id), QAccessible::Description), group) << id;
  }
  EXPECT_EQ(Accessible(Control(IDC_PORT_COMBO), QAccessible::Description), "串口号：");
  EXPECT_EQ(Accessible(Control(IDC_SENSITIVITY_COMBO), QAccessible::Description), "灵敏度");
  EXPECT_EQ(Accessible(Control(IDC_PERIOD_EDIT), QAccessible::Name), "周期");
  EXPECT_EQ(Accessible(Control(IDC_OPTICAL_LAMP), QAccessible::Name), "光电报警");
  // A text that changes keeps reporting its live text as its name.
  Window().SetText(IDC_FAILURE_COUNT, "12");
  EXPECT_EQ(Accessible(Control(IDC_FAILURE_COUNT), QAccessible::Name), "12");
  EXPECT_EQ(Accessible(Control(IDC_FAILURE_COUNT), QAccessible::Description), "失败");

  for (const ControlTemplate& control : MainTemplate().controls) {
    QWidget* widget = Window().ControlWidget(control.id);
    if (!widget || widget->isHidden()) continue;
    // On Linux a list's name is its current entry, which may be none.
    const auto text =
        control.kind == ControlKind::kDropDownList ? QAccessible::Description : QAccessible::Name;
    EXPECT_FALSE(Accessible(widget, text).isEmpty()) << control.id;
  }
}

TEST_F(QtWindowTest, PortListToolTipNamesTheDeviceOfEachEntry) {
  TempPortsDir ports;
  ports.Link(3, "/dev/ttyUSB7");
  Open();
  QWidget* list = Control(IDC_PORT_COMBO);
  QHelpEvent hover(QEvent::ToolTip, QPoint(5, 5), list->mapToGlobal(QPoint(5, 5)));
  QApplication::sendEvent(list, &hover);
  EXPECT_TRUE(list->toolTip().contains("Com3：/dev/ttyUSB7")) << list->toolTip().toStdString();
  EXPECT_EQ(Window().EntryText(IDC_PORT_COMBO, 2), "Com3");
}

// A pointer resting on the list brings hover after hover; the ports are looked at for the
// first, and again only once that tip has been kept for a while.
TEST_F(QtWindowTest, PortListToolTipIsNotWorkedOutAtEveryHover) {
  TempPortsDir ports;
  PtyPair line;
  ports.Link(1, line.PortPath());
  Open();
  QWidget* list = Control(IDC_PORT_COMBO);
  auto hover = [&] {
    QHelpEvent event(QEvent::ToolTip, QPoint(5, 5), list->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(list, &event);
    return list->toolTip().toStdString();
  };
  const std::string first = hover();
  EXPECT_EQ(first, "Com1：" + line.PortPath());
  const PortHolder terminal(line.PortPath(), O_RDONLY);
  ASSERT_GT(terminal.pid(), 0);
  EXPECT_EQ(hover(), first);
  QTest::qWait(std::chrono::milliseconds(PortListTip::kKeptFor).count() + 100);
  EXPECT_NE(hover().find("sleep（进程 " + std::to_string(terminal.pid())), std::string::npos);
}

// Qt takes a tooltip whose first line holds a tag for markup; a link's target is the user's
// own text and must show as it is written, on lines of its own.
TEST_F(QtWindowTest, PortListToolTipShowsNamesAsTheyAreWritten) {
  TempPortsDir ports;
  ports.Link(1, "/dev/<b>x</b>");
  ports.Link(2, "/dev/ttyUSB7");
  Open();
  QWidget* list = Control(IDC_PORT_COMBO);
  QHelpEvent hover(QEvent::ToolTip, QPoint(5, 5), list->mapToGlobal(QPoint(5, 5)));
  QApplication::sendEvent(list, &hover);
  const std::string shown = ShownText(list->toolTip()).toStdString();
  EXPECT_TRUE(shown.starts_with("Com1：/dev/<b>x</b>，设备不存在\nCom2：/dev/ttyUSB7，设备不存在"))
      << shown;
}

}  // namespace
