#pragma once

#include "core/failure_codes.h"

#include "core/status.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

class QAbstractItemModel;
class QPagedPaintDevice;

class QChart;

namespace korvela {

// The table of a model as a CSV file: UTF-8 with a byte-order mark (so spreadsheet programs read
// the Chinese right), the horizontal headers first, lines ended by CR LF, a field in double
// quotes only when it holds a comma, a quote, CR or LF, a quote inside doubled (RFC 4180).
QByteArray csvBytes(const QAbstractItemModel& model);

// Writes the bytes to `path` whole or not at all: a file already there stays as it was when the
// writing fails.
Status writeFile(const QString& path, const QByteArray& bytes);

using ChartMaker = std::function<std::unique_ptr<QChart>()>;

// What goes on paper or into a PDF: a title, lines under it, a table, charts below it.
struct ReviewDocument
{
    QString title;
    QStringList notes;
    const QAbstractItemModel* table = nullptr;
    std::vector<ChartMaker> charts;
};

// Called after each page with its number and the count of pages; false stops the output.
using PageProgress = std::function<bool(int page, int pages)>;

// Lays the document out on the device's pages (A4 as the device is set) and paints it: the table's
// header again on every page it runs onto, long texts wrapped in their cells, a chart on the page
// that has room for it whole, and "第 n 页，共 m 页" at the foot of every page. Texts are in the
// Song face, which a PDF embeds.
Status paintDocument(QPagedPaintDevice& device, const ReviewDocument& document,
                     const PageProgress& progress = {});

// The same into a PDF file, A4 landscape, written whole or not at all.
Status writePdf(const QString& path, const ReviewDocument& document, const PageProgress& progress = {});

} // namespace korvela
