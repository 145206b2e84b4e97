#include "platform/gui/printer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QCoreApplication>
#include <QPrinterInfo>
#include <QTemporaryFile>

#include "platform/gui/text.h"
#include "platform/runtime/files.h"

namespace gui {
namespace {

// A PDF file whose writing ran to its end: the header and the end mark.
bool CompletePdf(const std::string& data) {
  if (data.compare(0, 5, "%PDF-") != 0) return false;
  const std::size_t tail = data.size() > 64 ? data.size() - 64 : 0;
  return data.find("%%EOF", tail) != std::string::npos;
}

}  // namespace

TPrinter::TPrinter() : printer_(std::make_unique<QPrinter>(QPrinter::HighResolution)) {
  if (QPrinterInfo::availablePrinterNames().isEmpty()) {
    printer_->setOutputFormat(QPrinter::PdfFormat);
    printer_->setResolution(600);
  }
}

TPrinter::~TPrinter() {
  if (printing_) Abort();
}

void TPrinter::Reset() {
  printing_ = false;
  page_number_ = 0;
  painter_.reset();
  temp_.reset();
  if (!destination_.empty()) SetFileKeepingFormat(destination_);
  destination_.clear();
}

void TPrinter::BeginDoc() {
  if (printing_) throw EPrinter("Printing in progress");
  aborted_ = false;
  printer_->setDocName(QString::fromStdString(Title));
  if (ToPdf()) {
    destination_ = OutputFileName();
    if (destination_.empty()) throw EPrinter("No file chosen for the printed document");
    const QFileInfo target(PathToQString(destination_));
    if (!target.absoluteDir().exists() || target.isDir()) {
      const std::string name = destination_;
      destination_.clear();
      throw EPrinter("Cannot create " + name);
    }
    temp_ = std::make_unique<QTemporaryFile>(QDir::tempPath() + "/quorvane_print_XXXXXX.pdf");
    if (!temp_->open()) {
      temp_.reset();
      destination_.clear();
      throw EPrinter("Cannot create a temporary file for printing");
    }
    temp_->close();
    SetFileKeepingFormat(PathFromQString(temp_->fileName()));
  }
  painter_ = std::make_unique<QPainter>();
  if (!painter_->begin(printer_.get())) {
    const std::string where = destination_.empty() ? PrinterName() : destination_;
    Reset();
    throw EPrinter("Cannot start printing on " + where);
  }
  printing_ = true;
  page_number_ = 1;
}

void TPrinter::NewPage() {
  if (!printing_) throw EPrinter("Printer is not currently printing");
  if (!printer_->newPage()) throw EPrinter("Cannot start a new page");
  ++page_number_;
}

QPainter& TPrinter::Canvas() {
  if (!printing_) throw EPrinter("Printer is not currently printing");
  return *painter_;
}

void TPrinter::EndDoc() {
  if (!printing_) throw EPrinter("Printer is not currently printing");
  const bool ended = painter_->end();
  if (!ToPdf() || !temp_) {
    Reset();
    if (!ended) throw rtl::EWriteError("The print job could not be completed");
    return;
  }
  try {
    FinishPdf();
  } catch (...) {
    Reset();
    throw;
  }
  Reset();
}

void TPrinter::FinishPdf() {
  const std::string temp = PathFromQString(temp_->fileName());
  std::string data;
  try {
    data = rtl::LoadFileToString(temp);
  } catch (const rtl::Exception&) {
    throw rtl::EWriteError("Cannot write " + destination_);
  }
  if (!CompletePdf(data)) throw rtl::EWriteError("Cannot write " + destination_ + ": the document is incomplete");
  rtl::SaveFileSafely(destination_, data);
}

void TPrinter::Abort() {
  if (!printing_) return;
  if (!ToPdf()) printer_->abort();
  painter_->end();
  aborted_ = true;
  Reset();
}

int TPrinter::GetDeviceCaps(int index) const {
  const QRect paper = printer_->paperRect(QPrinter::DevicePixel).toRect();
  const QRect page = printer_->pageRect(QPrinter::DevicePixel).toRect();
  switch (index) {
    case HORZRES: return page.width();
    case VERTRES: return page.height();
    case LOGPIXELSX: return printer_->logicalDpiX();
    case LOGPIXELSY: return printer_->logicalDpiY();
    case PHYSICALWIDTH: return paper.width();
    case PHYSICALHEIGHT: return paper.height();
    case PHYSICALOFFSETX: return page.left() - paper.left();
    case PHYSICALOFFSETY: return page.top() - paper.top();
    default: return 0;
  }
}

void TPrinter::SetResolution(int dpi) {
  if (printing_) throw EPrinter("Printing in progress");
  if (dpi > 0) printer_->setResolution(dpi);
}

std::vector<std::string> TPrinter::Printers() {
  std::vector<std::string> out;
  for (const QString& name : QPrinterInfo::availablePrinterNames()) out.push_back(name.toStdString());
  return out;
}

std::string TPrinter::PrinterName() const {
  return ToPdf() ? std::string() : printer_->printerName().toStdString();
}

void TPrinter::SetPrinterName(const std::string& name) {
  if (printing_) throw EPrinter("Printing in progress");
  if (name.empty()) {
    printer_->setOutputFormat(QPrinter::PdfFormat);
  } else {
    printer_->setOutputFormat(QPrinter::NativeFormat);
    printer_->setPrinterName(QString::fromStdString(name));
  }
}

std::string TPrinter::OutputFileName() const {
  return destination_.empty() ? PathFromQString(printer_->outputFileName()) : destination_;
}

void TPrinter::SetOutputFileName(const std::string& fileName) {
  if (printing_) throw EPrinter("Printing in progress");
  SetFileKeepingFormat(fileName);
}

// QPrinter switches to its native format for a name without ".pdf".
void TPrinter::SetFileKeepingFormat(const std::string& fileName) {
  const QPrinter::OutputFormat format = printer_->outputFormat();
  printer_->setOutputFileName(PathToQString(fileName));
  if (format == QPrinter::PdfFormat) printer_->setOutputFormat(QPrinter::PdfFormat);
}

namespace {
std::unique_ptr<TPrinter> shared_printer;
}

TPrinter& Printer() {
  if (!shared_printer) {
    shared_printer = std::make_unique<TPrinter>();
    // The QPrinter must go before the application object does.
    qAddPostRoutine([] { shared_printer.reset(); });
  }
  return *shared_printer;
}

}  // namespace gui
