// The trend chart's library under load: Qt Charts with an hour of per-pulse points.
//   trend_chart_qtcharts [seconds per case, default 5]
#include "chartdriver.h"

#include <QChart>
#include <QChartView>
#include <QLineSeries>
#include <QValueAxis>

int main(int argc, char** argv)
{
    diagnostika::bench::preferOffscreen();
    QApplication app(argc, argv);
    auto* chart = new QChart;
    auto* series = new QLineSeries;
    chart->addSeries(series);
    auto* x = new QValueAxis;
    auto* y = new QValueAxis;
    x->setTitleText(QStringLiteral("t [s]"));
    y->setTitleText(QStringLiteral("n [min^-1]"));
    y->setRange(700, 1300);
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    series->attachAxis(x);
    series->attachAxis(y);
    chart->legend()->hide();
    QChartView view(chart);
    view.resize(900, 450);
    view.show();
    diagnostika::bench::ChartDriver d;
    d.append = [&](const std::vector<double>& t, const std::vector<double>& v) {
        QList<QPointF> pts;
        pts.reserve(static_cast<qsizetype>(t.size()));
        for (std::size_t i = 0; i < t.size(); ++i)
            pts.append(QPointF(t[i], v[i]));
        if (series->count() == 0)
            series->replace(pts); // one change for the whole load
        else
            series->append(pts);
    };
    d.setRange = [&](double from, double to) { x->setRange(from, to); };
    d.redraw = [&] { view.viewport()->update(); };
    d.redrawNow = [&] { view.viewport()->repaint(); };
    return diagnostika::bench::runChartBench("Qt Charts", d, argc > 1 ? std::atoi(argv[1]) : 5);
}
