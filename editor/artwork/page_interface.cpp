#include <cmath>

#include <QXmlStreamWriter>

#include "editor/artwork/artwork.h"

namespace vexa::artwork {
namespace {

void writeRect(QXmlStreamWriter& xml, double x, double y, double width, double height) {
    xml.writeStartElement(QStringLiteral("property"));
    xml.writeAttribute(QStringLiteral("name"), QStringLiteral("geometry"));
    xml.writeStartElement(QStringLiteral("rect"));
    xml.writeTextElement(QStringLiteral("x"), QString::number(std::lround(x)));
    xml.writeTextElement(QStringLiteral("y"), QString::number(std::lround(y)));
    xml.writeTextElement(QStringLiteral("width"), QString::number(std::lround(width)));
    xml.writeTextElement(QStringLiteral("height"), QString::number(std::lround(height)));
    xml.writeEndElement();
    xml.writeEndElement();
}

void writeSizeProperty(QXmlStreamWriter& xml, const char* name, double width, double height) {
    xml.writeStartElement(QStringLiteral("property"));
    xml.writeAttribute(QStringLiteral("name"), QString::fromLatin1(name));
    xml.writeStartElement(QStringLiteral("size"));
    xml.writeTextElement(QStringLiteral("width"), QString::number(std::lround(width)));
    xml.writeTextElement(QStringLiteral("height"), QString::number(std::lround(height)));
    xml.writeEndElement();
    xml.writeEndElement();
}

void writeStringProperty(QXmlStreamWriter& xml, const char* name, const QString& value) {
    xml.writeStartElement(QStringLiteral("property"));
    xml.writeAttribute(QStringLiteral("name"), QString::fromLatin1(name));
    xml.writeStartElement(QStringLiteral("string"));
    xml.writeAttribute(QStringLiteral("notr"), QStringLiteral("true"));
    xml.writeCharacters(value);
    xml.writeEndElement();
    xml.writeEndElement();
}

void writeCustomWidget(QXmlStreamWriter& xml, const char* name, const char* base, const char* header) {
    xml.writeStartElement(QStringLiteral("customwidget"));
    xml.writeTextElement(QStringLiteral("class"), QString::fromLatin1(name));
    xml.writeTextElement(QStringLiteral("extends"), QString::fromLatin1(base));
    xml.writeTextElement(QStringLiteral("header"), QString::fromLatin1(header));
    xml.writeEndElement();
}

}  // namespace

QString pageInterface(const layout::PageSpec& page) {
    QString text;
    QXmlStreamWriter xml(&text);
    xml.setAutoFormatting(true);
    xml.setAutoFormattingIndent(1);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("ui"));
    xml.writeAttribute(QStringLiteral("version"), QStringLiteral("4.0"));
    xml.writeTextElement(QStringLiteral("class"), QString::fromLatin1(page.uiClass.data(), page.uiClass.size()));

    xml.writeStartElement(QStringLiteral("widget"));
    xml.writeAttribute(QStringLiteral("class"), QStringLiteral("QWidget"));
    xml.writeAttribute(QStringLiteral("name"), QString::fromLatin1(page.label.data(), page.label.size()));
    writeRect(xml, 0, 0, layout::kPageWidth, layout::kPageHeight);
    writeSizeProperty(xml, "minimumSize", layout::kPageWidth, layout::kPageHeight);

    // Stacking follows the order: picture at the back, the cap markers above
    // it, the key buttons in front of their markers.
    xml.writeStartElement(QStringLiteral("widget"));
    xml.writeAttribute(QStringLiteral("class"), QStringLiteral("ImageView"));
    xml.writeAttribute(QStringLiteral("name"), QStringLiteral("picture"));
    writeRect(xml, 0, 0, layout::kPageWidth, layout::kPageHeight);
    writeStringProperty(xml, "imageName", QString::fromLatin1(page.pictureName.data(), page.pictureName.size()));
    xml.writeEndElement();

    const std::vector<layout::PlacedKey> keys = layout::placeKeys(page);
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (!keys[i].assignable) continue;
        xml.writeStartElement(QStringLiteral("widget"));
        xml.writeAttribute(QStringLiteral("class"), QStringLiteral("QWidget"));
        xml.writeAttribute(QStringLiteral("name"), QStringLiteral("cap_%1").arg(i, 2, 10, QLatin1Char('0')));
        writeRect(xml, keys[i].capX, keys[i].capY, layout::kCapWidth, layout::kCapHeight);
        xml.writeEndElement();
    }
    for (std::size_t i = 0; i < keys.size(); ++i) {
        xml.writeStartElement(QStringLiteral("widget"));
        xml.writeAttribute(QStringLiteral("class"), QStringLiteral("KeyButtonClass"));
        xml.writeAttribute(QStringLiteral("name"), QStringLiteral("key_%1").arg(i, 2, 10, QLatin1Char('0')));
        writeRect(xml, keys[i].x, keys[i].y, keys[i].width, keys[i].height);
        writeStringProperty(xml, "text", QStringLiteral("%1").arg(keys[i].code, 2, 16, QLatin1Char('0')).toUpper());
        xml.writeEndElement();
    }
    xml.writeEndElement();  // widget

    xml.writeStartElement(QStringLiteral("customwidgets"));
    writeCustomWidget(xml, "KeyButtonClass", "QPushButton", "editor/key_button.h");
    writeCustomWidget(xml, "ImageView", "QLabel", "editor/image_view.h");
    xml.writeEndElement();
    xml.writeEmptyElement(QStringLiteral("resources"));
    xml.writeEmptyElement(QStringLiteral("connections"));
    xml.writeEndElement();  // ui
    xml.writeEndDocument();
    return text;
}

}  // namespace vexa::artwork
