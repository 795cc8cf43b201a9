#pragma once

#include <QLayout>
#include <QList>

#include <utility>

// Lays its items out left to right and starts a new line where the next one would not fit,
// so that a narrow window wraps a row of controls instead of cutting their labels.
class FlowLayout : public QLayout {
public:
    explicit FlowLayout(QWidget* parent = nullptr, int horizontalSpacing = 8,
                        int verticalSpacing = 6);
    ~FlowLayout() override;

    void addItem(QLayoutItem* item) override;
    int count() const override;
    QLayoutItem* itemAt(int index) const override;
    QLayoutItem* takeAt(int index) override;
    Qt::Orientations expandingDirections() const override;
    bool hasHeightForWidth() const override;
    int heightForWidth(int width) const override;
    QSize minimumSize() const override;
    QSize sizeHint() const override;
    void setGeometry(const QRect& rect) override;

private:
    // Places the items (or only measures, when apply is false); the height used.
    int _layOut(const QRect& rect, bool apply) const;

    QList<QLayoutItem*> _items;
    int _horizontalSpacing;
    int _verticalSpacing;
};
