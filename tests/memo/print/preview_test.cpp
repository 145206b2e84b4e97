// The print preview form, offscreen: its page picture against poppler's
// rendering of the printed PDF at the same resolution, the page label and
// buttons, the zoom list, margin dragging, and its print and printer-setup
// buttons through a dialog runner that opens no modal dialog.
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QTest>
#include <QToolButton>
#include <fstream>

#include "memo/print/print_preview.h"
#include "print_test_util.h"

using namespace memo;
using namespace print_test;

namespace {

// A grey image; ink where a pixel is darker than mid-grey.
struct Gray {
  int width = 0, height = 0;
  std::vector<unsigned char> pixels;
  bool Ink(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x] < 128; }
};

Gray FromQImage(const QImage& image) {
  QImage g = image.convertToFormat(QImage::Format_Grayscale8);
  Gray out{g.width(), g.height(), {}};
  out.pixels.resize(static_cast<std::size_t>(g.width()) * g.height());
  for (int y = 0; y < g.height(); ++y)
    std::memcpy(out.pixels.data() + static_cast<std::size_t>(y) * g.width(), g.constScanLine(y), g.width());
  return out;
}

// Page 1 of a PDF rendered by pdftoppm in grey at dpi.
Gray RenderPdf(const std::string& pdf, int dpi, const std::string& prefix) {
  Shell("pdftoppm -r " + std::to_string(dpi) + " -gray -f 1 -l 1 " + Quoted(pdf) + " " + Quoted(prefix));
  std::ifstream in(prefix + "-1.pgm", std::ios::binary);
  std::string magic;
  int w = 0, h = 0, maxval = 0;
  in >> magic >> w >> h >> maxval;
  in.get();
  Gray out{w, h, std::vector<unsigned char>(static_cast<std::size_t>(w) * h)};
  in.read(reinterpret_cast<char*>(out.pixels.data()), static_cast<std::streamsize>(out.pixels.size()));
  if (magic != "P5" || !in) out = Gray();
  return out;
}

// A band of rows with ink (one line of text) and its ink columns.
struct Band {
  int top = 0, bottom = 0, left = 0, right = 0;
  std::vector<bool> columns;
};

std::vector<Band> Bands(const Gray& g, int width, int height) {
  std::vector<Band> bands;
  bool open = false;
  for (int y = 0; y < height; ++y) {
    std::vector<bool> cols(width, false);
    bool any = false;
    for (int x = 0; x < width; ++x)
      if (g.Ink(x, y)) cols[x] = any = true;
    if (any && !open) {
      bands.push_back({y, y, width, -1, std::vector<bool>(width, false)});
      open = true;
    }
    if (!any) open = false;
    if (!any) continue;
    Band& b = bands.back();
    b.bottom = y;
    for (int x = 0; x < width; ++x)
      if (cols[x]) {
        b.columns[x] = true;
        b.left = std::min(b.left, x);
        b.right = std::max(b.right, x);
      }
  }
  return bands;
}

// Share of the ink columns of a that have ink within one pixel in b.
double ColumnMatch(const Band& a, const Band& b) {
  int total = 0, matched = 0;
  for (std::size_t x = 0; x < a.columns.size(); ++x) {
    if (!a.columns[x]) continue;
    ++total;
    for (int d = -1; d <= 1; ++d) {
      const long at = static_cast<long>(x) + d;
      if (at >= 0 && at < static_cast<long>(b.columns.size()) && b.columns[at]) {
        ++matched;
        break;
      }
    }
  }
  return total ? static_cast<double>(matched) / total : 1.0;
}

class Runner : public gui::TDialogRunner {
public:
  std::function<bool(gui::TPrinter&, gui::TPrintDialog&)> printDialog;
  std::function<int(QDialog&)> modal;
  std::vector<std::string> messages;
  int printDialogs = 0;

  bool RunPrintDialog(gui::TPrinter& printer, gui::TPrintDialog& dialog) override {
    ++printDialogs;
    return printDialog ? printDialog(printer, dialog) : false;
  }
  bool RunPrinterSetupDialog(gui::TPrinter&, gui::TPrinterSetupDialog&) override { return false; }
  int ShowModal(QDialog& form) override { return modal ? modal(form) : gui::mrCancel; }
  void ShowMessage(QWidget*, const std::string& text) override { messages.push_back(text); }
};

class PreviewTest : public PrintTest {
protected:
  void SetUp() override {
    PrintTest::SetUp();
    form = std::make_unique<TFrmVMPrintPreview>();
    form->SetPrinter(&printer);
    form->resize(900, 1200);
  }
  void Show() {
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
  }
  QImage Picture() { return form->PBPreview()->grab().toImage(); }

  Runner runner;
  gui::TDialogRunnerScope scope{runner};
  std::unique_ptr<TFrmVMPrintPreview> form;
};

}  // namespace

TEST_F(PreviewTest, PageRendersLikeThePrintedPdfAtTheSameResolution) {
  std::string text;
  for (int i = 1; i <= 30; ++i)
    text += "Line " + std::to_string(i) + std::string(i % 7, ' ') + "\tbaptised \x02" + "Smith\x02 of Leek" + std::string(i % 4, 'x') + "\r\n";
  text += "A final line that is long enough to be wrapped on the page, because it goes on and on and on "
          "and on with more words than the width of the paper can hold in one line of type.";
  memo.SetText(text);
  printer.setLeftMargin(1);
  printer.Header = "Preview {p}";
  printer.Footer = "Footer {p}";
  printer.FooterAlign = taCenter;
  const std::string pdf = PrintTo("preview.pdf");
  Show();
  ASSERT_EQ(form->cbZoom->currentText(), "100%");
  const double zoom = form->Placement().zoom;
  ASSERT_DOUBLE_EQ(zoom, 96.0 / 300);
  const Gray shown = FromQImage(Picture());
  const Gray printed = RenderPdf(pdf, 96, Pdf("preview"));
  ASSERT_GT(printed.width, 0);
  const int w = std::min(shown.width, printed.width), h = std::min(shown.height, printed.height);
  ASSERT_GT(w, 700);
  const std::vector<Band> a = Bands(shown, w, h), b = Bands(printed, w, h);
  ASSERT_GE(a.size(), 33u);
  ASSERT_EQ(a.size(), b.size());
  for (std::size_t i = 0; i < a.size(); ++i) {
    EXPECT_NEAR(a[i].top, b[i].top, 2) << "band " << i;
    EXPECT_NEAR(a[i].bottom, b[i].bottom, 2) << "band " << i;
    EXPECT_NEAR(a[i].left, b[i].left, 2) << "band " << i;
    EXPECT_NEAR(a[i].right, b[i].right, 2) << "band " << i;
    EXPECT_GT(ColumnMatch(a[i], b[i]), 0.9) << "band " << i;
    EXPECT_GT(ColumnMatch(b[i], a[i]), 0.9) << "band " << i;
  }
}

TEST_F(PreviewTest, PageLabelAndButtons) {
  memo.SetText(NumberedLines(3));
  Show();
  EXPECT_EQ(form->LblPage->text(), "Page 1/1");
  EXPECT_FALSE(form->BtnNextPage->isEnabled());
  EXPECT_FALSE(form->BtnPrevious->isEnabled());

  form->hide();
  memo.SetText(NumberedLines(150));
  printer.setVellMemo(&memo);
  Show();
  const int pages = printer.PageCount();
  ASSERT_GE(pages, 3);
  EXPECT_EQ(form->LblPage->text(), QString("Page 1/%1").arg(pages));
  EXPECT_TRUE(form->BtnNextPage->isEnabled());
  QTest::mouseClick(form->BtnNextPage, Qt::LeftButton);
  EXPECT_EQ(form->CurrentPage(), 1);
  EXPECT_EQ(form->LblPage->text(), QString("Page 2/%1").arg(pages));
  EXPECT_TRUE(form->BtnPrevious->isEnabled());
  form->setCurrentPage(99);
  EXPECT_EQ(form->CurrentPage(), pages - 1);
  EXPECT_FALSE(form->BtnNextPage->isEnabled());
  form->BtnPreviousClick();
  EXPECT_EQ(form->CurrentPage(), pages - 2);
}

TEST_F(PreviewTest, ZoomListPlacesThePage) {
  memo.SetText(NumberedLines(3));
  Show();
  ASSERT_EQ(form->cbZoom->count(), 8);
  form->cbZoom->setCurrentIndex(pzPageWidth);
  const QSize client = form->sbPreview->viewport()->size();
  EXPECT_EQ(form->Placement().width, client.width() - 20);
  EXPECT_EQ(form->PBPreview()->geometry(), QRect(10, 10, form->Placement().width, form->Placement().height));
  form->cbZoom->setCurrentIndex(pz50);
  EXPECT_DOUBLE_EQ(form->Placement().zoom, 96.0 / 300 * 0.5);
}

TEST_F(PreviewTest, DraggingMarginsSetsThePrintersMargins) {
  memo.SetText(NumberedLines(3));
  Show();
  const TPreviewPlacement page = form->Placement();
  ASSERT_EQ(page.marginLeftX, 72);  // 0.75 inch at 96 pixels per inch
  // Outside margin mode nothing drags.
  form->PBPreviewMouseDown(page.marginLeftX, 100);
  EXPECT_EQ(form->Dragging(), pmNone);
  form->BtnMargins->click();
  ASSERT_TRUE(form->BtnMargins->isChecked());
  // One pixel beside the line starts no drag.
  form->PBPreviewMouseDown(page.marginLeftX + 1, 100);
  EXPECT_EQ(form->Dragging(), pmNone);
  form->PBPreviewMouseMove(page.marginLeftX, 100);
  EXPECT_EQ(form->PBPreview()->cursor().shape(), Qt::SizeHorCursor);
  form->PBPreviewMouseMove(300, page.marginTopY);
  EXPECT_EQ(form->PBPreview()->cursor().shape(), Qt::SizeVerCursor);

  QTest::mousePress(form->PBPreview(), Qt::LeftButton, {}, QPoint(page.marginLeftX, 100));
  EXPECT_EQ(form->Dragging(), pmLeft);
  QTest::mouseMove(form->PBPreview(), QPoint(page.marginLeftX + 48, 100));
  QTest::mouseRelease(form->PBPreview(), Qt::LeftButton, {}, QPoint(page.marginLeftX + 48, 100));
  EXPECT_EQ(form->Dragging(), pmNone);
  EXPECT_DOUBLE_EQ(printer.MarginLeft(), 1.25);
  EXPECT_EQ(form->Placement().marginLeftX, 120);

  // Past the right margin: 3 pixels before it while dragging, 10 on release.
  const int right = form->Placement().marginRightX;
  form->PBPreviewMouseDown(120, 100);
  form->PBPreviewMouseMove(right + 100, 100);
  form->PBPreviewMouseUp(right + 100, 100);
  EXPECT_DOUBLE_EQ(printer.MarginLeft(), (right - 10) / 96.0);

  // The bottom margin.
  const int bottom = form->Placement().marginBottomY;
  form->PBPreviewMouseDown(300, bottom);
  form->PBPreviewMouseUp(300, bottom - 96);
  EXPECT_NEAR(printer.MarginBottom(), 1.75, 1e-9);
}

TEST_F(PreviewTest, PreviewShowsTheFormThroughTheRunner) {
  memo.SetText(NumberedLines(3));
  printer.PreviewTitle = "Parish of Leek";
  TFrmVMPrintPreview* seen = nullptr;
  printer.OnPreview = [&](TFrmVMPrintPreview* f) {
    seen = f;
    EXPECT_EQ(f->windowTitle(), "Parish of Leek");
    EXPECT_EQ(f->Printer(), &printer);
  };
  int shown = 0;
  runner.modal = [&](QDialog& f) {
    EXPECT_EQ(&f, seen);
    ++shown;
    return gui::mrCancel;
  };
  printer.Preview();
  EXPECT_NE(seen, nullptr);
  EXPECT_EQ(shown, 1);
}

TEST_F(PreviewTest, PrintButtonPrintsAndClosesOrReportsTheError) {
  memo.SetText(NumberedLines(3));
  Show();
  gui::Printer().SetOutputFileName(Pdf("missing/folder/x.pdf"));
  form->BtnPrint->click();
  ASSERT_EQ(runner.messages.size(), 1u);
  EXPECT_NE(runner.messages[0].find("missing/folder/x.pdf"), std::string::npos);
  EXPECT_TRUE(form->isVisible());
  const std::string pdf = Pdf("button.pdf");
  gui::Printer().SetOutputFileName(pdf);
  form->BtnPrint->click();
  EXPECT_EQ(form->result(), gui::mrYes);
  EXPECT_EQ(PdfPages(pdf), 1);
}

TEST_F(PreviewTest, PrinterSetupWithAnotherResolutionRebuildsTheLayout) {
  memo.SetText(NumberedLines(150));
  Show();
  const int pages = printer.PageCount();
  const std::string pdf = Pdf("setup.pdf");
  runner.printDialog = [&](gui::TPrinter& device, gui::TPrintDialog& dialog) {
    EXPECT_TRUE(dialog.Options.pageNums);
    EXPECT_TRUE(dialog.Options.selection);
    EXPECT_EQ(dialog.MinPage, 1);
    EXPECT_EQ(dialog.MaxPage, pages);
    device.SetResolution(150);  // another printer
    device.SetOutputFileName(pdf);
    dialog.PrintRange = gui::prPageNums;
    dialog.FromPage = dialog.ToPage = 2;
    return true;
  };
  form->BtnPrinterSetup->click();
  EXPECT_EQ(runner.printDialogs, 1);
  EXPECT_EQ(printer.Metrics().logPixelsY, 150);
  EXPECT_DOUBLE_EQ(form->Placement().zoom, 96.0 / 150);
  auto text = PdfPageLines(pdf);
  ASSERT_EQ(text.size(), 1u);
  EXPECT_EQ(text[0].front(), "Line " + std::string(3 - std::to_string(printer.LinesPerPage() + 1).size(), '0') +
                                 std::to_string(printer.LinesPerPage() + 1));
  // Cancelled: nothing printed, the dialog is reused.
  runner.printDialog = [&](gui::TPrinter&, gui::TPrintDialog&) { return false; };
  form->BtnPrinterSetup->click();
  EXPECT_EQ(runner.printDialogs, 2);
  gui::Printer().SetResolution(300);
}
