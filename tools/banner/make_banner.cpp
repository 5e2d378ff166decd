// Draws the join dialog's banner: 1200 x 250, 8-bit RGBA, shown at half size (600 x 125) so that it
// stays sharp on 200 % displays. Run: make_banner ui/images/cip_banner.png
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QtMath>

#include <cstdio>

namespace
{
void drawBackground(QPainter& p, const QRectF& r)
{
    QLinearGradient sky(r.topLeft(), r.bottomRight());
    sky.setColorAt(0.0, QColor(10, 38, 71));
    sky.setColorAt(0.55, QColor(16, 78, 120));
    sky.setColorAt(1.0, QColor(22, 128, 150));
    p.fillRect(r, sky);

    QRadialGradient glow(QPointF(r.width() * 0.82, r.height() * 0.35), r.width() * 0.45);
    glow.setColorAt(0.0, QColor(120, 220, 230, 90));
    glow.setColorAt(1.0, QColor(120, 220, 230, 0));
    p.fillRect(r, glow);

    // A faint drafting grid, as on a drawing sheet.
    p.setPen(QPen(QColor(255, 255, 255, 18), 1.0));
    for (qreal x = 0; x < r.width(); x += 25)
        p.drawLine(QPointF(x, 0), QPointF(x, r.height()));
    for (qreal y = 0; y < r.height(); y += 25)
        p.drawLine(QPointF(0, y), QPointF(r.width(), y));
}

// An isometric wireframe part on the right: a block with a bored hole, drawn like a CAD view.
void drawPart(QPainter& p)
{
    const QPointF o(1010, 120);
    const qreal a = qDegreesToRadians(30.0);
    auto iso = [&](qreal x, qreal y, qreal z)
    { return QPointF(o.x() + (x - y) * qCos(a), o.y() + (x + y) * qSin(a) - z); };
    const qreal w = 130, d = 95, h = 62;
    QPainterPath top, front, side;
    top.moveTo(iso(0, 0, h));
    top.lineTo(iso(w, 0, h));
    top.lineTo(iso(w, d, h));
    top.lineTo(iso(0, d, h));
    top.closeSubpath();
    side.moveTo(iso(w, 0, h));
    side.lineTo(iso(w, d, h));
    side.lineTo(iso(w, d, 0));
    side.lineTo(iso(w, 0, 0));
    side.closeSubpath();
    front.moveTo(iso(0, d, h));
    front.lineTo(iso(w, d, h));
    front.lineTo(iso(w, d, 0));
    front.lineTo(iso(0, d, 0));
    front.closeSubpath();

    p.setPen(QPen(QColor(170, 240, 255, 230), 2.2));
    p.setBrush(QColor(255, 255, 255, 40));
    p.drawPath(top);
    p.setBrush(QColor(255, 255, 255, 22));
    p.drawPath(side);
    p.setBrush(QColor(255, 255, 255, 12));
    p.drawPath(front);

    // The bore: an ellipse on the top face.
    QPainterPath bore;
    for (int i = 0; i <= 72; ++i)
    {
        const qreal t = i * 2 * M_PI / 72;
        const QPointF pt = iso(w / 2 + 27 * qCos(t), d / 2 + 27 * qSin(t), h);
        i ? bore.lineTo(pt) : bore.moveTo(pt);
    }
    p.setBrush(QColor(6, 30, 56, 150));
    p.drawPath(bore);

    // Dimension line with arrows above the part.
    p.setPen(QPen(QColor(255, 210, 120, 220), 1.6));
    const QPointF d1 = iso(0, -28, h), d2 = iso(w, -28, h);
    p.drawLine(d1, d2);
    p.drawLine(iso(0, 0, h), iso(0, -34, h));
    p.drawLine(iso(w, 0, h), iso(w, -34, h));
    p.setFont(QFont(QStringLiteral("DejaVu Sans"), 13));
    p.drawText(QPointF((d1.x() + d2.x()) / 2 - 18, (d1.y() + d2.y()) / 2 - 10), QStringLiteral("130.00"));
}

void drawTitle(QPainter& p)
{
    // The mark: a ring with the initials.
    p.setPen(QPen(QColor(120, 230, 240), 6));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(110, 125), 58, 58);
    QFont mark(QStringLiteral("DejaVu Sans"), 42, QFont::Bold);
    p.setFont(mark);
    p.setPen(Qt::white);
    p.drawText(QRectF(52, 67, 116, 116), Qt::AlignCenter, QStringLiteral("Zn"));

    QFont title(QStringLiteral("DejaVu Sans"), 36, QFont::Bold);
    p.setFont(title);
    p.setPen(Qt::white);
    p.drawText(QPointF(205, 118), QStringLiteral("Customer Involvement"));
    p.drawText(QPointF(205, 170), QStringLiteral("Program"));

    QFont tagline(QStringLiteral("DejaVu Sans"), 17);
    p.setFont(tagline);
    p.setPen(QColor(190, 235, 245));
    p.drawText(QPointF(207, 212), QStringLiteral("Help us build the next release around the way you work."));
}
} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 2)
    {
        std::fprintf(stderr, "usage: make_banner OUTPUT.png\n");
        return 2;
    }
    QImage image(1200, 250, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    drawBackground(p, QRectF(image.rect()));
    drawPart(p);
    drawTitle(p);
    p.end();
    if (!image.save(QString::fromLocal8Bit(argv[1]), "PNG"))
    {
        std::fprintf(stderr, "make_banner: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
