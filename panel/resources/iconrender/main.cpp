// korvane_icon_render OUTDIR SOURCE.svg...: renders each icon source NNN.svg to OUTDIR/NNN.png
// (32 px) and OUTDIR/16/NNN.png (16 px). The sources are drawn on a 16-unit grid, so both sizes
// land on whole pixels. Runs during the build; exits 1 naming the first source it cannot render.

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSaveFile>
#include <QSvgRenderer>
#include <cstdio>

namespace {

/// The two sizes the panel shows icons at: list rows and title bars (16), window icons (32).
constexpr int kLargeIconPixels = 32;
constexpr int kSmallIconPixels = 16;

bool renderTo(QSvgRenderer& renderer, int pixels, const QString& path) {
  QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  {
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter, QRectF(0, 0, pixels, pixels));
  }
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly) || !image.save(&file, "PNG")) {
    return false;
  }
  return file.commit();
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  const QStringList args = app.arguments();
  if (args.size() < 3) {
    std::fprintf(stderr, "usage: korvane_icon_render OUTDIR SOURCE.svg...\n");
    return 1;
  }
  const QDir out(args[1]);
  if (!out.mkpath("16")) {
    std::fprintf(stderr, "korvane_icon_render: cannot create %s\n", qPrintable(out.path()));
    return 1;
  }
  for (qsizetype i = 2; i < args.size(); ++i) {
    QSvgRenderer renderer(args[i]);
    const QString number = QFileInfo(args[i]).completeBaseName();
    if (!renderer.isValid() ||
        !renderTo(renderer, kLargeIconPixels, out.filePath(number + ".png")) ||
        !renderTo(renderer, kSmallIconPixels, out.filePath("16/" + number + ".png"))) {
      std::fprintf(stderr, "korvane_icon_render: cannot render %s\n", qPrintable(args[i]));
      return 1;
    }
  }
  return 0;
}
