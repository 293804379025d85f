#include "editor/image_view.h"

#include "editor/named_images.h"

ImageView::ImageView(QWidget* parent) : QLabel(parent) {
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

void ImageView::setImageName(const QString& name) {
    imageName_ = name;
    loaded_ = false;
    if (isVisible()) loadImage();
}

void ImageView::showEvent(QShowEvent* event) {
    if (!loaded_) loadImage();
    QLabel::showEvent(event);
}

void ImageView::loadImage() {
    setPixmap(vexa::imageNamed(imageName_).pixmap);
    loaded_ = true;
}
