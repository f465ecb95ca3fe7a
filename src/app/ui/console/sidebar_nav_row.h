#pragma once

#include <optional>
#include <string>

#include "app/ui/controls/hover_button.h"
#include "app/ui/theme/numeric_text_transition.h"
#include "core/supported_format.h"

namespace calvoro {

class ConversionViewModel;

// One library row of the sidebar: a category (or all files) with its job count; choosing it
// filters the job list. The chosen row is filled with the accent, which fades across when another
// row is chosen; the count rolls when it changes.
class SidebarNavRow : public HoverButton {
    Q_OBJECT
public:
    SidebarNavRow(ConversionViewModel& viewModel, const QString& label, std::optional<FileCategory> category,
                  QWidget* parent = nullptr);

    bool isSelected() const;
    QString countText() const;
    std::optional<FileCategory> category() const { return category_; }
    // The colour of the symbol and label, and of the count, as drawn now.
    QColor foregroundColor() const;
    QColor countColor() const;
    QColor backgroundColor() const;
    // 1 while chosen, 0 otherwise; in between as the accent fill fades across.
    double selectionProgress() const { return selection_.value(); }
    const NumericTextTransition& countTransition() const { return count_; }

    static constexpr int rowHeight = 36;

    QSize sizeHint() const override { return {214, rowHeight}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    ConversionViewModel& viewModel_;
    SpringValue selection_;
    NumericTextTransition count_;
    std::optional<FileCategory> category_;
    std::string symbol_;
};

}  // namespace calvoro
