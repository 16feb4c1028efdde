// «История баланса»: the balance and the remaining traffic of the last 30 days as a chart, the
// forecast, and the LowBalance field.
#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>
#include <vector>

#include "core/UsageForecast.h"

class QLabel;
class QLineEdit;
class QPushButton;
class UsageWatch;

// The chart: the two values as steps over the 30 days that end now, each on its own scale.
class UsageChart : public QWidget {
    Q_OBJECT
public:
    explicit UsageChart(QWidget* parent = nullptr);
    // The lines from `start` to `end` (seconds since 1970), and the one before `start`.
    void SetData(const std::vector<UsageRecord>& records, int64_t start, int64_t end);
    const std::vector<UsageRecord>& Points() const { return points_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<UsageRecord> points_;
    int64_t start_ = 0;
    int64_t end_ = 1;
};

class UsageWindow : public QDialog {
    Q_OBJECT
public:
    explicit UsageWindow(QWidget* parent = nullptr);

    // Shows what `watch` holds at the clock's `now`, and the stored LowBalance text.
    void Refresh(const UsageWatch& watch, int32_t now);
    void SetThresholdText(const QString& text);

    UsageChart* chart = nullptr;
    QLabel* forecastLabel = nullptr;
    QLineEdit* thresholdEdit = nullptr;
    QLabel* thresholdError = nullptr;
    QPushButton* okButton = nullptr;
    QPushButton* cancelButton = nullptr;

signals:
    // OK with a good field: `text` is what brin.ini stores ("" for no warning).
    void ThresholdAccepted(const QString& text, bool enabled, int32_t threshold);

public slots:
    void accept() override;
};

// The forecast as the window and the low-balance notification say it.
QString ForecastText(const Forecast& forecast);
