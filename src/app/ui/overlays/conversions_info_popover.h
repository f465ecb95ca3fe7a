#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <vector>

#include "core/supported_format.h"
#include "core/uuid.h"

class QScrollArea;

namespace calvoro {

class ModalChrome;

// "What converts to what": one row per category on a card over a dark veil. A click on the veil
// or on the close button runs onDismiss.
class ConversionsInfoPopover : public QWidget {
    Q_OBJECT
public:
    struct Summary {
        Uuid id;
        FileCategory category;
        QString sentence;
    };

    explicit ConversionsInfoPopover(std::function<void()> onDismiss, QWidget* parent = nullptr);

    static constexpr int cardWidth = 460;
    static constexpr int cardHeight = 560;
    // A sentence as the rows break it into lines of width.
    static QStringList sentenceLines(const QString& sentence, double width);

    const std::vector<Summary>& summaries() const { return summaries_; }
    ModalChrome* card() const { return card_; }
    QWidget* closeButton() const { return close_; }
    QScrollArea* scrollArea() const { return scroll_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    class Rows;

    std::function<void()> onDismiss_;
    std::vector<Summary> summaries_;
    ModalChrome* card_;
    QWidget* close_;
    QScrollArea* scroll_;
};

}  // namespace calvoro
