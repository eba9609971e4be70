// The trend chart's library under load: QCustomPlot with an hour of per-pulse points.
//   trend_chart_qcustomplot [seconds per case, default 5]
#include "chartdriver.h"
#include "trend/plotlibrary.h"

int main(int argc, char** argv)
{
    diagnostika::bench::preferOffscreen();
    QApplication app(argc, argv);
    QCustomPlot plot;
    plot.resize(900, 450);
    QCPGraph* graph = plot.addGraph();
    plot.xAxis->setLabel(QStringLiteral("t [s]"));
    plot.yAxis->setLabel(QStringLiteral("n [min^-1]"));
    plot.yAxis->setRange(700, 1300);
    plot.show();
    diagnostika::bench::ChartDriver d;
    d.append = [&](const std::vector<double>& t, const std::vector<double>& v) {
        graph->addData(QVector<double>(t.begin(), t.end()), QVector<double>(v.begin(), v.end()),
                       true);
    };
    d.setRange = [&](double from, double to) { plot.xAxis->setRange(from, to); };
    d.redraw = [&] { plot.replot(QCustomPlot::rpQueuedReplot); };
    d.redrawNow = [&] { plot.replot(QCustomPlot::rpImmediateRefresh); };
    return diagnostika::bench::runChartBench("QCustomPlot", d, argc > 1 ? std::atoi(argv[1]) : 5);
}
