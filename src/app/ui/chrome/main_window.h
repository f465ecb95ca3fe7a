#pragma once

#include <QPointer>
#include <QWidget>

namespace calvoro {

class ConversionViewModel;
class WindowAccessor;

// The one window: frameless, its content reaching the top edge under its own window buttons,
// drawn in the view model's appearance and accent.
class MainWindow : public QWidget {
    Q_OBJECT
public:
    explicit MainWindow(ConversionViewModel& viewModel);

    static constexpr QSize minimumContentSize{820, 640};
    static constexpr QSize defaultSize{980, 720};

    // The content fills the window beneath the window buttons; the window takes ownership.
    void setContentView(QWidget* content);
    WindowAccessor* accessor() const { return accessor_; }
    ConversionViewModel& viewModel() const { return viewModel_; }

signals:
    // The user closed the window: the program ends.
    void closed();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void applyAppearance();

    ConversionViewModel& viewModel_;
    WindowAccessor* accessor_;
    QPointer<QWidget> content_;
};

}  // namespace calvoro
