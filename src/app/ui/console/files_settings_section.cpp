#include "app/ui/console/files_settings_section.h"

#include <QCoreApplication>
#include <QDir>
#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QPainter>
#include <QPointer>
#include <QVBoxLayout>

#include "app/state/conversion_view_model.h"
#include "app/ui/console/settings_controls.h"
#include "app/ui/console/settings_group.h"
#include "app/ui/console/settings_row.h"
#include "app/ui/console/text_button.h"
#include "app/ui/theme/focus_ring.h"
#include "app/ui/controls/hover_button.h"
#include "app/ui/theme/symbols.h"
#include "app/ui/theme/theme.h"
#include "core/folder_access.h"
#include "core/text_util.h"

namespace calvoro {

namespace {

// The "Choose…"/"Change…" button: a text on a faint rounded chip.
class ChooseButton : public HoverButton {
public:
    explicit ChooseButton(QWidget* parent) : HoverButton(parent) {
        setFont(Theme::font(12));
        setCursor(Qt::PointingHandCursor);
        FocusRing::setShape(this, 6);
    }
    void setText(const QString& label) {
        setLabel(label);
        updateGeometry();
    }
    QSize sizeHint() const override {
        const double width = QFontMetricsF(font()).horizontalAdvance(text()) + 20;
        return {static_cast<int>(std::ceil(width)), 22};
    }

protected:
    void paintEvent(QPaintEvent*) override {
        const ColorScheme scheme = Theme::scheme(this);
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.fillPath(Theme::continuousRoundedRect(QRectF(rect()), 6),
                             scheme == ColorScheme::dark ? rgbColor(0xFFFFFF, 0.09) : rgbColor(0x000000, 0.11));
        painter.setFont(font());
        painter.setPen(Theme::textPrimary(scheme));
        painter.drawText(rect(), Qt::AlignCenter, text());
    }
};

class RevealFolderButton : public HoverButton {
public:
    explicit RevealFolderButton(QWidget* parent) : HoverButton(parent) {
        setFixedSize(18, 22);
        setToolTip(tr("Show in Files"));
        setAccessibleName(tr("Show in Files"));
        setCursor(Qt::PointingHandCursor);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        Symbols::paint(painter, QRectF(rect()), "arrow.up.forward.app", 12, QFont::Medium, Theme::textTertiary(Theme::scheme(this)));
    }
};

}  // namespace

QString FilesSettingsSection::abbreviatedPath(const std::string& path) {
    const QString text = QString::fromStdString(path);
    const QString home = QDir::homePath();
    if (text == home) return QStringLiteral("~");
    if (!home.isEmpty() && home != "/" && text.startsWith(home + "/")) return QStringLiteral("~") + text.mid(home.size());
    return text;
}

FilesSettingsSection::FilesSettingsSection(ConversionViewModel& viewModel, QWidget* parent)
    : QWidget(parent), viewModel_(viewModel) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(18);

    auto* output = new SettingsGroup(tr("Output"), this);
    auto* controls = new QWidget;
    auto* controlRow = new QHBoxLayout(controls);
    controlRow->setContentsMargins(0, 0, 0, 0);
    controlRow->setSpacing(6);
    reveal_ = new RevealFolderButton(controls);
    connect(reveal_, &QAbstractButton::clicked, this, [this] { viewModel_.openOutputDirectory(); });
    choose_ = new ChooseButton(controls);
    connect(choose_, &QAbstractButton::clicked, this, [this] {
        if (const auto folder = viewModel_.presentOutputFolderPanel()) viewModel_.applyGlobalOutputDirectory(*folder);
    });
    controlRow->addWidget(reveal_);
    controlRow->addWidget(choose_);
    outputRow_ = new SettingsRow(tr("Output folder"), QString(), false, controls);
    output->addRow(outputRow_);
    column->addWidget(output);

    auto* originals = new SettingsGroup(tr("Originals"), this);
    keep_ = new SettingsSwitch(viewModel_, viewModel_.keepOriginals());
    connect(keep_, &QAbstractButton::toggled, this, [this](bool on) { viewModel_.setKeepOriginals(on); });
    keepRow_ = new SettingsRow(tr("Keep original files"), QString(), false, keep_);
    originals->addRow(keepRow_);
    column->addWidget(originals);

    for (auto signal : {&ConversionViewModel::outputDirectoryChanged, &ConversionViewModel::hasChosenOutputLocationChanged,
                        &ConversionViewModel::keepOriginalsChanged})
        connect(&viewModel_, signal, this, &FilesSettingsSection::refresh);
    // The folder list may change from elsewhere (a conversion that asked for a folder).
    QPointer<FilesSettingsSection> self(this);
    FolderAccess::shared().setObserver([self] {
        QMetaObject::invokeMethod(qApp, [self] {
            if (self) self->rebuildAccess();
        }, Qt::QueuedConnection);
    });
    refresh();
    rebuildAccess();
}

FilesSettingsSection::~FilesSettingsSection() { FolderAccess::shared().setObserver({}); }

void FilesSettingsSection::refresh() {
    const bool chosen = viewModel_.hasChosenOutputLocation();
    outputRow_->setSub(chosen ? abbreviatedPath(viewModel_.outputDirectory().string())
                              : tr("Pick where converted files are saved."));
    reveal_->setVisible(chosen);
    static_cast<ChooseButton*>(choose_)->setText(chosen ? tr("Change…") : tr("Choose…"));
    {
        const QSignalBlocker block(keep_);
        keep_->setChecked(viewModel_.keepOriginals());
    }
    keepRow_->setSub(viewModel_.keepOriginals() ? tr("Originals are left exactly where they are.")
                                                : tr("Originals move to the Trash after a successful conversion."));
}

void FilesSettingsSection::removeFolder(const std::string& path) {
    // Drops the bookmark and any access held: a later conversion into the folder asks again.
    FolderAccess::shared().revoke(path);
    rebuildAccess();
}

void FilesSettingsSection::rebuildAccess() {
    if (access_) {
        access_->hide();
        access_->setParent(nullptr);
        access_->deleteLater();
        access_ = nullptr;
    }
    const auto paths = FolderAccess::shared().authorizedPaths();
    if (paths.empty()) return;
    access_ = new SettingsGroup(tr("Folder access"), this);
    for (size_t i = 0; i < paths.size(); ++i) {
        const std::string path = paths[i];
        auto* remove = new TextButton(tr("Remove"), 11.5, false);
        connect(remove, &QAbstractButton::clicked, this, [this, path] { removeFolder(path); });
        access_->addRow(new SettingsRow(QString::fromStdString(lastPathComponent(path)), abbreviatedPath(path),
                                        i + 1 < paths.size(), remove));
    }
    static_cast<QVBoxLayout*>(layout())->addWidget(access_);
}

}  // namespace calvoro
