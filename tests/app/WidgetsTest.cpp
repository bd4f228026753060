// The output pane and the dialogs, on the offscreen platform.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <functional>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>

#include "app/CDialogSelectBox.h"
#include "tooltip/CPPToolTip.h"
#include "app/CHyperLink.h"
#include "app/CPrintView.h"
#include "app/MessageDialogs.h"

namespace {

TEST(PrintView, KeepsTheLast500Lines) {
  CPrintView pane;
  for (int i = 1; i <= 500; ++i) pane.AppendText("line " + std::to_string(i) + "\n");
  EXPECT_TRUE(pane.Text().startsWith("line 1\n"));
  pane.AppendText("line 501\n");
  EXPECT_TRUE(pane.Text().startsWith("line 2\n"));
  EXPECT_TRUE(pane.Text().endsWith("line 501\n"));

  // One print of many lines is capped as well.
  std::string block;
  for (int i = 0; i < 2000; ++i) block += "b" + std::to_string(i) + "\n";
  pane.AppendText(block);
  EXPECT_LE(pane.LineCount(), CPrintView::kMaxLines + 1);
  EXPECT_TRUE(pane.Text().endsWith("b1999\n"));

  // Pieces without a line end join on one line.
  CPrintView joined;
  joined.AppendText("a");
  joined.AppendText("b");
  joined.AppendText("\n");
  EXPECT_EQ(joined.Text(), "ab\n");
}

// Long lines and floods of them: every line and the whole pane stay within
// their sizes, so a print costs what it keeps, not what the pane holds.
TEST(PrintView, LinesAndThePaneStayWithinTheirSizes) {
  const std::string megabyte(1 << 20, 'x');
  std::string twoByteLine;
  for (int i = 0; i < 150000; ++i) twoByteLine += "\xC3\xA9";  // e with an acute accent
  twoByteLine += "\n";
  struct Case {
    const char* name;
    std::vector<std::string> prints;
    const char* lastLine;  // the text's last line, when it is checked
  };
  const Case cases[] = {
      {"one long line", {megabyte + "\n"}, nullptr},
      {"many long lines", std::vector<std::string>(40, megabyte + "\n"), nullptr},
      {"one long line in many pieces", std::vector<std::string>(300, std::string(1000, 'y')), nullptr},
      {"long lines of two-byte characters", std::vector<std::string>(5, twoByteLine), nullptr},
      {"a short line after long ones", {megabyte + "\n", megabyte + "\n", "short\n"}, "short"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CPrintView pane;
    for (const std::string& text : c.prints) pane.AppendText(text);
    const QTextDocument* doc = pane.Edit()->document();
    EXPECT_LE(doc->characterCount(), CPrintView::kMaxPaneChars + CPrintView::kMaxLineChars);
    for (QTextBlock b = doc->firstBlock(); b.isValid(); b = b.next()) {
      ASSERT_LE(b.text().size(), CPrintView::kMaxLineChars);
      if (b.text().size() == CPrintView::kMaxLineChars) {
        EXPECT_EQ(b.text().back(), QChar(CPrintView::kCutMark));
      }
    }
    EXPECT_GE(doc->firstBlock().text().size(), 1) << "the pane keeps text";
    if (c.lastLine != nullptr) {
      EXPECT_TRUE(pane.Text().endsWith(QString::fromLatin1(c.lastLine) + "\n"));
    }
  }

  // A cut line keeps its start and says it was cut; the next line is whole.
  CPrintView pane;
  pane.AppendText("start" + megabyte + "\nnext\n");
  const QStringList lines = pane.Text().split(QLatin1Char('\n'));
  ASSERT_GE(lines.size(), 2);
  EXPECT_TRUE(lines[0].startsWith("startxxx"));
  EXPECT_EQ(lines[0].size(), CPrintView::kMaxLineChars);
  EXPECT_TRUE(lines[0].endsWith(QChar(CPrintView::kCutMark)));
  EXPECT_EQ(lines[1], "next");
}

TEST(PrintView, SwallowsMouseButtons) {
  CPrintView pane;
  pane.AppendText("some text\n");
  QWidget* viewport = pane.Edit()->viewport();
  for (QEvent::Type t : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease, QEvent::MouseButtonDblClick}) {
    for (Qt::MouseButton b : {Qt::LeftButton, Qt::RightButton, Qt::MiddleButton}) {
      QMouseEvent e(t, QPointF(5, 5), QPointF(5, 5), b, b, Qt::NoModifier);
      EXPECT_TRUE(pane.eventFilter(viewport, &e));
      EXPECT_TRUE(pane.eventFilter(pane.Edit(), &e));
    }
  }
  QMouseEvent move(QEvent::MouseMove, QPointF(5, 5), QPointF(5, 5), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
  EXPECT_FALSE(pane.eventFilter(viewport, &move));
  EXPECT_TRUE(pane.Edit()->isReadOnly());
}

TEST(DialogSelectBox, ShowsUpToSevenOptionsAndShrinks) {
  const std::vector<std::string> seven{"a", "b", "c", "d", "e", "f", "g"};
  CDialogSelectBox full("T", 0, seven, nullptr);
  full.show();
  const int fullHeight = full.height();
  const int spacing = full.Option(1)->geometry().bottom() - full.Option(0)->geometry().bottom();

  CDialogSelectBox two("Select Chip Series", 5, {"Cortex-M", "8051 1T"}, nullptr);
  two.show();
  EXPECT_EQ(two.windowTitle(), "Select Chip Series");
  EXPECT_EQ(two.Option(0)->text(), "Cortex-M");
  EXPECT_TRUE(two.Option(1)->isVisible());
  EXPECT_FALSE(two.Option(2)->isVisible());
  EXPECT_EQ(two.Selection(), 0) << "a default of 5 selects option 0";
  EXPECT_TRUE(two.Option(0)->isChecked());
  EXPECT_EQ(fullHeight - two.height(), 5 * spacing);

  std::vector<std::string> eight = seven;
  eight.push_back("h");
  CDialogSelectBox more("T", 6, eight, nullptr);
  more.show();
  EXPECT_EQ(more.height(), fullHeight);
  EXPECT_TRUE(more.Option(6)->isVisible());
  EXPECT_EQ(more.Selection(), 6);

  two.Option(1)->click();
  EXPECT_EQ(two.Selection(), 1);
  two.OkButton()->click();
  EXPECT_EQ(two.result(), QDialog::Accepted);
  EXPECT_EQ(two.Selection(), 1);

  CDialogSelectBox none("T", 0, {}, nullptr);
  EXPECT_EQ(none.Selection(), -1);
  none.OkButton()->click();
  EXPECT_EQ(none.Selection(), -1);
}

TEST(DialogMessage, YesNoAndOkCancelModes) {
  CDialogMessage yesNo("Update now?", MessageMode::YesNo, nullptr);
  yesNo.show();
  EXPECT_TRUE(yesNo.YesButton()->isVisible());
  EXPECT_FALSE(yesNo.OkButton()->isVisible());
  yesNo.NoButton()->click();
  EXPECT_EQ(yesNo.result(), QDialog::Accepted);
  EXPECT_EQ(yesNo.Answer(), MessageAnswer::No);

  CDialogMessage okCancel("Text", MessageMode::OkCancel, nullptr);
  okCancel.show();
  EXPECT_FALSE(okCancel.YesButton()->isVisible());
  EXPECT_TRUE(okCancel.CancelButton()->isVisible());
  EXPECT_EQ(okCancel.windowTitle(), "Vo_Link");
  okCancel.CancelButton()->click();
  EXPECT_EQ(okCancel.result(), QDialog::Rejected);
}

TEST(DialogVersion, LinkClosesWithCancelAndCountsAsUsed) {
  std::vector<QUrl> opened;
  {
    CDialogVersion d(7973, 7972, "https://example.invalid/fw", nullptr);
    EXPECT_TRUE(d.Message().startsWith("The ICE firmware has higher version 7973,\nwhile current applicaton version "
                                       "is 7972.\n"));
    d.Link()->SetOpener([&](const QUrl& u) {
      opened.push_back(u);
      return true;
    });
    d.show();
    emit d.Link()->clicked();
    EXPECT_EQ(d.result(), QDialog::Rejected);
    EXPECT_TRUE(d.LinkUsed());
    EXPECT_TRUE(d.Link()->IsVisited());
  }
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0].toString(), "https://example.invalid/fw");

  CDialogVersion ok(1, 2, "https://example.invalid/", nullptr);
  ok.show();
  ok.OkButton()->click();
  EXPECT_EQ(ok.result(), QDialog::Accepted);
  EXPECT_FALSE(ok.LinkUsed());
}

// Every way out but the link's own close reports the link as not used, even
// after the link was clicked in a dialog that stays open.
TEST(DialogVersion, EveryOtherWayOutReportsTheLinkAsNotUsed) {
  const auto pressEsc = [](CDialogVersion& d) {
    QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(&d, &esc);
  };
  const auto closeBox = [](CDialogVersion& d) { d.close(); };
  struct Case {
    const char* name;
    bool clickLinkFirst;  // with close-on-link off, so the dialog stays
    std::function<void(CDialogVersion&)> leave;
    QDialog::DialogCode result;
  };
  const Case cases[] = {
      {"Esc", false, pressEsc, QDialog::Rejected},
      {"close box", false, closeBox, QDialog::Rejected},
      {"Cancel", false, [](CDialogVersion& d) { d.CancelButton()->click(); }, QDialog::Rejected},
      {"OK", false, [](CDialogVersion& d) { d.OkButton()->click(); }, QDialog::Accepted},
      {"Esc after the link", true, pressEsc, QDialog::Rejected},
      {"close box after the link", true, closeBox, QDialog::Rejected},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CDialogVersion d(7973, 7972, "https://example.invalid/fw", nullptr);
    d.Link()->SetOpener([](const QUrl&) { return true; });
    d.show();
    if (c.clickLinkFirst) {
      d.SetCloseOnLink(false);
      emit d.Link()->clicked();
      ASSERT_TRUE(d.isVisible());
      ASSERT_TRUE(d.LinkUsed());
    }
    c.leave(d);
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(d.result(), c.result);
    EXPECT_FALSE(d.LinkUsed());
  }
}

TEST(HyperLink, FailureShowsTheReasonAndStaysUnvisited) {
  CHyperLink link(QStringLiteral("site"));
  link.SetURL(QStringLiteral("https://example.invalid/"));
  EXPECT_EQ(link.toolTip(), "https://example.invalid/");
  link.SetOpener([](const QUrl&) { return false; });
  QString shown;
  QTimer::singleShot(0, [&] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      shown = box->text();
      box->accept();
    }
  });
  EXPECT_FALSE(link.Open());
  EXPECT_TRUE(shown.startsWith("Unable to open hyperlink:\n\n")) << shown.toStdString();
  EXPECT_FALSE(link.IsVisited());
  EXPECT_EQ(CHyperLink::ErrorReason(2), "The specified file was not found.");
  EXPECT_EQ(CHyperLink::ErrorReason(99), "Unknown Error (99) occurred.");
}

TEST(ToolTip, PlainTextAndLineBreaksReadWell) {
  struct Case {
    const char* text;
    const char* plain;
  };
  for (const Case& c : {Case{"a < b & c", "a < b & c"}, Case{"line 1\nline 2", "line 1\nline 2"},
                        Case{"<b>P1</b><br>input &bull; high", "P1\ninput \u2022 high"}}) {
    QTextDocument doc;
    doc.setHtml(CPPToolTip::ToQtText(QString::fromUtf8(c.text)));
    EXPECT_EQ(doc.toPlainText().trimmed(), QString::fromUtf8(c.plain)) << c.text;
  }
  EXPECT_LE(CPPToolTip::ToQtText(QString(100000, QLatin1Char('x'))).size(), CPPToolTip::kMaxTextLength + 2000);
}

TEST(AboutDialog, CaptionAndLinks) {
  CAboutDlg about;
  EXPECT_EQ(about.windowTitle(), "About Halvix - Lumeth");
  EXPECT_FALSE(about.WebSiteLink()->GetURL().isEmpty());
  EXPECT_FALSE(about.ForumLink()->GetURL().isEmpty());
  EXPECT_NE(about.findChild<QLabel*>("version"), nullptr);
}

}  // namespace
