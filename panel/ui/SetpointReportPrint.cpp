#include "panel/ui/SetpointReportPrint.h"

#include <QFileInfo>
#include <QPageLayout>
#include <QPageSize>
#include <QPrinter>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextTable>
#include <QTextTableFormat>

#include "base/Files.h"

namespace tovik {

namespace {

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

QTextDocument* MakeReportDocument(const TSetpointReport& report) {
    auto* doc = new QTextDocument;
    QFont font = doc->defaultFont();
    font.setPointSize(10);
    doc->setDefaultFont(font);
    QTextCursor cursor(doc);

    QTextCharFormat title;
    title.setFontPointSize(16);
    title.setFontWeight(QFont::Bold);
    QTextBlockFormat centered;
    centered.setAlignment(Qt::AlignHCenter);
    centered.setBottomMargin(12);
    cursor.setBlockFormat(centered);
    cursor.insertText(Q(report.Title), title);

    // What the relay is: label and value, two columns without lines.
    QTextTableFormat fieldsFormat;
    fieldsFormat.setBorder(0);
    fieldsFormat.setCellPadding(2);
    fieldsFormat.setBottomMargin(12);
    QTextTable* fields = cursor.insertTable(static_cast<int>(report.Fields.size()), 2, fieldsFormat);
    QTextCharFormat bold;
    bold.setFontWeight(QFont::Bold);
    for (size_t r = 0; r < report.Fields.size(); ++r) {
        const int row = static_cast<int>(r);
        fields->cellAt(row, 0).firstCursorPosition().insertText(Q(report.Fields[r].first) + ":", bold);
        QTextCursor value = fields->cellAt(row, 1).firstCursorPosition();
        const QStringList lines = Q(report.Fields[r].second).split('\n');
        for (int i = 0; i < lines.size(); ++i) {
            if (i) value.insertBlock();
            value.insertText(lines[i]);
        }
    }
    cursor.movePosition(QTextCursor::End);

    // The settings: header row repeated on every page.
    if (!report.Table.empty()) {
        QTextTableFormat tableFormat;
        tableFormat.setBorder(0.5);
        tableFormat.setBorderStyle(QTextFrameFormat::BorderStyle_Solid);
        tableFormat.setBorderCollapse(true);
        tableFormat.setCellPadding(3);
        tableFormat.setHeaderRowCount(1);
        tableFormat.setWidth(QTextLength(QTextLength::PercentageLength, 100));
        tableFormat.setColumnWidthConstraints(
            {QTextLength(QTextLength::PercentageLength, 5), QTextLength(QTextLength::PercentageLength, 49),
             QTextLength(QTextLength::PercentageLength, 13), QTextLength(QTextLength::PercentageLength, 13),
             QTextLength(QTextLength::PercentageLength, 20)});
        const int columns = static_cast<int>(report.Table[0].size());
        QTextTable* table = cursor.insertTable(static_cast<int>(report.Table.size()), columns, tableFormat);
        for (size_t r = 0; r < report.Table.size(); ++r)
            for (int c = 0; c < columns && static_cast<size_t>(c) < report.Table[r].size(); ++c) {
                QTextTableCell cell = table->cellAt(static_cast<int>(r), c);
                if (r == 0) {
                    QTextCharFormat header = cell.format();
                    header.setBackground(QColor(230, 230, 230));
                    cell.setFormat(header);
                }
                cell.firstCursorPosition().insertText(Q(report.Table[r][static_cast<size_t>(c)]),
                                                      r == 0 ? bold : QTextCharFormat());
            }
    }
    return doc;
}

void PrintReport(const TSetpointReport& report, QPrinter& printer) {
    std::unique_ptr<QTextDocument> doc(MakeReportDocument(report));
    // Pages of the printer's paper; QTextDocument numbers them at the foot.
    doc->print(&printer);
}

bool SaveReportPdf(const TSetpointReport& report, const QString& path, QString& error) {
    // The printer writes the new file ReplaceFile gives it; QPrinter does not
    // say when it cannot write, so what it left is looked at.
    std::string reason;
    const bool saved = ReplaceFile(
        path.toStdString(),
        [&report](const std::string& newFile, std::string& why) {
            QPrinter printer(QPrinter::HighResolution);
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(QString::fromStdString(newFile));
            printer.setPageSize(QPageSize(QPageSize::A4));
            printer.setPageMargins(QMarginsF(15, 15, 15, 15), QPageLayout::Millimeter);
            printer.setDocName(Q(report.Title));
            PrintReport(report, printer);
            if (QFileInfo(QString::fromStdString(newFile)).size() > 0) return true;
            why = "файл не записан";
            return false;
        },
        reason);
    if (saved) return true;
    error = path + ": " + Q(reason);
    return false;
}

}  // namespace tovik
