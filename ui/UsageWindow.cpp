// The balance history window: the chart drawn with QPainter, the forecast line and the LowBalance
// field.
#include "ui/UsageWindow.h"

#include <QCoreApplication>
#include <QDate>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <algorithm>

#include "core/DisplayFormat.h"
#include "core/UsageLog.h"
#include "ui/DialogUnits.h"

namespace {

constexpr int64_t kChartDays = 30;
const QColor kBalanceColour(0, 84, 166);
const QColor kTrafficColour(0, 140, 60);

QString Money(int64_t thousandths) {
    return QString::fromStdString(FormatThousandths(thousandths));
}

QString DateText(const LocalDate& date) {
    // The order of day, month and year is the translation's.
    return QDate(date.year, date.month, date.day)
        .toString(QCoreApplication::translate("UsageWindow", "dd.MM.yyyy"));
}

// A scale that holds every value with a little room above and below.
struct Scale {
    double low = 0, high = 1;
    void Fit(double a, double b) {
        low = std::min(a, b);
        high = std::max(a, b);
        if (high - low < 1e-9) {
            low -= 1;
            high += 1;
        }
        const double room = (high - low) * 0.08;
        low -= room;
        high += room;
    }
    double At(double v, double top, double bottom) const {
        return bottom - (v - low) / (high - low) * (bottom - top);
    }
};

}  // namespace

QString ForecastText(const Forecast& f) {
    switch (f.kind) {
        case Forecast::Lasts:
            return QCoreApplication::translate("UsageWindow",
                                               "Денег хватит до %1 (расход %2 в день)")
                .arg(DateText(f.until), Money(f.perDay));
        case Forecast::BeyondCentury:
            return QCoreApplication::translate(
                       "UsageWindow", "Денег хватит больше чем на сто лет (расход %1 в день)")
                .arg(Money(f.perDay));
        case Forecast::NoSpending:
            return QCoreApplication::translate("UsageWindow", "Расхода нет: баланс не уменьшается");
        case Forecast::BelowZero:
            return QCoreApplication::translate("UsageWindow", "Баланс уже ниже нуля");
        case Forecast::NotEnoughHistory:
            break;
    }
    return QCoreApplication::translate("UsageWindow",
                                       "Для прогноза нужна история хотя бы за сутки");
}

UsageChart::UsageChart(QWidget* parent) : QWidget(parent) {
    setAutoFillBackground(false);
    setFocusPolicy(Qt::NoFocus);
}

void UsageChart::SetData(const std::vector<UsageRecord>& records, int64_t start, int64_t end) {
    start_ = start;
    end_ = std::max(end, start + 1);
    points_.clear();
    // The line just before the window gives the value at its left edge.
    const auto first = std::lower_bound(records.begin(), records.end(), start,
                                        [](const UsageRecord& r, int64_t t) { return r.time < t; });
    if (first != records.begin()) {
        UsageRecord edge = *(first - 1);
        edge.time = start;
        points_.push_back(edge);
    }
    for (auto it = first; it != records.end() && it->time <= end_; ++it) points_.push_back(*it);

    QString summary = QCoreApplication::translate("UsageWindow", "Нет данных за последние 30 дней");
    if (!points_.empty()) {
        const auto [minB, maxB] = std::minmax_element(
            points_.begin(), points_.end(),
            [](const UsageRecord& a, const UsageRecord& b) { return a.balance < b.balance; });
        const auto [minR, maxR] = std::minmax_element(
            points_.begin(), points_.end(), [](const UsageRecord& a, const UsageRecord& b) {
                return a.remainingBytes < b.remainingBytes;
            });
        summary =
            QCoreApplication::translate(
                "UsageWindow",
                "Баланс от %1 до %2, сейчас %3; остаток трафика от %4 до %5 МБ, сейчас %6 МБ")
                .arg(Money(minB->balance), Money(maxB->balance), Money(points_.back().balance),
                     QString::fromStdString(FormatMegabytes(minR->remainingBytes)),
                     QString::fromStdString(FormatMegabytes(maxR->remainingBytes)),
                     QString::fromStdString(FormatMegabytes(points_.back().remainingBytes)));
    }
    setAccessibleDescription(summary);
    update();
}

void UsageChart::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(rect(), Qt::white);
    p.setPen(QColor(120, 120, 120));
    p.drawRect(rect().adjusted(0, 0, -1, -1));

    const QFontMetrics fm(font());
    const int side = fm.horizontalAdvance(QStringLiteral("-0000000.000")) + 6;
    const QRectF plot(side, fm.height() * 1.6, width() - 2 * side, height() - fm.height() * 3.2);
    const auto x = [&](int64_t t) {
        return plot.left() + static_cast<double>(t - start_) / (end_ - start_) * plot.width();
    };

    // The legend above the plot.
    const QString balanceName = QCoreApplication::translate("UsageWindow", "Баланс");
    const QString trafficName = QCoreApplication::translate("UsageWindow", "Остаток трафика, МБ");
    int lx = static_cast<int>(plot.left());
    const int ly = fm.height();
    for (const auto& [name, colour] :
         {std::pair<QString, QColor>(balanceName, kBalanceColour), {trafficName, kTrafficColour}}) {
        p.setPen(QPen(colour, 2));
        p.drawLine(lx, ly - fm.ascent() / 3, lx + 14, ly - fm.ascent() / 3);
        p.setPen(Qt::black);
        p.drawText(lx + 18, ly, name);
        lx += 18 + fm.horizontalAdvance(name) + 16;
    }

    // Days: a light line at each local midnight, a date under every fifth.
    const LocalDate last = LocalDateOf(end_);
    for (int64_t k = 0; k <= kChartDays; ++k) {
        const LocalDate day = last.AddDays(-k);
        const int64_t t = day.Start();
        if (t < start_ || t > end_) continue;
        p.setPen(QColor(228, 228, 228));
        p.drawLine(QPointF(x(t), plot.top()), QPointF(x(t), plot.bottom()));
        if (k % 5 == 0) {
            p.setPen(Qt::black);
            const QString label =
                QDate(day.year, day.month, day.day)
                    .toString(QCoreApplication::translate("UsageWindow", "dd.MM"));
            p.drawText(QRectF(x(t) - 40, plot.bottom() + 2, 80, fm.height()), Qt::AlignHCenter,
                       label);
        }
    }
    p.setPen(QColor(160, 160, 160));
    p.drawRect(plot);

    if (points_.empty()) {
        p.setPen(Qt::black);
        p.drawText(plot, Qt::AlignCenter,
                   QCoreApplication::translate("UsageWindow", "Нет данных за последние 30 дней"));
        return;
    }
    Scale money, traffic;
    {
        int64_t lo = points_.front().balance, hi = lo, rlo = points_.front().remainingBytes,
                rhi = rlo;
        for (const UsageRecord& r : points_) {
            lo = std::min<int64_t>(lo, r.balance);
            hi = std::max<int64_t>(hi, r.balance);
            rlo = std::min(rlo, r.remainingBytes);
            rhi = std::max(rhi, r.remainingBytes);
        }
        money.Fit(lo / 1000.0, hi / 1000.0);
        traffic.Fit(rlo / 1048576.0, rhi / 1048576.0);
    }
    // Four values on each scale: money at the left, megabytes at the right.
    for (int i = 0; i <= 4; ++i) {
        const double y = plot.top() + plot.height() * i / 4;
        const double mv = money.high - (money.high - money.low) * i / 4;
        const double tv = traffic.high - (traffic.high - traffic.low) * i / 4;
        p.setPen(QColor(236, 236, 236));
        if (i > 0 && i < 4) p.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
        p.setPen(kBalanceColour);
        p.drawText(QRectF(0, y - fm.height() / 2.0, side - 4, fm.height()),
                   Qt::AlignRight | Qt::AlignVCenter, QString::number(mv, 'f', 2));
        p.setPen(kTrafficColour);
        p.drawText(QRectF(plot.right() + 4, y - fm.height() / 2.0, side - 4, fm.height()),
                   Qt::AlignLeft | Qt::AlignVCenter, QString::number(tv, 'f', 0));
    }

    // The values hold from one reply to the next: steps, to now.
    const auto steps = [&](auto value, const Scale& scale) {
        QPainterPath path;
        for (size_t i = 0; i < points_.size(); ++i) {
            const QPointF at(x(points_[i].time),
                             scale.At(value(points_[i]), plot.top(), plot.bottom()));
            if (i == 0) {
                path.moveTo(at);
            } else {
                path.lineTo(at.x(), path.currentPosition().y());
                path.lineTo(at);
            }
        }
        path.lineTo(x(end_), path.currentPosition().y());
        return path;
    };
    p.setClipRect(plot.adjusted(-1, -1, 1, 1));
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(kTrafficColour, 2, Qt::DashLine));
    p.drawPath(steps([](const UsageRecord& r) { return r.remainingBytes / 1048576.0; }, traffic));
    p.setPen(QPen(kBalanceColour, 2));
    p.drawPath(steps([](const UsageRecord& r) { return r.balance / 1000.0; }, money));
}

UsageWindow::UsageWindow(QWidget* parent) : QDialog(parent) {
    setWindowTitle(tr("История баланса"));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFont(DialogUnits::TemplateFont());
    const DialogUnits du(font());
    setFixedSize(du.Size(320, 232));

    chart = new UsageChart(this);
    chart->setGeometry(du.Rect(7, 7, 306, 150));
    chart->setAccessibleName(tr("График баланса и остатка трафика за 30 дней"));

    forecastLabel = new QLabel(this);
    forecastLabel->setGeometry(du.Rect(7, 162, 306, 10));
    forecastLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* thresholdLabel = new QLabel(tr("Предупредить, когда на счету меньше"), this);
    thresholdLabel->setGeometry(du.Rect(7, 182, 150, 8));
    thresholdEdit = new QLineEdit(this);
    thresholdEdit->setGeometry(du.Rect(160, 179, 60, 14));
    thresholdEdit->setMaxLength(31);  // a value of brin.ini holds 31 characters
    thresholdEdit->setAccessibleName(tr("Предупредить, когда на счету меньше"));
    thresholdEdit->setAccessibleDescription(tr("Сумма; пустое поле: не предупреждать"));
    thresholdEdit->setPlaceholderText(tr("не предупреждать"));
    thresholdLabel->setBuddy(thresholdEdit);

    thresholdError = new QLabel(this);
    thresholdError->setGeometry(du.Rect(160, 195, 153, 8));
    QPalette red = thresholdError->palette();
    red.setColor(QPalette::WindowText, QColor(180, 0, 0));
    thresholdError->setPalette(red);

    okButton = new QPushButton(QStringLiteral("OK"), this);
    okButton->setGeometry(du.Rect(200, 211, 54, 14));
    okButton->setAutoDefault(false);
    okButton->setDefault(true);  // Enter in the field takes it
    cancelButton = new QPushButton(tr("Отмена"), this);
    cancelButton->setGeometry(du.Rect(259, 211, 54, 14));
    cancelButton->setAutoDefault(false);
    connect(okButton, &QPushButton::clicked, this, &UsageWindow::accept);
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(thresholdEdit, &QLineEdit::textEdited, thresholdError, &QLabel::clear);

    setTabOrder(thresholdEdit, okButton);
    setTabOrder(okButton, cancelButton);
}

void UsageWindow::Refresh(const UsageWatch& watch, int32_t now) {
    const int64_t end = UsageWatch::Seconds(now);
    chart->SetData(watch.Log().Records(), end - kChartDays * 86400, end);
    forecastLabel->setText(ForecastText(watch.CurrentForecast(now)));
    forecastLabel->setAccessibleName(tr("Прогноз"));
    forecastLabel->setAccessibleDescription(forecastLabel->text());
}

void UsageWindow::SetThresholdText(const QString& text) {
    thresholdEdit->setText(text);
    thresholdError->clear();
}

void UsageWindow::accept() {
    const QString text = thresholdEdit->text().trimmed();
    int32_t value = 0;
    if (!text.isEmpty() && !ParseMoney(text.toStdString(), &value)) {
        thresholdError->setText(tr("Введите сумму, например 100 или 99.50"));
        thresholdEdit->setFocus();
        thresholdEdit->selectAll();
        return;
    }
    // Stored as the window shows money: "100.000".
    const QString stored = text.isEmpty() ? QString() : QString::fromStdString(FormatMoney(value));
    emit ThresholdAccepted(stored, !text.isEmpty(), value);
    QDialog::accept();
}
