// The compiled-in images: every icon size present, the tray colours not swapped, the logo's size.
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QtTest>

#include "ui/Resources.h"

class ResourcesTest : public QObject {
    Q_OBJECT

private slots:
    void icons_data();
    void icons();
    void logo();
};

void ResourcesTest::icons_data() {
    QTest::addColumn<int>("id");
    QTest::addColumn<QPoint>("probe");  // a pixel (on the 16 x 16 grid) of the main colour
    QTest::addColumn<QColor>("colour");

    QTest::newRow("129 connected: green") << 129 << QPoint(2, 13) << QColor(0x36, 0xb2, 0x4a);
    QTest::newRow("130 disconnected: red") << 130 << QPoint(2, 13) << QColor(0xe2, 0x3b, 0x32);
    QTest::newRow("133 window: yellow sun") << 133 << QPoint(9, 9) << QColor(0xff, 0xd8, 0x3a);
}

void ResourcesTest::icons() {
    QFETCH(int, id);
    QFETCH(QPoint, probe);
    QFETCH(QColor, colour);

    const QIcon icon = BrinIcon(id);
    QVERIFY(!icon.isNull());
    for (int size : {16, 32, 48, 64, 128, 256}) {
        QVERIFY2(icon.availableSizes().contains(QSize(size, size)), qPrintable(QString::number(size)));
        const QImage image = icon.pixmap(QSize(size, size), 1.0).toImage();
        QCOMPARE(image.size(), QSize(size, size));
        const QColor seen = image.pixelColor(probe * (size / 16));
        QVERIFY2(qAbs(seen.red() - colour.red()) < 24 && qAbs(seen.green() - colour.green()) < 24 &&
                     qAbs(seen.blue() - colour.blue()) < 24,
                 qPrintable(QStringLiteral("%1 px: %2").arg(size).arg(seen.name())));
    }
    QVERIFY(BrinIcon(131).isNull());
}

void ResourcesTest::logo() {
    const QPixmap logo = BrinLogo();
    QVERIFY(!logo.isNull());
    QCOMPARE(logo.deviceIndependentSize().toSize(), QSize(220, 56));
}

QTEST_MAIN(ResourcesTest)
#include "ResourcesTest.moc"
