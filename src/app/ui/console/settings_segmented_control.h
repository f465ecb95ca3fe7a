#pragma once

#include <QWidget>

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "app/ui/theme/spring.h"

namespace calvoro {

// The settings popover's categories, in the switcher's order.
enum class SettingsCategory { appearance, conversion, defaults, files };

const std::array<SettingsCategory, 4>& allSettingsCategories();
// "Appearance", "Conversion", "Defaults", "Files".
std::string rawValue(SettingsCategory category);
std::optional<SettingsCategory> settingsCategoryFromRawValue(std::string_view raw);
std::string symbolName(SettingsCategory category);

// The category switcher: four equal segments on a track, the chosen one on a raised pill that
// slides to a newly chosen segment.
class SettingsSegmentedControl : public QWidget {
    Q_OBJECT
public:
    explicit SettingsSegmentedControl(SettingsCategory selection, QWidget* parent = nullptr);

    SettingsCategory selection() const { return selection_; }
    void setSelection(SettingsCategory category);
    std::optional<SettingsCategory> hovered() const { return hovered_; }
    QRectF segmentRect(SettingsCategory category) const;

    QSize sizeHint() const override { return {548, 40}; }

signals:
    void selectionChanged(SettingsCategory category);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    std::optional<SettingsCategory> categoryAt(const QPointF& point) const;

    SettingsCategory selection_;
    std::optional<SettingsCategory> hovered_;
    // The pill's position, in segments from the first.
    SpringValue pill_;
};

}  // namespace calvoro
