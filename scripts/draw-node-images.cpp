// Draws the three node images of the note group tree (16 x 16 PNG) into the folder given.
// Build by hand: g++ -std=c++17 -fPIC draw-node-images.cpp $(pkg-config --cflags --libs Qt6Gui)
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

static QImage Canvas() {
    QImage image(16, 16, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    return image;
}

// Root: a closed notebook with a spine and page edges.
static QImage Root() {
    QImage image = Canvas();
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(20, 50, 110), 1));
    p.setBrush(QColor(245, 245, 235));
    p.drawRoundedRect(QRectF(3.5, 1.5, 11, 13), 1.5, 1.5); // pages
    p.setBrush(QColor(45, 95, 180));
    p.drawRoundedRect(QRectF(2.5, 1.5, 10, 13), 1.5, 1.5); // cover
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(25, 60, 130));
    p.drawRect(QRectF(3, 2, 2, 12)); // spine
    p.setBrush(QColor(255, 215, 80));
    p.drawRect(QRectF(7, 5, 4, 2)); // label
    return image;
}

static void Folder(QPainter& p, const QColor& back, const QColor& front, bool open) {
    p.setRenderHint(QPainter::Antialiasing);
    const QColor edge(150, 100, 20);
    p.setPen(QPen(edge, 1));
    p.setBrush(back);
    QPainterPath tab;
    tab.moveTo(1.5, 13.5);
    tab.lineTo(1.5, 3.5);
    tab.lineTo(6.0, 3.5);
    tab.lineTo(7.5, 5.0);
    tab.lineTo(14.5, 5.0);
    tab.lineTo(14.5, 13.5);
    tab.closeSubpath();
    p.drawPath(tab);
    if (open) {
        p.setBrush(Qt::white);
        p.setPen(QPen(QColor(160, 160, 160), 1));
        p.drawRect(QRectF(3.5, 2.5, 9, 8));
        p.setPen(QPen(edge, 1));
        p.setBrush(front);
        QPainterPath flap;
        flap.moveTo(1.5, 13.5);
        flap.lineTo(3.5, 7.5);
        flap.lineTo(15.5, 7.5);
        flap.lineTo(13.5, 13.5);
        flap.closeSubpath();
        p.drawPath(flap);
    } else {
        p.setBrush(front);
        p.drawRect(QRectF(1.5, 6.5, 13, 7));
    }
}

static QImage Group(bool selected) {
    QImage image = Canvas();
    QPainter p(&image);
    if (selected)
        Folder(p, QColor(235, 180, 60), QColor(255, 220, 110), true);
    else
        Folder(p, QColor(220, 165, 50), QColor(245, 200, 85), false);
    return image;
}

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    const bool ok = Root().save(folder + "/root.png") && Group(false).save(folder + "/group.png") &&
                    Group(true).save(folder + "/group-selected.png");
    return ok ? 0 : 1;
}
