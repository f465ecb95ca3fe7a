#pragma once

#include <QWidget>

class QVBoxLayout;

namespace calvoro {

// A titled group of settings rows on a rounded panel.
class SettingsGroup : public QWidget {
    Q_OBJECT
public:
    explicit SettingsGroup(const QString& title = QString(), QWidget* parent = nullptr);
    void addRow(QWidget* row);
    // The panel that holds the rows.
    QWidget* content() const { return content_; }
    static QColor fill(bool dark);

private:
    QWidget* content_;
    QVBoxLayout* rows_;
};

}  // namespace calvoro
