#pragma once

#include <QWidget>

class QLabel;

namespace calvoro {

// One settings line: a title with an optional help line under it, and a trailing control;
// optionally a hairline below, indented from the leading edge.
class SettingsRow : public QWidget {
    Q_OBJECT
public:
    SettingsRow(const QString& title, const QString& sub, bool divider, QWidget* control, QWidget* parent = nullptr);
    void setSub(const QString& sub);
    QString title() const;
    QString sub() const;
    bool hasDivider() const { return divider_; }
    QWidget* control() const { return control_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void applyColours();

    QLabel* title_;
    QLabel* sub_;
    bool divider_;
    QWidget* control_;
};

}  // namespace calvoro
