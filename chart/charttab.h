// SPDX-License-Identifier: GPL-3.0-or-later
// The Chart tab: the session's readings over time, or a data log read back.
#pragma once

#include "core/history/history.h"

#include <QWidget>

#include <memory>

namespace quelmar {

struct LogContents;

// Created with the window as an empty page; the controls and the chart are
// built the first time the page is shown, so a session that never looks at
// the chart builds nothing of Qt Charts. It shows the session's history,
// which the session keeps from the start, or a log read back.
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

    const ReadingHistory &session;
    std::unique_ptr<LogContents> log;
    QString logName;
    QString lastFolder;
    std::unique_ptr<View> view;
};

} // namespace quelmar
