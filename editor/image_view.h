// A picture on a keyboard page, shown from a named image of the application.
// Key buttons read the image name to learn their keyboard type.
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

private:
    QString imageName_;
};
