#pragma once
// A report as a document: headings, paragraphs, tables and figures, laid out on A4 pages with the
// page number and the file's name at the foot of each, and written as a PDF. Knows nothing of the
// windows; reportcontent.h fills it.

#include <QImage>
#include <QSizeF>
#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

class QCPPainter;

namespace diagnostika::report {

struct Table {
    QStringList header;
    std::vector<QStringList> rows;
    // The first column's share of the width; the others share the rest evenly.
    double firstColumn = 0.34;
};

// Drawn as vectors into (0, 0, size): a chart renders itself, a picture is placed.
struct Figure {
    QString caption;
    QSizeF size; // in the figure's own units; scaled to the page's width, proportions kept
    std::function<void(QCPPainter&)> draw;
    // A chart may grow to the page's width; a picture is not blown up past its own size.
    bool enlarge = true;
};

// One block of the flow, in reading order.
struct Block {
    enum Kind { Heading, Subheading, Paragraph, Pairs, Grid, Picture } kind = Paragraph;
    QString text;
    std::vector<std::pair<QString, QString>> pairs; // Pairs: name, value
    Table table;                                    // Grid
    Figure figure;                                  // Picture
};

struct Document {
    QString title;
    std::vector<Block> blocks;

    void heading(const QString& text) { blocks.push_back({Block::Heading, text, {}, {}, {}}); }
    void subheading(const QString& text)
    {
        blocks.push_back({Block::Subheading, text, {}, {}, {}});
    }
    void paragraph(const QString& text) { blocks.push_back({Block::Paragraph, text, {}, {}, {}}); }
    void pairs(std::vector<std::pair<QString, QString>> pairs)
    {
        blocks.push_back({Block::Pairs, {}, std::move(pairs), {}, {}});
    }
    void grid(Table table) { blocks.push_back({Block::Grid, {}, {}, std::move(table), {}}); }
    void picture(Figure figure)
    {
        blocks.push_back({Block::Picture, {}, {}, {}, std::move(figure)});
    }
};

// A picture as a figure, at its size in logical pixels (its device pixel ratio taken out).
Figure imageFigure(const QString& caption, const QImage& image);

// Writes `document` to `path` as a PDF, whole or not at all (a file that was there stays until the
// new one is complete). False with the system's reason in `reason` when it cannot be written; the
// number of pages in `pages` otherwise.
bool writePdf(const Document& document, const QString& path, QString* reason, int* pages = nullptr);

} // namespace diagnostika::report
