#include "panel/ui/TrendWindow.h"

#include <QComboBox>
#include <QDateTime>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QDateTimeAxis>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>
#include <algorithm>
#include <cmath>

#include "base/Files.h"
#include "base/ui/Messages.h"

namespace tovik {

namespace {

// Points per series at most: a line of this many points is as fine as the
// chart is wide, and drawing it stays cheap.
constexpr size_t kMaxPoints = 800;
constexpr int kRedrawMs = 1000;
const QColor kColors[4] = {QColor(200, 150, 0), QColor(0, 140, 0), QColor(200, 0, 0), QColor(60, 60, 200)};

}  // namespace

TTrendWindow::TTrendWindow(const TCurrentTrend& trend, const TLocaleFormat& locale, const QString& title,
                           QWidget* parent)
    : QWidget(parent, Qt::Window), Trend(trend), Locale(locale) {
    setObjectName("TrendWindow");
    setWindowTitle(title);
    resize(820, 480);
    auto* layout = new QVBoxLayout(this);
    auto* controls = new QHBoxLayout;
    controls->addWidget(new QLabel(QStringLiteral("Период:"), this));
    SpanBox = new QComboBox(this);
    SpanBox->setObjectName("TrendSpanBox");
    for (const int minutes : kTrendSpansMinutes) SpanBox->addItem(QString::number(minutes) + " мин");
    SpanBox->setCurrentIndex(1);
    controls->addWidget(SpanBox);
    PauseButton = new QPushButton(QStringLiteral("Пауза"), this);
    PauseButton->setObjectName("TrendPauseButton");
    PauseButton->setCheckable(true);
    controls->addWidget(PauseButton);
    CsvButton = new QPushButton(QStringLiteral("Сохранить CSV..."), this);
    CsvButton->setObjectName("TrendCsvButton");
    controls->addWidget(CsvButton);
    Info = new QLabel(this);
    Info->setObjectName("TrendInfoLabel");
    controls->addWidget(Info, 1);
    layout->addLayout(controls);

    Chart = new QChart;
    Chart->legend()->setAlignment(Qt::AlignTop);
    Chart->setMargins(QMargins(4, 4, 4, 4));
    Chart->setLocale(QLocale());
    Chart->setLocalizeNumbers(true);
    TimeAxis = new QDateTimeAxis;
    TimeAxis->setFormat("hh:mm:ss");
    TimeAxis->setTickCount(7);
    ValueAxis = new QValueAxis;
    ValueAxis->setTitleText(QStringLiteral("А"));
    ValueAxis->setLabelFormat("%.1f");
    Chart->addAxis(TimeAxis, Qt::AlignBottom);
    Chart->addAxis(ValueAxis, Qt::AlignLeft);
    for (size_t i = 0; i < kTrendSeriesNames.size(); ++i) {
        auto* s = new QLineSeries;
        s->setName(kTrendSeriesNames[i]);
        s->setPen(QPen(kColors[i], 1.5));
        Chart->addSeries(s);
        s->attachAxis(TimeAxis);
        s->attachAxis(ValueAxis);
        Series.push_back(s);
    }
    ChartView = new QChartView(Chart, this);
    ChartView->setObjectName("TrendChartView");
    ChartView->setRenderHint(QPainter::Antialiasing, false);
    layout->addWidget(ChartView, 1);

    UpdateTimer = new QTimer(this);
    UpdateTimer->setInterval(kRedrawMs);
    connect(UpdateTimer, &QTimer::timeout, this, &TTrendWindow::Refresh);
    UpdateTimer->start();
    connect(SpanBox, &QComboBox::currentIndexChanged, this, [this](int) { Refresh(); });
    connect(PauseButton, &QPushButton::toggled, this, &TTrendWindow::SetPaused);
    AskCsvPath = [this] {
        return QFileDialog::getSaveFileName(this, QStringLiteral("Сохранить тренд токов"), QString(),
                                            QStringLiteral("CSV (*.csv)"));
    };
    connect(CsvButton, &QPushButton::clicked, this, [this] {
        QString path = AskCsvPath ? AskCsvPath() : QString();
        if (path.isEmpty()) return;
        if (!path.contains('.')) path += ".csv";
        QString error;
        if (!SaveCsv(path, error)) ShowMessage(this, error, TMessageKind::Error);
    });
    Refresh();
}

int64_t TTrendWindow::SpanMs() const {
    const int index = std::clamp(SpanBox->currentIndex(), 0, static_cast<int>(kTrendSpansMinutes.size()) - 1);
    return int64_t{kTrendSpansMinutes[static_cast<size_t>(index)]} * 60000;
}

void TTrendWindow::SetSpanIndex(int index) {
    SpanBox->setCurrentIndex(index);
}

void TTrendWindow::SetPaused(bool paused) {
    IsPaused = paused;
    if (PauseButton->isChecked() != paused) PauseButton->setChecked(paused);
    PauseButton->setText(paused ? QStringLiteral("Продолжить") : QStringLiteral("Пауза"));
    if (!paused) Refresh();
}

void TTrendWindow::Refresh() {
    if (IsPaused) return;
    const int span = SpanBox->currentIndex();
    if (Trend.Revision() == DrawnRevision && span == DrawnSpan) return;
    DrawnRevision = Trend.Revision();
    DrawnSpan = span;
    Snapshot = Trend.Samples(SpanMs());
    Draw();
}

void TTrendWindow::Draw() {
    ++RedrawCount;
    const int64_t end = Snapshot.empty() ? QDateTime::currentMSecsSinceEpoch() : Snapshot.back().WallMs;
    const int64_t start = end - SpanMs();
    double top = 1.0;
    // A long span is thinned to the lowest and highest value of each slice
    // of time, so no peak is lost.
    const size_t slices = kMaxPoints / 2;
    for (size_t k = 0; k < Series.size(); ++k) {
        QList<QPointF> points;
        points.reserve(static_cast<qsizetype>(std::min(Snapshot.size(), kMaxPoints)));
        auto add = [&](const TTrendSample& s) {
            points.append(QPointF(static_cast<double>(s.WallMs), s.Amps[k]));
            top = std::max(top, s.Amps[k]);
        };
        if (Snapshot.size() <= kMaxPoints) {
            for (const TTrendSample& s : Snapshot)
                if (std::isfinite(s.Amps[k])) add(s);
        } else {
            const double width = static_cast<double>(end - start) / static_cast<double>(slices);
            size_t i = 0;
            for (size_t slice = 0; slice < slices && i < Snapshot.size(); ++slice) {
                const auto sliceEnd =
                    static_cast<int64_t>(static_cast<double>(start) + width * double(slice + 1));
                const TTrendSample* lo = nullptr;
                const TTrendSample* hi = nullptr;
                for (; i < Snapshot.size() && (Snapshot[i].WallMs <= sliceEnd || slice + 1 == slices); ++i) {
                    const TTrendSample& s = Snapshot[i];
                    if (!std::isfinite(s.Amps[k])) continue;
                    if (!lo || s.Amps[k] < lo->Amps[k]) lo = &s;
                    if (!hi || s.Amps[k] > hi->Amps[k]) hi = &s;
                }
                if (lo && hi && lo != hi) {
                    add(lo->WallMs < hi->WallMs ? *lo : *hi);
                    add(lo->WallMs < hi->WallMs ? *hi : *lo);
                } else if (lo) {
                    add(*lo);
                }
            }
        }
        Series[k]->replace(points);
    }
    TimeAxis->setRange(QDateTime::fromMSecsSinceEpoch(start), QDateTime::fromMSecsSinceEpoch(end));
    // About five round steps (1, 2 or 5 times a power of ten) up to just
    // above the highest value, in the locale's decimal separator.
    const double want = top * 1.05;
    const double magnitude = std::pow(10.0, std::floor(std::log10(want / 5.0)));
    const double norm = want / 5.0 / magnitude;
    const double step = (norm <= 1.0 ? 1.0 : norm <= 2.0 ? 2.0 : norm <= 5.0 ? 5.0 : 10.0) * magnitude;
    const double max = std::ceil(want / step) * step;
    ValueAxis->setRange(0.0, max);
    ValueAxis->setTickCount(static_cast<int>(std::lround(max / step)) + 1);
    const int decimals = std::max(0, static_cast<int>(-std::floor(std::log10(step) + 1e-9)));
    ValueAxis->setLabelFormat(QString("%.%1f").arg(decimals));
    Info->setText(Snapshot.empty()
                      ? QStringLiteral("Нет данных")
                      : QString::fromStdString("Точек: " + std::to_string(Snapshot.size()) + ", последняя: " +
                                               TrendTimeText(Snapshot.back().WallMs, Locale)));
}

int TTrendWindow::PointsDrawn() const {
    return Series.empty() ? 0 : static_cast<int>(Series[0]->count());
}

bool TTrendWindow::SaveCsv(const QString& path, QString& error) {
    if (!IsPaused) Refresh();
    const std::string text = TrendCsvText(Snapshot, Locale);
    std::string reason;
    if (ReplaceFileBytes(path.toStdString(), text, reason)) return true;
    error = path + ": " + QString::fromStdString(reason);
    return false;
}

}  // namespace tovik
