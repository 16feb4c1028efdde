// Icons and the logo from the compiled-in resource file res/brin.qrc.
#include "ui/Resources.h"

#include <QGuiApplication>
#include <QIconEngine>
#include <QPainter>
#include <QString>
#include <algorithm>
#include <iterator>

static void InitBrinResources() {
    // The resource file lives in a static library: its registration must be pulled in by name.
    static const bool done = [] {
        Q_INIT_RESOURCE(brin);
        return true;
    }();
    (void)done;
}

namespace {

constexpr int kIconSizes[] = {16, 32, 48, 64, 128, 256};

// The rendered sizes of one icon, each PNG read the first time a size needs it. QIcon::addFile
// reads every file at once: 15 % of the window's start went into decoding the 18 files, most
// of it the 256-pixel ones, which the tray never shows.
class IconFiles : public QIconEngine {
public:
    explicit IconFiles(int id) : id_(id) {}
    QIconEngine* clone() const override { return new IconFiles(*this); }
    QString key() const override { return QStringLiteral("IconFiles"); }

    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override {
        QList<QSize> sizes;
        for (int size : kIconSizes) sizes.append(QSize(size, size));
        return sizes;
    }
    QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override {
        const int side = std::min(std::min(size.width(), size.height()), kIconSizes[5]);
        return QSize(side, side);
    }
    // The smallest file at least as large as asked for (else the largest), scaled down to fit.
    QPixmap pixmap(const QSize& size, QIcon::Mode, QIcon::State) override {
        const int side = std::min(size.width(), size.height());
        if (side <= 0) return QPixmap();
        size_t i = 0;
        while (i + 1 < std::size(kIconSizes) && kIconSizes[i] < side) ++i;
        if (files_[i].isNull())
            files_[i].load(QStringLiteral(":/brin/png/icon%1_%2.png").arg(id_).arg(kIconSizes[i]));
        if (files_[i].width() == side) return files_[i];
        return files_[i].scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    }
    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override {
        const qreal ratio = painter->device() != nullptr ? painter->device()->devicePixelRatioF() : 1.0;
        painter->drawPixmap(rect, pixmap(rect.size() * ratio, mode, state));
    }

private:
    int id_;
    QPixmap files_[std::size(kIconSizes)];
};

}  // namespace

QIcon BrinIcon(int id) {
    if (id != 129 && id != 130 && id != 133) return QIcon();
    InitBrinResources();
    return QIcon(new IconFiles(id));
}

QPixmap BrinLogo() {
    InitBrinResources();
    const qreal ratio = qApp != nullptr ? qApp->devicePixelRatio() : 1.0;
    if (ratio > 1.0) {
        QPixmap sharp(QStringLiteral(":/brin/png/logo139@2x.png"));
        sharp.setDevicePixelRatio(2.0);
        return sharp;
    }
    return QPixmap(QStringLiteral(":/brin/png/logo139.png"));
}
