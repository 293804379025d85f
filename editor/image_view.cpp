#include "editor/image_view.h"

#include "editor/named_images.h"

ImageView::ImageView(QWidget* parent) : QLabel(parent) {
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

void ImageView::setImageName(const QString& name) {
    imageName_ = name;
    setPixmap(vexa::imageNamed(name).pixmap);
}
