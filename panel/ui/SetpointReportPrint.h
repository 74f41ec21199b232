#pragma once
// The commissioning report on paper: the model's report (panel/SetpointReport.h)
// laid out as a document whose settings table is paged with its header
// repeated, printed through a printer or straight into a PDF file.
#include <QString>

#include "panel/SetpointReport.h"

class QPrinter;
class QTextDocument;
class QImage;

namespace tovik {

// The report as a document (the caller owns it).
QTextDocument* MakeReportDocument(const TSetpointReport& report);
// Prints on a printer set up by the caller (the print dialog's, or a PDF file's).
void PrintReport(const TSetpointReport& report, QPrinter& printer);
// A4 PDF; false with the reason when the file cannot be written.
bool SaveReportPdf(const TSetpointReport& report, const QString& path, QString& error);

}  // namespace tovik
