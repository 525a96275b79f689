// SPDX-License-Identifier: GPL-3.0-or-later
// The Chart tab: the session's readings over time, or a data log read back.
#pragma once

#include "core/history/chartmath.h"

#include <QWidget>

#include <functional>
#include <memory>

namespace quelmar {

// Created with the window as an empty page; the controls and the chart are
// built the first time the page is shown, so a session that never looks at
// the chart builds nothing of Qt Charts. It shows the session's history,
// which the session keeps from the start, or logs read back, by the report's
// rules: their readings, and the energy and cost of each day as bars.
class ChartTab : public QWidget
{
    Q_OBJECT

public:
    explicit ChartTab(const ReadingHistory &session, QWidget *parent = nullptr);
    ~ChartTab() override;

    // The session's history has a new reading: drawn at once while the
    // session is on show.
    void follow();

    // Draws the shown span again; nothing while the page was never shown.
    void redraw();

    // Where the days' cost takes its cents per kWh from.
    void setPrice(std::function<double()> centsPerKWh) { price = std::move(centsPerKWh); }

    // Shows the logs at `paths`, as Open Log… does with the files chosen.
    // False, after saying why, when none holds a reading; the chart then
    // stays as it was.
    bool openLogs(const QStringList &paths);

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct View;
    struct Logs;

    void build();
    void drawDays();
    void setTicks(const QList<TimeTick> &ticks);
    void showDay(const QPointF &point, bool over);
    void openLog();
    void saveImage();
    void showSession();
    void setDayChoice(bool offered);
    void warn(const QString &text, const QString &detail);
    QString startFolder();
    const ReadingHistory &shown() const;

    const ReadingHistory &session;
    std::function<double()> price;
    std::unique_ptr<Logs> logs;
    QString lastFolder;
    std::unique_ptr<View> view;
};

} // namespace quelmar
