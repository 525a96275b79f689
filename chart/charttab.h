// SPDX-License-Identifier: GPL-3.0-or-later
// The Chart tab: the session's readings over time, or a data log read back.
#pragma once

#include "chart/history.h"

#include <QWidget>

#include <memory>

namespace quelmar {

struct LogContents;

// Created with the window as an empty page; the controls and the chart are
// built the first time the page is shown, so a session that never looks at
// the chart builds nothing of Qt Charts. The history is kept from the start.
class ChartTab : public QWidget
{
    Q_OBJECT

public:
    explicit ChartTab(QWidget *parent = nullptr);
    ~ChartTab() override;

    // One reading of the readout pass, at the computer's clock time (a clock
    // set back holds the time where it was until it catches up). Draws only
    // while the session is on show.
    void record(const double *vals);
    void record(const double *vals, qint64 clockMs);
    // The meter acknowledged a Clear Data: the next reading is marked.
    void markClear() { session.markClear(); }

    // Draws the shown span again; nothing while the page was never shown.
    void redraw();

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct View;

    void build();
    void openLog();
    void saveImage();
    void showSession();
    void warn(const QString &text, const QString &detail);
    QString startFolder();
    const ReadingHistory &shown() const;

    ReadingHistory session;
    std::unique_ptr<LogContents> log;
    QString logName;
    QString lastFolder;
    std::unique_ptr<View> view;
};

} // namespace quelmar
