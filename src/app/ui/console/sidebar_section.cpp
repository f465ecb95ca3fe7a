#include "app/ui/console/sidebar_section.h"

#include <QResizeEvent>

#include <algorithm>
#include <cmath>

namespace calvoro {

namespace {
constexpr Spring sectionSpring{0.18, 1.0, 0};
}  // namespace

SidebarSection::SidebarSection(bool expanded, QWidget* parent)
    : QWidget(parent), expanded_(expanded), openness_(expanded ? 1.0 : 0.0) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    connect(&openness_, &SpringValue::valueChanged, this, &SidebarSection::apply);
    apply(openness_.value());
}

void SidebarSection::addRow(QWidget* row) {
    row->setParent(this);
    rows_.push_back(row);
    row->show();
    layoutRows();
    apply(openness_.value());
}

int SidebarSection::fullHeight() const {
    int height = 0;
    for (QWidget* row : rows_) height += row->height() + (height > 0 ? rowSpacing : 0);
    return height;
}

void SidebarSection::setExpanded(bool expanded) {
    if (expanded == expanded_) return;
    expanded_ = expanded;
    if (expanded) show();
    openness_.animateTo(expanded ? 1.0 : 0.0, sectionSpring);
}

void SidebarSection::apply(double openness) {
    // The layout around takes the rows' share of the gap above too, so a closed section leaves none.
    const int height = static_cast<int>(std::lround(fullHeight() * std::clamp(openness, 0.0, 1.0)));
    setFixedHeight(height);
    setVisible(expanded_ || height > 0);
    emit opennessChanged(openness);
}

void SidebarSection::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layoutRows();
}

void SidebarSection::layoutRows() {
    int y = 0;
    for (QWidget* row : rows_) {
        row->setGeometry(0, y, width(), row->height());
        y += row->height() + rowSpacing;
    }
}

}  // namespace calvoro
