// The class library's Printer over one shared QPrinter: a print job
// (BeginDoc, NewPage, EndDoc, Abort) with a painter as its canvas, and the
// device capabilities the printing code asks for (paper size, printable
// area and its offset, pixels per inch).
//
// With no printer installed the QPrinter writes a PDF file (Qt's own PDF
// printer); the file is chosen in the print dialog or set here. A PDF is
// written to a temporary file beside the destination and moved over it
// only when the job ended and the file is complete, so a failed or
// aborted job never leaves a truncated file or destroys an older one.
#pragma once

#include <QPainter>
#include <QPrinter>
#include <memory>
#include <string>
#include <vector>

#include "platform/runtime/exceptions.h"

class QTemporaryFile;

namespace gui {

// A print job that cannot start, or a call in the wrong state.
class EPrinter : public rtl::Exception {
public:
  using rtl::Exception::Exception;
};

// GetDeviceCaps indexes.
inline constexpr int HORZRES = 8;
inline constexpr int VERTRES = 10;
inline constexpr int LOGPIXELSX = 88;
inline constexpr int LOGPIXELSY = 90;
inline constexpr int PHYSICALWIDTH = 110;
inline constexpr int PHYSICALHEIGHT = 111;
inline constexpr int PHYSICALOFFSETX = 112;
inline constexpr int PHYSICALOFFSETY = 113;

class TPrinter {
public:
  TPrinter();
  ~TPrinter();
  TPrinter(const TPrinter&) = delete;
  TPrinter& operator=(const TPrinter&) = delete;

  QPrinter& QtPrinter() { return *printer_; }

  // ---- the job ----
  // Raises EPrinter when a job is running or the device or file cannot be
  // opened.
  void BeginDoc();
  // Raises EPrinter outside a job.
  void NewPage();
  // Ends the job; for a PDF, moves the finished file into place. Raises
  // rtl::EWriteError when the file could not be written completely (the
  // destination is then left as it was).
  void EndDoc();
  // Ends the job and throws its output away.
  void Abort();
  bool Printing() const { return printing_; }
  bool Aborted() const { return aborted_; }
  // 1 on the first page of a job.
  int PageNumber() const { return page_number_; }
  // The job's painter; raises EPrinter outside a job.
  QPainter& Canvas();
  // The document's name in the print queue.
  std::string Title;

  // ---- device ----
  int GetDeviceCaps(int index) const;
  // Pixels per inch of both axes.
  void SetResolution(int dpi);

  // Installed printers; an empty list means PDF output.
  static std::vector<std::string> Printers();
  std::string PrinterName() const;
  // "" selects PDF output.
  void SetPrinterName(const std::string& name);
  bool ToPdf() const { return printer_->outputFormat() == QPrinter::PdfFormat; }
  std::string OutputFileName() const;
  void SetOutputFileName(const std::string& fileName);

private:
  void FinishPdf();
  void Reset();
  void SetFileKeepingFormat(const std::string& fileName);

  std::unique_ptr<QPrinter> printer_;
  std::unique_ptr<QPainter> painter_;
  std::unique_ptr<QTemporaryFile> temp_;
  std::string destination_;
  bool printing_ = false;
  bool aborted_ = false;
  int page_number_ = 0;
};

// The one printer of the program, made on first use.
TPrinter& Printer();

}  // namespace gui
