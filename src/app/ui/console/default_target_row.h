#pragma once

#include <QWidget>

#include <optional>

#include "core/supported_format.h"

namespace calvoro {

class ConversionViewModel;
class ValueChip;

// One kind of file on the "Defaults" page: its icon and name, and a menu of the formats new
// files of that kind get, with Auto first.
class DefaultTargetRow : public QWidget {
    Q_OBJECT
public:
    DefaultTargetRow(ConversionViewModel& viewModel, FileCategory category, QWidget* parent = nullptr);

    // The format Auto stands for, for display only.
    static std::optional<SupportedFormat> autoResolved(FileCategory category);
    static QString label(FileCategory category);
    std::optional<SupportedFormat> selection() const;
    void setSelection(std::optional<SupportedFormat> format);
    QString shownText() const;
    ValueChip* picker() const { return picker_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void refresh();
    QString autoText() const;

    ConversionViewModel& viewModel_;
    FileCategory category_;
    ValueChip* picker_;
};

}  // namespace calvoro
