// Build-time tool: draws the editor's key cap sheets and keyboard pictures
// into PNG files and writes the four pages' interface files, all from the
// one layout table.
//
//   vexa_artwork <output folder>
#include <cstdio>

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>

#include "editor/artwork/artwork.h"

namespace {

bool save(const QImage& image, const QString& path) {
    if (image.save(path, "PNG")) return true;
    std::fprintf(stderr, "vexa_artwork: cannot write %s\n", qPrintable(path));
    return false;
}

bool saveText(const QString& text, const QString& path) {
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text.toUtf8()) >= 0 && file.flush())
        return true;
    std::fprintf(stderr, "vexa_artwork: cannot write %s: %s\n", qPrintable(path), qPrintable(file.errorString()));
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    // Text needs the font database, which needs a GUI application; the
    // offscreen platform is enough.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: vexa_artwork <output folder>\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    if (!out.exists() && !QDir().mkpath(out.path())) {
        std::fprintf(stderr, "vexa_artwork: cannot create %s\n", argv[1]);
        return 1;
    }
    bool ok = save(vexa::artwork::drawKeycapSheet(vexa::layout::Board::Ansi), out.filePath("keytop_ansi.png"));
    ok = save(vexa::artwork::drawKeycapSheet(vexa::layout::Board::Jis), out.filePath("keytop_jis.png")) && ok;
    for (const vexa::layout::PageSpec& page : vexa::layout::pages()) {
        const QString picture = QString::fromLatin1(page.pictureName.data(), page.pictureName.size());
        const QString label = QString::fromLatin1(page.label.data(), page.label.size());
        ok = save(vexa::artwork::drawKeyboardPicture(page), out.filePath(picture + ".png")) && ok;
        ok = saveText(vexa::artwork::pageInterface(page), out.filePath("page_" + label + ".ui")) && ok;
    }
    return ok ? 0 : 1;
}
