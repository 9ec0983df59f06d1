#pragma once

#include <QLabel>

namespace varnel {

// A label that shows a long text shortened in the middle with an ellipsis, so both the start
// of a path and its file name stay visible. text() keeps the whole text; so does the tooltip.
//
// GUI thread only.
class ElidedLabel : public QLabel
{
    Q_OBJECT
public:
    explicit ElidedLabel(QWidget* parent = nullptr);

    // The whole text, shown shortened when it does not fit.
    void SetFullText(const QString& text);

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace varnel
