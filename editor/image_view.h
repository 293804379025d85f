// A picture on a keyboard page, shown from a named image of the application.
// Key buttons read the image name to learn their keyboard type. The image is
// decoded when the picture is first shown: the pages not shown at start
// cost nothing to decode.
#pragma once

#include <QLabel>
#include <QString>

class ImageView : public QLabel {
    Q_OBJECT
    Q_PROPERTY(QString imageName READ imageName WRITE setImageName)

public:
    explicit ImageView(QWidget* parent = nullptr);

    QString imageName() const { return imageName_; }
    void setImageName(const QString& name);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void loadImage();

    QString imageName_;
    bool loaded_ = false;
};
