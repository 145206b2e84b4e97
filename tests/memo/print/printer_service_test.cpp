// The shared printer of the GUI layer: the job's states and their errors,
// device capabilities, and PDF output that never leaves a truncated file.
#include <fstream>

#include "print_test_util.h"
#include "support/raised.h"

using namespace print_test;

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

TEST_F(PrintTest, JobStatesAndTheirErrors) {
  gui::TPrinter& device = gui::Printer();
  EXPECT_FALSE(device.Printing());
  EXPECT_THROW(device.NewPage(), gui::EPrinter);
  EXPECT_THROW(device.EndDoc(), gui::EPrinter);
  EXPECT_THROW(device.Canvas(), gui::EPrinter);
  EXPECT_NO_THROW(device.Abort());

  const std::string pdf = Pdf("job.pdf");
  device.SetOutputFileName(pdf);
  device.Title = "Register";
  device.BeginDoc();
  EXPECT_TRUE(device.Printing());
  EXPECT_EQ(device.PageNumber(), 1);
  EXPECT_THROW(device.BeginDoc(), gui::EPrinter);
  EXPECT_THROW(device.SetResolution(150), gui::EPrinter);
  EXPECT_THROW(device.SetOutputFileName(Pdf("other.pdf")), gui::EPrinter);
  EXPECT_EQ(device.OutputFileName(), pdf);
  device.Canvas().drawText(100, 100, "first");
  device.NewPage();
  EXPECT_EQ(device.PageNumber(), 2);
  device.Canvas().drawText(100, 100, "second");
  device.EndDoc();
  EXPECT_FALSE(device.Printing());
  EXPECT_EQ(PdfPages(pdf), 2);
  EXPECT_NE(Shell("pdfinfo " + Quoted(pdf)).find("Register"), std::string::npos);
  auto pages = PdfPageLines(pdf);
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_EQ(pages[1], std::vector<std::string>{"second"});
  EXPECT_EQ(device.OutputFileName(), pdf);
}

TEST_F(PrintTest, AbortThrowsTheOutputAwayAndKeepsAnOlderFile) {
  gui::TPrinter& device = gui::Printer();
  const std::string pdf = Pdf("aborted.pdf");
  device.SetOutputFileName(pdf);
  device.BeginDoc();
  device.Canvas().drawText(100, 100, "never");
  device.Abort();
  EXPECT_TRUE(device.Aborted());
  EXPECT_FALSE(device.Printing());
  EXPECT_FALSE(std::ifstream(pdf).good());
  {
    std::ofstream old(pdf);
    old << "older document";
  }
  device.BeginDoc();
  device.Abort();
  EXPECT_EQ(ReadAll(pdf), "older document");
  device.BeginDoc();
  EXPECT_FALSE(device.Aborted());
  device.EndDoc();
  EXPECT_EQ(PdfPages(pdf), 1);
}

TEST_F(PrintTest, NoFileOrABadOneIsRefused) {
  gui::TPrinter& device = gui::Printer();
  EXPECT_TRUE(device.ToPdf());
  EXPECT_EQ(device.PrinterName(), "");
  device.SetOutputFileName("");
  EXPECT_TRUE(device.ToPdf());
  EXPECT_EQ(qvtest::WhatRaised<gui::EPrinter>([&] { device.BeginDoc(); }), "No file chosen for the printed document");
  device.SetOutputFileName(dir.path().toStdString());  // a folder
  EXPECT_THROW(device.BeginDoc(), gui::EPrinter);
  EXPECT_FALSE(device.Printing());
}

TEST_F(PrintTest, DeviceCapabilitiesFollowTheResolution) {
  gui::TPrinter& device = gui::Printer();
  for (int dpi : {150, 300, 600}) {
    device.SetResolution(dpi);
    EXPECT_EQ(device.GetDeviceCaps(gui::LOGPIXELSX), dpi);
    EXPECT_EQ(device.GetDeviceCaps(gui::LOGPIXELSY), dpi);
    // A4 as PDF readers report it: 595 x 842 points.
    EXPECT_NEAR(device.GetDeviceCaps(gui::PHYSICALWIDTH), 595.0 / 72 * dpi, 1);
    EXPECT_NEAR(device.GetDeviceCaps(gui::PHYSICALHEIGHT), 842.0 / 72 * dpi, 1);
    const int offsetX = device.GetDeviceCaps(gui::PHYSICALOFFSETX);
    EXPECT_GE(offsetX, 0);
    EXPECT_LE(device.GetDeviceCaps(gui::HORZRES) + 2 * offsetX, device.GetDeviceCaps(gui::PHYSICALWIDTH) + 1);
    EXPECT_LE(device.GetDeviceCaps(gui::VERTRES), device.GetDeviceCaps(gui::PHYSICALHEIGHT));
  }
  EXPECT_EQ(device.GetDeviceCaps(12345), 0);
  device.SetResolution(0);  // ignored
  EXPECT_EQ(device.GetDeviceCaps(gui::LOGPIXELSX), 600);
  device.SetResolution(300);
}
