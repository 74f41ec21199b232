#pragma once
// The live current trend: Ia, Ib, Ic and Di of the panel's own polls over
// the chosen span, redrawn once a second at most and only when a sample
// came, so an open trend costs the panel next to nothing.
#include <QWidget>
#include <functional>
#include <vector>

#include "panel/CurrentTrend.h"

class QChart;
class QChartView;
class QComboBox;
class QDateTimeAxis;
class QLabel;
class QLineSeries;
class QPushButton;
class QTimer;
class QValueAxis;

namespace tovik {

class TTrendWindow : public QWidget {
    Q_OBJECT
public:
    // The trend belongs to the panel and outlives nothing of it: the panel's
    // window owns this one.
    TTrendWindow(const TCurrentTrend& trend, const TLocaleFormat& locale, const QString& title,
                 QWidget* parent);

    // Redraws from the trend if a sample came since the last drawing (not while paused).
    void Refresh();
    void SetSpanIndex(int index);
    void SetPaused(bool paused);
    bool Paused() const { return IsPaused; }
    // The samples shown (frozen while paused) as CSV.
    bool SaveCsv(const QString& path, QString& error);
    const std::vector<TTrendSample>& Shown() const { return Snapshot; }
    // Points drawn per series (after thinning a long span).
    int PointsDrawn() const;
    uint64_t Redraws() const { return RedrawCount; }

    // Where "Сохранить CSV..." asks for the file; tests answer it.
    std::function<QString()> AskCsvPath;

    QComboBox* SpanBox = nullptr;
    QPushButton* PauseButton = nullptr;
    QPushButton* CsvButton = nullptr;
    QChartView* ChartView = nullptr;
    QTimer* UpdateTimer = nullptr;

private:
    void Draw();
    int64_t SpanMs() const;

    const TCurrentTrend& Trend;
    TLocaleFormat Locale;
    QChart* Chart = nullptr;
    std::vector<QLineSeries*> Series;
    QDateTimeAxis* TimeAxis = nullptr;
    QValueAxis* ValueAxis = nullptr;
    QLabel* Info = nullptr;
    std::vector<TTrendSample> Snapshot;
    uint64_t DrawnRevision = ~uint64_t{0};
    int DrawnSpan = -1;
    bool IsPaused = false;
    uint64_t RedrawCount = 0;
};

}  // namespace tovik
