#pragma once

#include <QFileDialog>
#include <QSize>

#include <functional>

class QSpinBox;

// File → Save Image: where, in which format (the chosen filter's, unless the name says
// another) and at what size in pixels (the view's own at first).
class SaveImageDialog : public QFileDialog {
    Q_OBJECT
public:
    SaveImageDialog(QWidget* parent, const QString& caption, const QString& suggestedPath,
                    QSize size);

    void setImageSize(QSize size);
    QSize imageSize() const;
    // The file to write, once accepted: the name typed, with the chosen filter's extension
    // when it has none the filters know.
    QString chosenPath() const;
    // Asks where and at what size, then writes with `write`; a failure is shown over `parent`
    // as `failure` and why.
    using Write = std::function<bool(const QString& path, QSize size, QString* why)>;
    static void ask(QWidget* parent, const QString& caption, const QString& suggestedPath,
                    QSize size, const QString& failure, const Write& write);

protected:
    void accept() override;

private:
    void useFilterSuffix();

    QSpinBox* width_;
    QSpinBox* height_;
};
