#include "review/review_output.h"

#include "widgets/fonts.h"

#include <QAbstractItemModel>
#include <QChart>
#include <QFontMetricsF>
#include <QGraphicsScene>
#include <QPageLayout>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <algorithm>
#include <cmath>
#include <numeric>

namespace korvela {

namespace {

QByteArray csvField(const QString& text)
{
    QByteArray utf8 = text.toUtf8();
    if (!text.contains(u',') && !text.contains(u'"') && !text.contains(u'\r') && !text.contains(u'\n'))
        return utf8;
    utf8.replace("\"", "\"\"");
    return '"' + utf8 + '"';
}

void csvLine(QByteArray& out, const QStringList& fields)
{
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (i)
            out += ',';
        out += csvField(fields[i]);
    }
    out += "\r\n";
}

Failure notWritten(const QString& path, const QString& reason)
{
    return {FailureCode::ReviewFileNotWritten, QStringLiteral("文件 %1 无法写入（%2）。").arg(path, reason)};
}

} // namespace

QByteArray csvBytes(const QAbstractItemModel& model)
{
    QByteArray out("\xEF\xBB\xBF");
    const int columns = model.columnCount();
    QStringList fields;
    for (int c = 0; c < columns; ++c)
        fields << model.headerData(c, Qt::Horizontal).toString();
    csvLine(out, fields);
    for (int r = 0; r < model.rowCount(); ++r) {
        fields.clear();
        for (int c = 0; c < columns; ++c)
            fields << model.data(model.index(r, c)).toString();
        csvLine(out, fields);
    }
    return out;
}

Status writeFile(const QString& path, const QByteArray& bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return notWritten(path, file.errorString());
    if (file.write(bytes) != bytes.size()) {
        const QString reason = file.errorString();
        file.cancelWriting();
        return notWritten(path, reason);
    }
    if (!file.commit())
        return notWritten(path, file.errorString());
    return {};
}

namespace {

// Lengths on paper, in millimetres.
constexpr double kCellPaddingMm = 1.2;
constexpr double kChartHeightMm = 82;
constexpr double kGapMm = 4;
// Rows whose widths decide the columns' natural widths; the rest wrap where they are wider.
constexpr int kMeasuredRows = 2000;

// Lays the document out and, in its second pass, paints it. Both passes walk the same way, so
// the first one's count of pages is the second one's.
class DocumentPainter
{
public:
    DocumentPainter(QPagedPaintDevice& device, const ReviewDocument& document)
        : m_device(device)
        , m_document(document)
        , m_model(document.table)
        , m_dpi(device.logicalDpiY())
        , m_page(device.pageLayout().paintRectPixels(device.logicalDpiX()).size())
        , m_body(tableFont(false))
        , m_bold(tableFont(true))
        , m_bodyMetrics(m_body, &device)
        , m_boldMetrics(m_bold, &device)
    {
        m_padding = mm(kCellPaddingMm);
        m_lineHeight = m_bodyMetrics.height();
        m_footerHeight = m_lineHeight * 2;
        if (m_model)
            measureColumns();
    }

    // Paints when `painter` is given; gives the count of pages, or nothing when `progress` stopped.
    std::optional<int> run(QPainter* painter, int pages, const PageProgress& progress)
    {
        m_painter = painter;
        m_pages = pages;
        m_pageNumber = 1;
        m_y = 0;
        m_progress = progress;
        m_stopped = false;
        titleBlock();
        if (m_model && m_model->columnCount() > 0) {
            headerRow();
            for (int r = 0; r < m_model->rowCount() && !m_stopped; ++r)
                tableRow(r);
        }
        // Two charts side by side under the table, on the page that has room for them whole.
        const double chartHeight = std::min(mm(kChartHeightMm), bottom() - runningHeadHeight());
        const std::size_t perRow = std::min<std::size_t>(2, m_document.charts.size());
        const double chartWidth =
            perRow ? (m_page.width() - mm(kGapMm) * double(perRow - 1)) / double(perRow) : 0;
        for (std::size_t i = 0; i < m_document.charts.size() && !m_stopped; i += perRow) {
            m_y += mm(kGapMm);
            if (m_y + chartHeight > bottom())
                nextPage();
            for (std::size_t k = 0; k < perRow && i + k < m_document.charts.size() && m_painter; ++k)
                paintChart(m_document.charts[i + k],
                           QRectF(double(k) * (chartWidth + mm(kGapMm)), m_y, chartWidth, chartHeight));
            m_y += chartHeight;
        }
        if (m_stopped)
            return std::nullopt;
        finishPage();
        if (m_stopped)
            return std::nullopt;
        return m_pageNumber;
    }

private:
    QFont tableFont(bool bold) const
    {
        QFont font(songFamily());
        font.setPointSizeF(9);
        font.setBold(bold);
        return font;
    }

    double mm(double millimetres) const { return millimetres * m_dpi / 25.4; }
    double bottom() const { return m_page.height() - m_footerHeight; }
    double runningHeadHeight() const { return m_lineHeight * 2; }

    void titleBlock()
    {
        QFont title(songFamily());
        title.setPointSizeF(15);
        title.setBold(true);
        const QFontMetricsF titleMetrics(title, &m_device);
        if (m_painter) {
            m_painter->setFont(title);
            m_painter->drawText(QRectF(0, m_y, m_page.width(), titleMetrics.height()), Qt::AlignHCenter,
                                m_document.title);
        }
        m_y += titleMetrics.height() + mm(2);
        for (const QString& note : m_document.notes) {
            const QRectF box =
                m_bodyMetrics.boundingRect(QRectF(0, 0, m_page.width(), 1e9), Qt::TextWordWrap, note);
            if (m_painter) {
                m_painter->setFont(m_body);
                m_painter->drawText(QRectF(0, m_y, m_page.width(), box.height()), Qt::TextWordWrap, note);
            }
            m_y += box.height();
        }
        m_y += mm(2);
    }

    void measureColumns()
    {
        const int columns = m_model->columnCount();
        std::vector<double> natural(std::size_t(columns), 0);
        m_alignments.assign(std::size_t(columns), Qt::AlignLeft | Qt::AlignVCenter);
        for (int c = 0; c < columns; ++c) {
            // A header may take two lines, so its column needs half its width.
            natural[std::size_t(c)] =
                m_boldMetrics.horizontalAdvance(m_model->headerData(c, Qt::Horizontal).toString()) / 2;
            if (m_model->rowCount() > 0) {
                const QVariant align = m_model->data(m_model->index(0, c), Qt::TextAlignmentRole);
                if (align.isValid())
                    m_alignments[std::size_t(c)] = Qt::Alignment(align.toInt());
            }
        }
        const int measured = std::min(m_model->rowCount(), kMeasuredRows);
        for (int r = 0; r < measured; ++r)
            for (int c = 0; c < columns; ++c)
                natural[std::size_t(c)] =
                    std::max(natural[std::size_t(c)],
                             m_bodyMetrics.horizontalAdvance(m_model->data(m_model->index(r, c)).toString()));
        for (double& w : natural)
            w += 2 * m_padding + 1;

        // Columns narrower than an equal share keep their width; the others share what is left in
        // proportion to their widths.
        const double available = m_page.width();
        m_widths = natural;
        const double total = std::accumulate(natural.begin(), natural.end(), 0.0);
        if (total <= available) {
            for (double& w : m_widths)
                w *= available / total;
        } else {
            std::vector<bool> fixed(natural.size(), false);
            double left = available;
            std::size_t open = natural.size();
            bool changed = true;
            while (changed && open > 0) {
                changed = false;
                const double share = left / double(open);
                for (std::size_t c = 0; c < natural.size(); ++c)
                    if (!fixed[c] && natural[c] <= share) {
                        fixed[c] = true;
                        left -= natural[c];
                        --open;
                        changed = true;
                    }
            }
            double wide = 0;
            for (std::size_t c = 0; c < natural.size(); ++c)
                if (!fixed[c])
                    wide += natural[c];
            for (std::size_t c = 0; c < natural.size(); ++c)
                if (!fixed[c])
                    m_widths[c] = left * natural[c] / wide;
        }
    }

    double cellHeight(const QFontMetricsF& metrics, const QString& text, double width) const
    {
        const double inner = width - 2 * m_padding;
        // Most cells are one short line; only those that may not fit are measured wrapped.
        if (!text.contains(u'\n') &&
            (text.size() * metrics.maxWidth() <= inner || metrics.horizontalAdvance(text) <= inner))
            return m_lineHeight;
        return metrics.boundingRect(QRectF(0, 0, inner, 1e9), Qt::TextWordWrap, text).height();
    }

    // A header row is shaded and centred; every other body row is lightly shaded (`striped`).
    void paintRow(const QStringList& cells, const QFont& font, double height, bool shaded,
                  bool striped = false)
    {
        if (!m_painter)
            return;
        m_painter->setFont(font);
        double x = 0;
        const QPen grid(QColor(120, 120, 120), 0);
        for (std::size_t c = 0; c < m_widths.size(); ++c) {
            const QRectF cell(x, m_y, m_widths[c], height);
            if (shaded || striped)
                m_painter->fillRect(cell, shaded ? QColor(225, 230, 236) : QColor(246, 247, 249));
            m_painter->setPen(grid);
            m_painter->drawRect(cell);
            m_painter->setPen(Qt::black);
            const Qt::Alignment align = shaded ? Qt::AlignCenter : m_alignments[c];
            m_painter->save();
            m_painter->setClipRect(cell);
            m_painter->drawText(cell.adjusted(m_padding, m_padding / 2, -m_padding, -m_padding / 2),
                                int(align) | Qt::TextWordWrap, cells[qsizetype(c)]);
            m_painter->restore();
            x += m_widths[c];
        }
    }

    QStringList headerCells() const
    {
        QStringList cells;
        for (int c = 0; c < m_model->columnCount(); ++c)
            cells << m_model->headerData(c, Qt::Horizontal).toString();
        return cells;
    }

    void headerRow()
    {
        const QStringList cells = headerCells();
        double height = m_lineHeight;
        for (std::size_t c = 0; c < m_widths.size(); ++c)
            height = std::max(height, cellHeight(m_boldMetrics, cells[qsizetype(c)], m_widths[c]));
        height += m_padding;
        if (m_y + height * 2 > bottom())
            nextPage();
        paintRow(cells, m_bold, height, true);
        m_y += height;
    }

    void tableRow(int row)
    {
        QStringList cells;
        double height = m_lineHeight;
        for (std::size_t c = 0; c < m_widths.size(); ++c) {
            cells << m_model->data(m_model->index(row, int(c))).toString();
            height = std::max(height, cellHeight(m_bodyMetrics, cells.back(), m_widths[c]));
        }
        height = std::min(height + m_padding, bottom() - runningHeadHeight() - m_lineHeight * 3);
        if (m_y + height > bottom()) {
            nextPage();
            if (m_stopped)
                return;
            headerRow();
        }
        const bool bold = m_model->data(m_model->index(row, 0), Qt::FontRole).value<QFont>().bold();
        paintRow(cells, bold ? m_bold : m_body, height, false, row % 2 == 1);
        m_y += height;
    }

    void paintChart(const ChartMaker& make, const QRectF& target)
    {
        std::unique_ptr<QChart> chart = make();
        if (!chart)
            return;
        // A chart is laid out at a screen's size and scaled onto the page, so its texts keep their
        // proportions to the bars and lines.
        const QSizeF size(640, 640 * target.height() / target.width());
        QGraphicsScene scene;
        scene.addItem(chart.get());
        chart->setGeometry(QRectF(QPointF(0, 0), size));
        scene.setSceneRect(QRectF(QPointF(0, 0), size));
        scene.render(m_painter, target, scene.sceneRect(), Qt::KeepAspectRatio);
        scene.removeItem(chart.get());
    }

    void finishPage()
    {
        if (m_painter) {
            m_painter->setFont(m_body);
            m_painter->setPen(Qt::black);
            m_painter->drawText(QRectF(0, m_page.height() - m_lineHeight, m_page.width(), m_lineHeight),
                                Qt::AlignHCenter,
                                QStringLiteral("第 %1 页，共 %2 页").arg(m_pageNumber).arg(m_pages));
        }
        if (m_progress && !m_progress(m_pageNumber, m_pages))
            m_stopped = true;
    }

    void nextPage()
    {
        finishPage();
        if (m_stopped)
            return;
        ++m_pageNumber;
        if (m_painter)
            m_device.newPage();
        m_y = 0;
        if (m_painter) {
            m_painter->setFont(m_body);
            m_painter->drawText(QRectF(0, 0, m_page.width(), m_lineHeight), Qt::AlignLeft,
                                m_document.title + QStringLiteral("（续）"));
        }
        m_y = runningHeadHeight();
    }

    QPagedPaintDevice& m_device;
    const ReviewDocument& m_document;
    const QAbstractItemModel* m_model;
    int m_dpi;
    QSizeF m_page;
    QFont m_body;
    QFont m_bold;
    QFontMetricsF m_bodyMetrics;
    QFontMetricsF m_boldMetrics;
    double m_padding = 0;
    double m_lineHeight = 0;
    double m_footerHeight = 0;
    std::vector<double> m_widths;
    std::vector<Qt::Alignment> m_alignments;

    QPainter* m_painter = nullptr;
    int m_pages = 0;
    int m_pageNumber = 1;
    double m_y = 0;
    PageProgress m_progress;
    bool m_stopped = false;
};

Failure cancelled()
{
    return {FailureCode::ReviewCancelled, QStringLiteral("已取消。")};
}

} // namespace

Status paintDocument(QPagedPaintDevice& device, const ReviewDocument& document, const PageProgress& progress)
{
    DocumentPainter layout(device, document);
    // The first pass counts the pages and reports no progress: it paints nothing.
    const std::optional<int> pages = layout.run(nullptr, 0, {});
    QPainter painter;
    if (!painter.begin(&device))
        return Failure{FailureCode::ReviewFileNotWritten, QStringLiteral("无法开始输出（打印机或文件不可用）。")};
    const std::optional<int> painted = layout.run(&painter, *pages, progress);
    painter.end();
    if (!painted)
        return cancelled();
    return {};
}

Status writePdf(const QString& path, const ReviewDocument& document, const PageProgress& progress)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return notWritten(path, file.errorString());
    {
        QPdfWriter pdf(&file);
        pdf.setTitle(document.title);
        pdf.setCreator(QStringLiteral("Korvela 随访与统计"));
        pdf.setResolution(300);
        pdf.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Landscape,
                                      QMarginsF(12, 12, 12, 12), QPageLayout::Millimeter));
        if (Status painted = paintDocument(pdf, document, progress); !painted) {
            file.cancelWriting();
            return painted;
        }
    }
    if (!file.commit())
        return notWritten(path, file.errorString());
    return {};
}

} // namespace korvela
