// Renders one SVG drawing into an opaque 24-bit PNG of an exact size; with --alpha into a PNG that
// keeps the drawing's transparency (icons for a Qt without its SVG module).
// Usage: svg2png [--alpha] INPUT.svg OUTPUT.png WIDTH HEIGHT
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <QTextStream>

int main(int argc, char* argv[])
{
    QGuiApplication app(argc, argv);
    QTextStream err(stderr);
    QStringList args = QGuiApplication::arguments();
    const bool alpha = args.size() > 1 && args.at(1) == QLatin1String("--alpha");
    if (alpha)
        args.removeAt(1);
    if (args.size() != 5) {
        err << "usage: svg2png [--alpha] INPUT.svg OUTPUT.png WIDTH HEIGHT\n";
        return 2;
    }
    const QString input = args.at(1);
    const QString output = args.at(2);
    bool widthOk = false;
    bool heightOk = false;
    const int width = args.at(3).toInt(&widthOk);
    const int height = args.at(4).toInt(&heightOk);
    if (!widthOk || !heightOk || width <= 0 || height <= 0) {
        err << output << ": the size must be two positive whole numbers\n";
        return 2;
    }

    QSvgRenderer renderer(input);
    if (!renderer.isValid()) {
        err << input << ": not a drawing the SVG renderer can read\n";
        return 1;
    }

    // The skin bitmaps have no transparency; white shows where a drawing leaves a gap.
    QImage image(width, height, alpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB888);
    image.fill(alpha ? Qt::transparent : Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter, QRectF(0, 0, width, height));
    painter.end();

    if (!image.save(output, "PNG")) {
        err << output << ": cannot write the PNG file\n";
        return 1;
    }
    return 0;
}
