// SPDX-License-Identifier: GPL-3.0-or-later
#include "charttab.h"

#include "core/cost/costmath.h"
#include "core/history/chartmath.h"
#include "core/measure/readouttext.h"
#include "core/report/logreport.h"

#include <QAreaSeries>
#include <QCategoryAxis>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineSeries>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScatterSeries>
#include <QStandardPaths>
#include <QValueAxis>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace quelmar {

namespace {

constexpr qint64 kMinuteMs = 60 * 1000;

// What the span box offers: its length in ms, 0 for everything kept.
struct SpanChoice {
    const char *name;
    qint64 ms;
};
const SpanChoice kSpans[] = {
    {QT_TRANSLATE_NOOP("quelmar::ChartTab", "Last 5 minutes"), 5 * kMinuteMs},
    {QT_TRANSLATE_NOOP("quelmar::ChartTab", "Last hour"), 60 * kMinuteMs},
    {QT_TRANSLATE_NOOP("quelmar::ChartTab", "Last 24 hours"), 24 * 60 * kMinuteMs},
    {QT_TRANSLATE_NOOP("quelmar::ChartTab", "All"), 0},
};

// Labels fit about this far apart on the time axis.
constexpr int kPixelsPerTick = 70;

// The series box's entry after the five series, while logs with dates are shown.
constexpr int kDays = kSeriesCount;

qint64 midnight(int julianDay)
{
    return QDateTime(QDate::fromJulianDay(julianDay), QTime(0, 0)).toMSecsSinceEpoch();
}

} // namespace

struct ChartTab::View {
    QComboBox *series = nullptr;
    QComboBox *span = nullptr;
    QChart *chart = nullptr;
    QChartView *chartView = nullptr;
    QLineSeries *line = nullptr;
    QScatterSeries *clears = nullptr;
    QLineSeries *barTops = nullptr;  // the outline of the day bars
    QAreaSeries *bars = nullptr;
    QPlainTextEdit *notes = nullptr;
    QCategoryAxis *timeAxis = nullptr;
    QValueAxis *valueAxis = nullptr;
    QLabel *stats = nullptr;
    QLabel *source = nullptr;
    QPushButton *sessionButton = nullptr;
    QList<TimeTick> ticks;  // on the time axis now
};

// Logs read back: their readings, and the report of their days.
struct ChartTab::Logs {
    ReadingHistory readings{ReadingHistory::kUnbounded};
    LogReport report;
    QString name;  // the file's name, or how many logs
    bool clock = false;
};

ChartTab::ChartTab(const ReadingHistory &session, QWidget *parent)
    : QWidget(parent)
    , session(session)
{
    setObjectName(QStringLiteral("chartTab"));
}

ChartTab::~ChartTab() = default;

void ChartTab::follow()
{
    if (view && !logs && isVisible())
        redraw();
}

const ReadingHistory &ChartTab::shown() const
{
    return logs ? logs->readings : session;
}

void ChartTab::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!view)
        build();
    // Readings that came while the page was hidden were only stored.
    redraw();
}

bool ChartTab::eventFilter(QObject *watched, QEvent *event)
{
    // A wider or narrower chart has other pixel columns.
    if (view && watched == view->chartView && event->type() == QEvent::Resize && isVisible())
        redraw();
    return QWidget::eventFilter(watched, event);
}

void ChartTab::build()
{
    view = std::make_unique<View>();
    View &v = *view;
    // The tab widget's bold is for its tab titles; the chart's texts are plain.
    QFont plain = font();
    plain.setBold(false);
    setFont(plain);

    v.series = new QComboBox;
    v.series->setObjectName(QStringLiteral("chartSeries"));
    for (int s = 0; s < kSeriesCount; ++s)
        v.series->addItem(tr(seriesInfo(Series(s)).name));
    v.span = new QComboBox;
    v.span->setObjectName(QStringLiteral("chartSpan"));
    for (const SpanChoice &span : kSpans)
        v.span->addItem(tr(span.name), span.ms);
    auto *open = new QPushButton(tr("Open Log…"));
    open->setObjectName(QStringLiteral("chartOpenLog"));
    auto *save = new QPushButton(tr("Save Image…"));
    save->setObjectName(QStringLiteral("chartSaveImage"));

    v.line = new QLineSeries;
    // A one-pixel line is drawn without the stroker that thicker lines need;
    // at two points a column it is also the clearer line.
    QPen pen(QColor(32, 159, 223));
    pen.setWidth(1);
    pen.setCosmetic(true);
    v.line->setPen(pen);
    v.clears = new QScatterSeries;
    v.clears->setName(tr("Clear Data"));
    v.clears->setMarkerSize(7);
    v.clears->setColor(Qt::red);
    v.clears->setBorderColor(Qt::red);
    v.timeAxis = new QCategoryAxis;
    v.timeAxis->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    v.valueAxis = new QValueAxis;
    v.valueAxis->setLabelFormat(QStringLiteral("%g"));
    QFont small = plain;
    small.setPointSizeF(plain.pointSizeF() * 0.9);
    v.timeAxis->setLabelsFont(small);
    v.valueAxis->setLabelsFont(small);
    v.valueAxis->setTitleFont(small);

    v.barTops = new QLineSeries(this);
    v.bars = new QAreaSeries(v.barTops);
    v.bars->setColor(QColor(32, 159, 223));
    v.bars->setBorderColor(QColor(20, 100, 140));
    v.bars->setVisible(false);

    v.chart = new QChart;
    v.chart->legend()->hide();
    v.chart->setMargins(QMargins(2, 2, 2, 2));
    v.chart->setBackgroundRoundness(0);
    v.chart->addSeries(v.line);
    v.chart->addSeries(v.clears);
    v.chart->addSeries(v.bars);
    v.chart->addAxis(v.timeAxis, Qt::AlignBottom);
    v.chart->addAxis(v.valueAxis, Qt::AlignLeft);
    for (QAbstractSeries *s : {static_cast<QAbstractSeries *>(v.line), static_cast<QAbstractSeries *>(v.clears),
                               static_cast<QAbstractSeries *>(v.bars)}) {
        s->attachAxis(v.timeAxis);
        s->attachAxis(v.valueAxis);
    }
    v.chartView = new QChartView(v.chart);
    v.chartView->setObjectName(QStringLiteral("chartView"));
    v.chartView->setRenderHint(QPainter::Antialiasing);
    v.chartView->installEventFilter(this);

    v.stats = new QLabel;
    v.stats->setObjectName(QStringLiteral("chartStats"));
    v.source = new QLabel;
    v.source->setObjectName(QStringLiteral("chartSource"));
    v.sessionButton = new QPushButton(tr("Session"));
    v.sessionButton->setObjectName(QStringLiteral("chartSession"));
    v.sessionButton->setToolTip(tr("Back from the log to this session's readings"));
    // What the report of the logs says: gaps, logs and rows left out.
    v.notes = new QPlainTextEdit;
    v.notes->setObjectName(QStringLiteral("chartNotes"));
    v.notes->setReadOnly(true);
    v.notes->setMaximumHeight(v.notes->fontMetrics().lineSpacing() * 4 + 8);
    v.notes->setVisible(false);

    auto *controls = new QHBoxLayout;
    controls->addWidget(v.series);
    controls->addWidget(v.span);
    controls->addStretch();
    controls->addWidget(open);
    controls->addWidget(save);
    auto *sourceRow = new QHBoxLayout;
    sourceRow->addWidget(v.source, 1);
    sourceRow->addWidget(v.sessionButton);
    auto *page = new QVBoxLayout(this);
    page->setContentsMargins(4, 4, 4, 4);
    page->setSpacing(3);
    page->addLayout(controls);
    page->addWidget(v.chartView, 1);
    page->addWidget(v.stats);
    page->addWidget(v.notes);
    page->addLayout(sourceRow);

    connect(v.series, &QComboBox::currentIndexChanged, this, &ChartTab::redraw);
    connect(v.span, &QComboBox::currentIndexChanged, this, &ChartTab::redraw);
    connect(open, &QPushButton::clicked, this, &ChartTab::openLog);
    connect(save, &QPushButton::clicked, this, &ChartTab::saveImage);
    connect(v.sessionButton, &QPushButton::clicked, this, &ChartTab::showSession);
    connect(v.bars, &QAreaSeries::hovered, this, &ChartTab::showDay);
    setDayChoice(logs && logs->clock);
}

// Offers the days of the logs shown, and their notes; or neither.
void ChartTab::setDayChoice(bool offered)
{
    QComboBox *series = view->series;
    if (offered && series->count() == kDays) {
        series->addItem(tr("Energy per day"));
    } else if (!offered && series->count() > kDays) {
        if (series->currentIndex() == kDays)
            series->setCurrentIndex(0);
        series->removeItem(kDays);
    }
    view->notes->setPlainText(logs ? logs->report.notes.join(QLatin1Char('\n')) : QString());
    view->notes->setVisible(logs && !logs->report.notes.isEmpty());
}

void ChartTab::redraw()
{
    if (!view)
        return;
    View &v = *view;
    v.sessionButton->setEnabled(bool(logs));
    const bool days = v.series->currentIndex() == kDays;
    v.span->setEnabled(!days);
    v.bars->setVisible(days);
    v.line->setVisible(!days);
    v.clears->setVisible(!days);
    if (days)
        return drawDays();
    const ReadingHistory &h = shown();
    const Series series = Series(v.series->currentIndex());
    const SeriesInfo &info = seriesInfo(series);
    const qint64 span = v.span->currentData().toLongLong();

    qint64 from = 0, to = 0;
    int first = 0;
    if (!h.isEmpty()) {
        from = h.timeAt(0);
        to = h.timeAt(h.size() - 1);
        if (span > 0 && to - span > from) {
            from = to - span;
            first = h.lowerBound(from);
        }
    }
    if (to - from < 1000)
        from = std::max<qint64>(0, to - 1000);
    if (to <= from)
        to = from + 1000;

    // The plot is narrower than the view by its axes; before the first
    // layout only the view's width is known.
    const QRectF plot = v.chart->plotArea();
    const int columns = std::max(1, plot.width() > 1 ? int(plot.width()) : v.chartView->width());
    v.line->replace(chartPoints(h, first, series, double(from), double(to), columns));

    QList<QPointF> marks;
    for (int i = first; i < h.size(); ++i) {
        if (h.afterClearAt(i) && std::isfinite(h.valueAt(i, series)))
            marks << QPointF(double(h.timeAt(i)), h.valueAt(i, series));
    }
    if (marks != v.clears->points())
        v.clears->replace(marks);

    const bool clock = !logs || logs->clock;
    const SpanStats st = spanStats(h, first, series, clock);
    double lo = 0, hi = 1;
    if (st.count > 0) {
        lo = st.min;
        hi = st.max;
        const double pad = hi > lo ? (hi - lo) * 0.05 : hi != 0 ? std::fabs(hi) * 0.1 : 1.0;
        // A series that never goes below zero gets no negative axis.
        lo = lo >= 0 ? std::max(0.0, lo - pad) : lo - pad;
        hi += pad;
    }
    // Every range change makes Qt Charts work the line's shape out again:
    // the axis stays while the readings fit it and fill at least half of it.
    const double axisLow = v.valueAxis->min(), axisHigh = v.valueAxis->max();
    if (lo < axisLow || hi > axisHigh || axisHigh - axisLow > 2 * (hi - lo)) {
        v.valueAxis->setRange(lo, hi);
        v.valueAxis->applyNiceNumbers();
    }
    const QString unit = *info.unit ? QStringLiteral(" (%1)").arg(QLatin1String(info.unit)) : QString();
    const QString title = tr(info.name) + unit;
    if (v.valueAxis->titleText() != title)
        v.valueAxis->setTitleText(title);

    v.timeAxis->setRange(double(from), double(to));
    setTicks(h.isEmpty() ? QList<TimeTick>() : timeTicks(from, to, clock, std::max(2, columns / kPixelsPerTick)));

    v.stats->setText(statsText(st, series));
    if (logs)
        v.source->setText(tr("%1: %2 readings, %3 rows skipped")
                              .arg(logs->name, QString::number(h.size()), QString::number(logs->report.unreadable)));
    else
        v.source->setText(tr("This session: %1 readings").arg(h.size()));
}

void ChartTab::setTicks(const QList<TimeTick> &ticks)
{
    // Each label change lays the axis out again: only when the ticks move.
    View &v = *view;
    if (ticks == v.ticks)
        return;
    for (const QString &label : v.timeAxis->categoriesLabels())
        v.timeAxis->remove(label);
    for (const TimeTick &tick : ticks)
        v.timeAxis->append(tick.label, double(tick.ms));
    v.ticks = ticks;
}

// A bar per local day of the logs: the report's energy of the day, and its
// cost at the Cost Calculator's price.
void ChartTab::drawDays()
{
    View &v = *view;
    QList<QPointF> outline;
    double high = 0, low = 0;
    qint64 from = 0, to = 0;
    const QList<ReportLine> &lines = logs->report.lines;
    for (const ReportLine &day : lines.first(lines.size() - 1)) {
        if (day.firstDay == 0)
            continue;
        const qint64 start = midnight(day.firstDay), end = midnight(day.firstDay + 1), inset = (end - start) / 10;
        const double kWh = day.energy / 1e6;
        outline << QPointF(start + inset, 0) << QPointF(start + inset, kWh) << QPointF(end - inset, kWh)
                << QPointF(end - inset, 0);
        from = outline.size() == 4 ? start : from;
        to = end;
        high = std::max(high, kWh);
        low = std::min(low, kWh);
    }
    v.barTops->replace(outline);
    v.valueAxis->setRange(low, high > low ? high * 1.05 : low + 1);
    v.valueAxis->applyNiceNumbers();
    v.valueAxis->setTitleText(tr("Energy (kWh)"));
    if (to <= from)
        to = from + 1000;
    v.timeAxis->setRange(double(from), double(to));
    const QRectF plot = v.chart->plotArea();
    const int columns = std::max(1, plot.width() > 1 ? int(plot.width()) : v.chartView->width());
    // Never more ticks than midnights: the bars are days.
    const int days = int(outline.size() / 4);
    setTicks(timeTicks(from, to, true, std::max(2, std::min(days + 1, columns / kPixelsPerTick))));
    showDay(QPointF(), false);
    v.source->setText(tr("%1: %2 days, %3 readings, %4 rows skipped")
                          .arg(logs->name)
                          .arg(days)
                          .arg(logs->readings.size())
                          .arg(logs->report.unreadable));
}

// Under the chart: the day under the pointer, else the total, as the report
// has them.
void ChartTab::showDay(const QPointF &point, bool over)
{
    if (!logs)
        return;
    const QList<ReportLine> &lines = logs->report.lines;
    const auto day = std::find_if(lines.cbegin(), lines.cend() - 1, [&](const ReportLine &l) {
        return over && l.firstDay != 0 && midnight(l.firstDay) <= point.x() && point.x() < midnight(l.firstDay + 1);
    });
    const ReportLine *shown = &*day;  // the total when the pointer is on no day
    ReportOptions priced;
    const double cents = price ? price() : 0;
    priced.tariff = Tariff(cents);
    QString text = tr("%1: %2 kWh, %3 at %4 cents per kWh")
                       .arg(shown->name, numberText(shown->energy / 1e6, 3), moneyText(lineCost(*shown, priced)),
                            numberText(cents, 2));
    if (shown->gaps > 0)
        text += tr(", %1 not measured").arg(shown->gaps == 1 ? tr("1 gap") : tr("%1 gaps").arg(shown->gaps));
    view->stats->setText(text);
}

void ChartTab::warn(const QString &text, const QString &detail)
{
    QMessageBox box(this);
    box.setIcon(QMessageBox::Warning);
    box.setText(text);
    box.setInformativeText(detail);
    box.exec();
}

QString ChartTab::startFolder()
{
    // The documents folder until a file has been chosen, then that file's.
    if (lastFolder.isEmpty()) {
        const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        if (QDir(documents).exists())
            lastFolder = documents;
    }
    return lastFolder;
}

void ChartTab::openLog()
{
    const QStringList paths = QFileDialog::getOpenFileNames(this, tr("Open Log"), startFolder(),
                                                            tr("CSV Files (*.csv);;All Files (*)"));
    if (paths.isEmpty())
        return;
    lastFolder = QFileInfo(paths.constFirst()).absolutePath();
    openLogs(paths);
}

bool ChartTab::openLogs(const QStringList &paths)
{
    auto read = std::make_unique<Logs>();
    read->report = makeReport(paths, ReportOptions(), &read->readings);
    const QString notes = read->report.notes.join(QLatin1Char('\n'));
    // Logs that hold no reading leave the chart as it was.
    if (read->readings.isEmpty()) {
        warn(tr("No Readings."), tr("Nothing was loaded.") + QLatin1Char('\n') + notes);
        return false;
    }
    if (read->report.lost)
        warn(tr("Logs Left Out."), tr("The rest is shown.") + QLatin1Char('\n') + notes);
    read->name = paths.size() == 1 ? QFileInfo(paths.constFirst()).fileName() : tr("%1 logs").arg(paths.size());
    // Lines with days come of logs with the clock column; the total's is last.
    const QList<ReportLine> &lines = read->report.lines;
    const qsizetype days = std::count_if(lines.cbegin(), lines.cend() - 1, [](const ReportLine &l) { return l.firstDay != 0; });
    read->clock = days > 0;
    const bool manyDays = days > 1;
    logs = std::move(read);
    if (view) {
        setDayChoice(logs->clock);
        // Days of logs are what a set of them is opened for.
        if (manyDays)
            view->series->setCurrentIndex(kDays);
        redraw();
    }
    return true;
}

void ChartTab::showSession()
{
    logs.reset();
    setDayChoice(false);
    redraw();
}

void ChartTab::saveImage()
{
    // The dialog adds the suffix itself, so it also asks before replacing
    // the file it would name.
    QFileDialog dialog(this, tr("Save Chart Image"), startFolder(), tr("PNG Images (*.png)"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("png"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    const QString path = dialog.selectedFiles().constFirst();
    lastFolder = QFileInfo(path).absolutePath();
    if (!view->chartView->grab().save(path, "PNG"))
        warn(tr("Image Error."), tr("%1 could not be written.").arg(QDir::toNativeSeparators(path)));
}

} // namespace quelmar
