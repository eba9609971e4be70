#include "reportdocument.h"

#include "trend/plotlibrary.h"

#include <QFileInfo>
#include <QFontMetricsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QSaveFile>
#include <QTextLayout>
#include <algorithm>
#include <memory>

namespace diagnostika::report {
namespace {

// Laid out at the screen's 96 dots per inch: charts and pictures keep the proportions of their
// fonts and lines as on screen, and everything stays vector in the file.
constexpr int dpi = 96;
constexpr double mm(double v)
{
    return v * dpi / 25.4;
}

QFont face(double points, bool bold = false, bool italic = false)
{
    // DejaVu covers Latin, Greek and Cyrillic; anything else falls back to whatever face has it.
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPointSizeF(points);
    font.setBold(bold);
    font.setItalic(italic);
    return font;
}

// `text` broken into lines of at most `width`, at its own line breaks too.
QStringList wrap(const QString& text, const QFont& font, double width, QPaintDevice* device)
{
    QStringList lines;
    for (const QString& paragraph : text.split(QLatin1Char('\n'))) {
        QTextLayout layout(paragraph, font, device);
        QTextOption option;
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        layout.setTextOption(option);
        layout.beginLayout();
        bool any = false;
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(width);
            lines << paragraph.mid(line.textStart(), line.textLength()).trimmed();
            any = true;
        }
        layout.endLayout();
        if (!any)
            lines << QString();
    }
    return lines;
}

using Op = std::function<void(QCPPainter&)>;

class Flow {
public:
    Flow(QPaintDevice* device, QRectF body) : device_(device), body_(body) { newPage(); }

    std::vector<std::vector<Op>> pages;

    void text(const QString& text, const QFont& font, double indent = 0, double after = 0)
    {
        const QFontMetricsF metrics(font, device_);
        for (const QString& line : wrap(text, font, body_.width() - indent, device_)) {
            need(metrics.lineSpacing());
            const QPointF at(body_.left() + indent, y_ + metrics.ascent());
            add([=](QCPPainter& p) {
                p.setFont(font);
                p.setPen(Qt::black);
                p.drawText(at, line);
            });
            y_ += metrics.lineSpacing();
        }
        y_ += after;
    }

    void heading(const QString& text, double points)
    {
        const QFontMetricsF metrics(face(points, true), device_);
        // A heading is not left alone at the foot of a page.
        need(metrics.lineSpacing() * 4);
        y_ += y_ > body_.top() ? metrics.lineSpacing() * 0.6 : 0;
        this->text(text, face(points, true), 0, metrics.lineSpacing() * 0.2);
    }

    void table(const std::vector<double>& widths, const QStringList& header,
               const std::vector<QStringList>& rows)
    {
        const QFont plain = face(9), bold = face(9, true);
        const QFontMetricsF metrics(plain, device_);
        const auto row = [&](const QStringList& cells, const QFont& font, bool shaded) {
            std::vector<QStringList> lines;
            qsizetype most = 1;
            for (qsizetype c = 0; c < cells.size() && c < static_cast<qsizetype>(widths.size());
                 ++c) {
                lines.push_back(wrap(cells[c], font, widths[c] - mm(2), device_));
                most = std::max(most, lines.back().size());
            }
            const double height = static_cast<double>(most) * metrics.lineSpacing() + mm(1.6);
            const bool broke = need(height);
            const double top = y_;
            add([=, this](QCPPainter& p) {
                p.setFont(font);
                double x = body_.left();
                for (std::size_t c = 0; c < lines.size(); ++c) {
                    const QRectF cell(x, top, widths[c], height);
                    if (shaded)
                        p.fillRect(cell, QColor(230, 230, 230));
                    p.setPen(QPen(QColor(150, 150, 150), 0.5));
                    p.drawRect(cell);
                    p.setPen(Qt::black);
                    for (qsizetype l = 0; l < lines[c].size(); ++l)
                        p.drawText(
                            QPointF(x + mm(1), top + mm(0.8) + metrics.ascent() +
                                                   static_cast<double>(l) * metrics.lineSpacing()),
                            lines[c][l]);
                    x += widths[c];
                }
            });
            y_ += height;
            return broke;
        };
        if (!header.isEmpty())
            row(header, bold, true);
        for (const QStringList& cells : rows) {
            // A table that goes on over a page break gets its header again.
            if (row(cells, plain, false) && !header.isEmpty()) {
                pages.back().clear();
                y_ = body_.top();
                row(header, bold, true);
                row(cells, plain, false);
            }
        }
        y_ += mm(2);
    }

    void figure(const Figure& figure)
    {
        if (figure.size.isEmpty() || !figure.draw)
            return;
        double width =
            figure.enlarge ? body_.width() : std::min(body_.width(), figure.size.width());
        double height = width * figure.size.height() / figure.size.width();
        // A tall figure is made smaller rather than cut.
        if (height > body_.height() * 0.55) {
            height = body_.height() * 0.55;
            width = height * figure.size.width() / figure.size.height();
        }
        const QFont small = face(8.5, false, true);
        const QFontMetricsF metrics(small, device_);
        need(height + metrics.lineSpacing() * 1.5);
        const QRectF place(body_.left() + (body_.width() - width) / 2, y_, width, height);
        const Figure f = figure;
        add([=](QCPPainter& p) {
            p.save();
            p.translate(place.topLeft());
            p.scale(place.width() / f.size.width(), place.height() / f.size.height());
            p.setClipRect(QRectF(QPointF(0, 0), f.size));
            f.draw(p);
            p.restore();
            p.setPen(QPen(QColor(150, 150, 150), 0.5));
            p.drawRect(place);
        });
        y_ += height + mm(1);
        text(figure.caption, small, 0, mm(3));
    }

private:
    // Whether it broke the page.
    bool need(double height)
    {
        if (y_ + height <= body_.bottom() || y_ <= body_.top())
            return false;
        newPage();
        return true;
    }
    void newPage()
    {
        pages.emplace_back();
        y_ = body_.top();
    }
    void add(Op op) { pages.back().push_back(std::move(op)); }

    QPaintDevice* device_;
    QRectF body_;
    double y_ = 0;
};

} // namespace

Figure imageFigure(const QString& caption, const QImage& image)
{
    const QSizeF size = QSizeF(image.size()) / image.devicePixelRatio();
    return {caption, size,
            [image, size](QCPPainter& p) { p.drawImage(QRectF(QPointF(0, 0), size), image); },
            false};
}

bool writePdf(const Document& document, const QString& path, QString* reason, int* pages)
{
    // Written beside the target and put in its place when whole: a failure midway leaves no
    // half a report, and a report that was there before stays.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *reason = file.errorString();
        return false;
    }
    QPdfWriter writer(&file);
    writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                     QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter));
    writer.setResolution(dpi);
    writer.setTitle(document.title);
    writer.setCreator(QStringLiteral("Diagnostika"));

    const QRectF page(0, 0, writer.width(), writer.height());
    const QRectF body = page.adjusted(mm(18), mm(16), -mm(18), -mm(22));
    Flow flow(&writer, body);
    const std::vector<double> pairWidths{body.width() * 0.34, body.width() * 0.66};
    for (const Block& block : document.blocks) {
        switch (block.kind) {
        case Block::Heading:
            flow.heading(block.text, 14);
            break;
        case Block::Subheading:
            flow.heading(block.text, 11);
            break;
        case Block::Paragraph:
            flow.text(block.text, face(10), 0, mm(2));
            break;
        case Block::Pairs: {
            std::vector<QStringList> rows;
            for (const auto& [name, value] : block.pairs)
                rows.push_back({name, value});
            flow.table(pairWidths, {}, rows);
            break;
        }
        case Block::Grid: {
            const qsizetype columns = std::max<qsizetype>(1, block.table.header.size());
            std::vector<double> widths{body.width() * block.table.firstColumn};
            for (qsizetype c = 1; c < columns; ++c)
                widths.push_back(body.width() * (1 - block.table.firstColumn) /
                                 static_cast<double>(columns - 1));
            flow.table(widths, block.table.header, block.table.rows);
            break;
        }
        case Block::Picture:
            flow.figure(block.figure);
            break;
        }
    }

    const QString fileName = QFileInfo(path).fileName();
    const int count = static_cast<int>(flow.pages.size());
    QCPPainter painter;
    if (!painter.begin(&writer)) {
        *reason = QStringLiteral("PDF sa nedá začať");
        return false;
    }
    painter.setRenderHint(QPainter::Antialiasing);
    const QFont foot = face(8);
    for (int i = 0; i < count; ++i) {
        if (i > 0)
            writer.newPage();
        for (const Op& op : flow.pages[static_cast<std::size_t>(i)])
            op(painter);
        const QRectF footer(body.left(), page.bottom() - mm(15), body.width(), mm(6));
        painter.setPen(QPen(QColor(120, 120, 120), 0.5));
        painter.drawLine(footer.topLeft(), footer.topRight());
        painter.setFont(foot);
        painter.setPen(Qt::black);
        painter.drawText(footer, Qt::AlignLeft | Qt::AlignBottom, fileName);
        painter.drawText(footer, Qt::AlignRight | Qt::AlignBottom,
                         QStringLiteral("Strana %1 z %2").arg(i + 1).arg(count));
    }
    painter.end();
    if (!file.commit()) {
        *reason = file.errorString();
        return false;
    }
    if (pages)
        *pages = count;
    return true;
}

} // namespace diagnostika::report
